#include "ModelTestSupport.h"

#include "app/UserDirectories.h"

#include <gtest/gtest.h>

namespace kestrova::test {
namespace {

namespace fs = std::filesystem;
using app::ConverterModel;

struct QueueFixture : ModelFixture {
  QueueFixture() {
    for (const char *name : {"a.mkv", "b.m2ts", "c.MKV"}) {
      fs::path file = source(name, 3'500'000);
      (*analyses)[file] = sideBySideInfo(file);
    }
    model = make();
    model->loadSettings();
  }
  fs::path file(const char *name) const { return dir / "sources" / name; }
  void settle(std::size_t analysed) {
    ASSERT_TRUE(executor->drainUntil([&] { return !model->isParsing() && model->fileInfoMap().size() >= analysed; }));
  }
  std::shared_ptr<ConverterModel> model;
};

TEST(FileQueue, AddsSupportedFilesOnceInOrderAndSelectsTheFirst) {
  QueueFixture f;
  f.model->addFiles({f.file("a.mkv"), f.dir / "notes.txt", f.file("c.MKV"), f.file("a.mkv"), f.dir / "folder"});
  EXPECT_EQ(f.model->fileQueue(), (std::vector<fs::path>{f.file("a.mkv"), f.file("c.MKV")}));
  EXPECT_EQ(f.model->sourceFileURL(), f.file("a.mkv"));
  f.settle(2);
  EXPECT_EQ(f.model->sourceInfo(), sideBySideInfo(f.file("a.mkv")));

  f.model->addFiles({f.file("a.mkv")});
  EXPECT_EQ(f.model->fileQueue().size(), 2u);
}

TEST(FileQueue, RemovingEntriesKeepsOrMovesTheSelection) {
  QueueFixture f;
  f.model->addFiles({f.file("a.mkv"), f.file("b.m2ts"), f.file("c.MKV")});
  f.settle(3);
  f.model->removeFromQueue(1); // not selected
  EXPECT_EQ(f.model->sourceFileURL(), f.file("a.mkv"));
  EXPECT_FALSE(f.model->fileInfoMap().contains(f.file("b.m2ts")));
  f.model->removeFromQueue(5);
  f.model->removeFromQueue(-1);
  EXPECT_EQ(f.model->fileQueue().size(), 2u);

  f.model->removeFromQueue(0); // the selected file
  EXPECT_EQ(f.model->sourceFileURL(), f.file("c.MKV"));
  f.settle(1);
  EXPECT_EQ(f.model->sourceInfo()->url, f.file("c.MKV"));

  f.model->removeFromQueue(0); // the last one
  EXPECT_FALSE(f.model->sourceFileURL());
  EXPECT_FALSE(f.model->sourceInfo());
}

TEST(FileQueue, AnalysisOutcomesOfTheSelectedAndQueuedFiles) {
  QueueFixture f;
  fs::path flat = f.source("flat.mp4");
  (*f.analyses)[flat] = sideBySideInfo(flat, /*has3D=*/false);
  fs::path broken = f.source("broken.ts");

  f.model->selectFile(flat);
  f.settle(0);
  EXPECT_EQ(f.model->sourceFileURL(), flat);
  EXPECT_TRUE(f.model->sourceInfo());
  EXPECT_NE(f.model->errorMessage().value_or("").find("3D"), std::string::npos);

  f.model->selectFile(broken);
  f.settle(0);
  EXPECT_NE(f.model->errorMessage().value_or("").find("broken.ts"), std::string::npos);

  f.model->addFiles({broken});
  ASSERT_TRUE(f.executor->drainUntil([&] { return ModelFixture::logged(*f.model, "broken.ts"); }));
  EXPECT_EQ(f.model->fileQueue(), std::vector<fs::path>{broken});
}

TEST(FileQueue, ChooserAndDropOutcomes) {
  QueueFixture f;
  f.model->addFiles({f.file("a.mkv"), f.file("b.m2ts")});
  f.dialogs->files = {f.file("c.MKV")};
  f.model->browseForFiles();
  EXPECT_EQ(f.model->fileQueue(), std::vector<fs::path>{f.file("c.MKV")});
  f.dialogs->files = {f.file("a.mkv"), f.file("b.m2ts")};
  f.model->browseForFiles();
  EXPECT_EQ(f.model->fileQueue().size(), 3u);

  f.model->dropFiles({f.dir / "clip.avi"});
  EXPECT_TRUE(f.model->errorMessage());
  EXPECT_TRUE(f.model->fileQueue().empty());
  EXPECT_FALSE(f.model->sourceFileURL());

  // A Blu-ray disc folder is one source, chosen or dropped; another folder is none.
  fs::create_directories(f.dir / "FILM/BDMV/PLAYLIST");
  f.dialogs->directory = f.dir / "FILM";
  f.model->browseForDiscFolder();
  EXPECT_EQ(f.model->fileQueue(), std::vector<fs::path>{f.dir / "FILM"});
  fs::create_directories(f.dir / "holiday");
  f.model->dropFiles({f.dir / "holiday"});
  EXPECT_NE(f.model->errorMessage().value_or("").find("Blu-ray disc folder"), std::string::npos);
  // A shelf: the discs, images and rips it holds, one level down.
  const fs::path shelf = f.dir / "shelf";
  fs::create_directories(shelf / "Hugo 3D/BDMV/PLAYLIST");
  fs::create_directories(shelf / "extras");
  for (const char *name : {"Gravity.iso", "Avatar.mkv", "notes.txt", ".Kestrova_1-Avatar_SBS.mkv"})
    writeFile(shelf / name, "x");
  f.model->dropFiles({shelf});
  EXPECT_EQ(f.model->fileQueue(),
            (std::vector<fs::path>{shelf / "Avatar.mkv", shelf / "Gravity.iso", shelf / "Hugo 3D"}));

  f.dialogs->directory = f.dir / "chosen";
  f.model->chooseOutputDirectory();
  EXPECT_EQ(f.storedSettings()["outputDirectory"], (f.dir / "chosen").string());
  f.settle(0);
}

TEST(CommandLineHandOff, FilesAndOutputFolder) {
  struct Case {
    const char *name;
    std::vector<std::string> files; // under the sources folder
    std::optional<std::string> output;
    std::size_t queued;
    std::optional<std::string> stored; // relative to the scratch folder
    std::optional<std::string> error;
  };
  const Case cases[] = {
      // Without --output the window's own output folder stays.
      {"file only", {"a.mkv"}, std::nullopt, 1, std::nullopt, std::nullopt},
      {"file and output", {"a.mkv"}, "out", 1, "out", std::nullopt},
      {"output only", {}, "out", 0, std::nullopt, std::nullopt},
      {"unsupported file", {"a.txt"}, std::nullopt, 0, std::nullopt, "No supported video files found."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ModelFixture f;
    fs::path a = f.source("a.mkv");
    (*f.analyses)[a] = sideBySideInfo(a);
    for (const auto &file : c.files)
      f.environment.startFiles.push_back(f.dir / "sources" / file);
    if (c.output)
      f.environment.startOutputDirectory = f.dir / *c.output;
    auto model = f.make();
    model->loadSettings();
    model->handleCommandLineArguments();
    model->handleCommandLineArguments();
    EXPECT_EQ(model->fileQueue().size(), c.queued);
    EXPECT_EQ(model->errorMessage(), c.error);
    if (c.stored) {
      EXPECT_EQ(f.storedSettings()["outputDirectory"], (f.dir / *c.stored).string());
    } else {
      EXPECT_FALSE(f.storedSettings().contains("outputDirectory"));
    }
    f.executor->drainUntil([&] { return !model->isParsing(); });
  }
}

} // namespace
} // namespace kestrova::test

namespace kestrova::app {
namespace {

TEST(UserDirectories, ReadsTheUserDirsLine) {
  struct Case {
    const char *text;
    std::optional<std::filesystem::path> videos;
  };
  const Case cases[] = {
      {"# comment\nXDG_VIDEOS_DIR=\"$HOME/Vid\u00e9os\"\n", "/home/ana/Vid\u00e9os"},
      {"XDG_VIDEOS_DIR=\"/data/films\"", "/data/films"},
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"", std::nullopt},
      {"XDG_VIDEOS_DIR=$HOME/Unquoted", std::nullopt},
  };
  for (const auto &c : cases)
    EXPECT_EQ(userDirFromUserDirs(c.text, "XDG_VIDEOS_DIR", "/home/ana"), c.videos) << c.text;
}

} // namespace
} // namespace kestrova::app
