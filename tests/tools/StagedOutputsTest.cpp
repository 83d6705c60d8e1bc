// Outputs under temporary names, on the file systems users write to: the
// test's own and, as root, exFAT through FUSE on a loop image (where the
// kernel's no-replace rename may be missing).
#include "tools/StagedOutputs.h"
#include "core/Errors.h"
#include "support/RealMedia.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

TEST(StagedOutputs, TemporaryNamesStayWithinTheNameLimitAndKeepTheExtension) {
  const std::string longStem(250, 'a');
  const std::string accented = std::string(240, 'b') + "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"; // 252 bytes
  for (const std::string &stem : {std::string("clip_SBS"), longStem, accented}) {
    fs::path temporary = temporaryOutputPath("/out/" + stem + ".mkv", "Kestrova_0000ABCD");
    std::string name = temporary.filename().string();
    EXPECT_LE(name.size(), kMaxFileNameBytes) << stem.size();
    EXPECT_TRUE(name.starts_with(".Kestrova_0000ABCD-"));
    EXPECT_EQ(temporary.extension(), ".mkv");
    EXPECT_EQ(temporary.parent_path(), "/out");
    EXPECT_NE(static_cast<unsigned char>(name[name.size() - 14]), 0xC3) << "a character was cut in two";
  }
  // A film's MV-HEVC file and its side-by-side file differ only past the cut.
  const std::string film(240, 'f');
  EXPECT_NE(temporaryOutputPath("/out/" + film + ".mov", "Kestrova_0000ABCD"),
            temporaryOutputPath("/out/" + film + "_SBS.mov", "Kestrova_0000ABCD"));
}

TEST(StagedOutputs, CommitNeverReplacesUnlessAllowedAndUncommittedFilesGo) {
  TempDir dir;
  std::string why;
  const auto exfat = test::ExfatMount::create(dir.path(), 8, why);
  std::vector<fs::path> folders{dir / "plain"};
  if (exfat)
    folders.push_back(exfat->path());
  fs::create_directories(dir / "plain");
  for (const auto &folder : folders) {
    SCOPED_TRACE(folder.string());
    const fs::path output = folder / "clip_SBS.mkv";
    test::writeFile(output, "the user's");
    fs::path first;
    {
      StagedOutputs staged("Kestrova_00000001", false);
      first = staged.stage(output);
      test::writeFile(first, "new");
      // The converter's own copy, left when it was killed, and another run's.
      test::writeFile(folder / ("." + first.filename().string() + ".partial-4242"), "killed");
      test::writeFile(folder / "..Kestrova_00000009-clip_SBS.mkv.partial-7", "another run's");
      EXPECT_THROW(staged.commit(), OutputExistsError);
    }
    EXPECT_EQ(test::readFile(output), "the user's");
    EXPECT_FALSE(fs::exists(first)) << "an uncommitted file is removed";
    EXPECT_FALSE(fs::exists(folder / ("." + first.filename().string() + ".partial-4242")));
    EXPECT_TRUE(fs::remove(folder / "..Kestrova_00000009-clip_SBS.mkv.partial-7")) << "another run's is kept";
    {
      StagedOutputs staged("Kestrova_00000002", true);
      test::writeFile(staged.stage(output), "new");
      staged.commit();
    }
    EXPECT_EQ(test::readFile(output), "new");
    {
      StagedOutputs staged("Kestrova_00000003", true);
      test::writeFile(staged.stage(folder / "empty.mkv"), "");
      EXPECT_THROW(staged.commit(), ConversionError) << "an empty output is a failure";
    }
    fs::remove(output);
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

// The output folder changed under a finished run: never a success for a file
// that is not there, and a finished file left hidden is named.
TEST(StagedOutputs, CommitFailsNamingTheFileWhenTheFolderChangedUnderIt) {
  struct Row {
    const char *what;
    std::function<void(const fs::path &folder, const fs::path &temporary)> change;
    const char *said;           // a word the message must hold
    bool finishedFileNamedKept; // a refused rename keeps the finished file and says where
  };
  const bool root = ::geteuid() == 0;
  std::vector<Row> rows = {
      {"folder renamed",
       [](const fs::path &folder, const fs::path &) { fs::rename(folder, folder.string() + "-moved"); },
       "moved or removed", false},
      {"folder removed", [](const fs::path &folder, const fs::path &) { fs::remove_all(folder); }, "moved or removed",
       false},
      {"temporary file removed", [](const fs::path &, const fs::path &temporary) { fs::remove(temporary); }, "is gone",
       false},
  };
  if (root)
    rows.push_back({"folder made read-only",
                    [](const fs::path &folder, const fs::path &) {
                      ASSERT_EQ(::mount("none", folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
                    },
                    "Read-only", true});
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const fs::path folder = dir / "o";
    fs::create_directories(folder);
    if (row.finishedFileNamedKept) {
      ASSERT_EQ(::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr), 0);
    }
    std::string message;
    fs::path temporary;
    {
      StagedOutputs staged("Kestrova_00000004", false);
      temporary = staged.stage(folder / "clip_SBS.mkv");
      test::writeFile(temporary, "finished");
      row.change(folder, temporary);
      try {
        staged.commit();
        ADD_FAILURE() << "committed";
      } catch (const Error &error) {
        message = error.what();
      }
    }
    EXPECT_NE(message.find("clip_SBS.mkv"), std::string::npos) << message;
    EXPECT_NE(message.find(row.said), std::string::npos) << message;
    if (row.finishedFileNamedKept) {
      EXPECT_NE(message.find(temporary.string()), std::string::npos) << message;
      EXPECT_EQ(test::readFile(temporary), "finished");
      ::umount(folder.c_str());
    }
  }
}

} // namespace
} // namespace kestrova::tools
