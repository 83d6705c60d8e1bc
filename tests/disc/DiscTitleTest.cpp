// Where an input lies on a disc, which playlist is taken, and the discs
// that are refused before any work: built from the real tsMuxeR playlists
// and stand-in clips.
#include "disc/DiscTitle.h"
#include "core/Errors.h"
#include "disc/DiscLocation.h"
#include "disc/TitleFiles.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrova::disc {
namespace {
namespace fs = std::filesystem;
using testing::HasSubstr;

std::string recorded(const std::string &name) {
  return kestrova::test::readFile(fs::path(KESTROVA_DISC_TEST_DATA) / name);
}

// Transport stream packets as a decrypted clip has them: a 4-byte header, then 0x47.
std::string clipBytes() {
  std::string bytes(192 * 64, '\0');
  for (std::size_t at = 4; at < bytes.size(); at += 192)
    bytes[at] = 0x47;
  return bytes;
}

// The real clip information, its packet count made the stand-in clips' 64.
std::string clipInfo() {
  std::string bytes = recorded("3d-clip.clpi");
  bytes.replace(56, 4, std::string("\0\0\0\x40", 4));
  return bytes;
}

// A disc folder: the 3D film 00800 (clips 1-4), its 2D copy 00801.
fs::path makeDisc(const fs::path &root) {
  kestrova::test::writeFile(root / "BDMV/PLAYLIST/00800.mpls", recorded("3d-two-clips.mpls"));
  kestrova::test::writeFile(root / "BDMV/PLAYLIST/00801.mpls", recorded("2d-copy.mpls"));
  for (const char *clip : {"00001", "00002", "00003", "00004"}) {
    kestrova::test::writeFile(root / "BDMV/STREAM" / (std::string(clip) + ".m2ts"), clipBytes());
    kestrova::test::writeFile(root / "BDMV/CLIPINF" / (std::string(clip) + ".clpi"), clipInfo());
  }
  kestrova::test::writeFile(root / "BDMV/STREAM/SSIF/00001.ssif", clipBytes() + clipBytes());
  return root;
}

TEST(DiscLocation, EveryFormOfADiscInputNamesTheDisc) {
  kestrova::test::TempDir dir;
  const fs::path disc = makeDisc(dir / "MY_FILM");
  kestrova::test::writeFile(dir / "lone/00001.m2ts", clipBytes());
  kestrova::test::writeFile(dir / "film.iso", "");
  using Kind = DiscLocation::Kind;
  struct Row {
    fs::path input;
    Kind kind;
    fs::path container;
    std::optional<int> playlist;
    std::optional<std::string> clip;
  };
  const Row rows[] = {
      {disc, Kind::folder, disc, {}, {}},
      {disc / "BDMV", Kind::folder, disc, {}, {}},
      {disc / "BDMV/", Kind::folder, disc, {}, {}},
      {disc / "BDMV/PLAYLIST/00801.mpls", Kind::folder, disc, 801, {}},
      {disc / "BDMV/STREAM/00003.m2ts", Kind::folder, disc, {}, "00003"},
      {disc / "BDMV/STREAM/SSIF/00001.ssif", Kind::folder, disc, {}, "00001"},
      {disc / "BDMV/STREAM/SSIF", Kind::folder, disc, {}, {}},
      {dir / "lone/00001.m2ts", Kind::plainFile, dir / "lone/00001.m2ts", {}, {}},
      {dir / "film.iso", Kind::image, dir / "film.iso", {}, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.input.string());
    const DiscLocation location = locateDisc(row.input);
    EXPECT_EQ(location.kind, row.kind);
    EXPECT_EQ(location.container, row.container);
    EXPECT_EQ(location.playlist, row.playlist);
    EXPECT_EQ(location.clip, row.clip);
  }
  EXPECT_THROW(locateDisc(dir / "lone"), SourceError) << "a folder without BDMV was taken for a disc";
  try {
    locateDisc(dir.path());
    ADD_FAILURE() << "a folder of discs was taken for one";
  } catch (const SourceError &error) {
    EXPECT_THAT(error.what(), HasSubstr("the discs in it are \"" + (dir / "MY_FILM").string() + "\", \"" +
                                        (dir / "film.iso").string() + "\": choose one"));
  }
}

TEST(DiscTitle, TakesTheLongest3DPlaylistAndNeverTheDecoy) {
  kestrova::test::TempDir dir;
  const fs::path disc = makeDisc(dir / "MY_FILM");
  const auto files = openDiscFolder(disc);
  const DiscTitle title = planDiscTitle(*files, locateDisc(disc), std::nullopt);
  EXPECT_EQ(title.number, 800);
  EXPECT_EQ(title.name, "MY_FILM");
  EXPECT_EQ(title.candidates, (std::vector<TitleCandidate>{{800, title.playlist.duration(), true}}));
  EXPECT_FALSE(title.fromClip);
  EXPECT_EQ(titleFiles(*files, title, dir.path()).playlist, disc / "BDMV/PLAYLIST/00800.mpls");

  // A clip of the film, even one played only as the dependent view, converts the whole film.
  for (const char *clip : {"00003", "00004"}) {
    const DiscTitle fromClip =
        planDiscTitle(*files, locateDisc(disc / "BDMV/STREAM" / (std::string(clip) + ".m2ts")), std::nullopt);
    EXPECT_EQ(fromClip.number, 800);
    EXPECT_EQ(fromClip.fromClip, clip);
  }
  EXPECT_TRUE(title.rivals.empty());
  // A copy as long that plays the clips in another order, as some discs hide the film among: named, unless asked for.
  std::string swapped = recorded("3d-two-clips.mpls");
  for (auto [a, b] : {std::pair{"00001M2TS", "00003M2TS"}, std::pair{"00002M2TS", "00004M2TS"}}) {
    const auto at = swapped.find(a), bt = swapped.find(b);
    swapped.replace(at, 9, b).replace(bt, 9, a);
  }
  kestrova::test::writeFile(disc / "BDMV/PLAYLIST/00802.mpls", swapped);
  EXPECT_EQ(planDiscTitle(*files, locateDisc(disc), std::nullopt).rivals, std::vector<int>{802});
  EXPECT_TRUE(planDiscTitle(*files, locateDisc(disc), 800).rivals.empty());
  fs::remove(disc / "BDMV/PLAYLIST/00802.mpls");

  // A clip no 3D playlist plays (an extra) does not stand for the film.
  kestrova::test::writeFile(disc / "BDMV/STREAM/00009.m2ts", clipBytes());
  EXPECT_THROW(planDiscTitle(*files, locateDisc(disc / "BDMV/STREAM/00009.m2ts"), std::nullopt), SourceError);
}

TEST(DiscTitle, AClipTheCopyLacksIsReadFromItsPlayItemsSsifFile) {
  struct Row {
    std::vector<const char *> removed;
    std::vector<std::string> streamFiles, clipsInSsif;
  };
  const Row rows[] = {
      {{"00002"}, {"BDMV/STREAM/SSIF/00001.ssif", "BDMV/STREAM/00003.m2ts", "BDMV/STREAM/00004.m2ts"}, {"00002"}},
      {{"00001", "00002"},
       {"BDMV/STREAM/SSIF/00001.ssif", "BDMV/STREAM/00003.m2ts", "BDMV/STREAM/00004.m2ts"},
       {"00001", "00002"}},
  };
  for (const auto &row : rows) {
    kestrova::test::TempDir dir;
    const fs::path disc = makeDisc(dir / "disc");
    for (const char *clip : row.removed)
      fs::remove(disc / "BDMV/STREAM" / (std::string(clip) + ".m2ts"));
    const auto files = openDiscFolder(disc);
    const DiscTitle title = planDiscTitle(*files, locateDisc(disc), std::nullopt);
    EXPECT_EQ(title.streamFiles, row.streamFiles);
    EXPECT_EQ(title.clipsInSsif, row.clipsInSsif);
  }
}

TEST(DiscTitle, DiscsThatCannotBeConvertedAreRefusedWithTheReason) {
  struct Row {
    const char *what;
    std::function<void(const fs::path &)> spoil;
    std::optional<int> wanted;
    const char *message;
  };
  const Row rows[] = {
      {"the 2D playlist asked for", [](const fs::path &) {}, 801,
       "00801.mpls is not a 3D playlist; the disc's 3D film is 00800.mpls"},
      {"a playlist the disc lacks", [](const fs::path &) {}, 5, "no playlist 00005.mpls"},
      {"no 3D playlist", [](const fs::path &d) { fs::remove(d / "BDMV/PLAYLIST/00800.mpls"); }, std::nullopt,
       "no 3D playlist on this disc; its longest playlist, 00801.mpls"},
      {"a missing clip", [](const fs::path &d) { fs::remove(d / "BDMV/STREAM/00004.m2ts"); }, std::nullopt,
       "BDMV/STREAM/00004.m2ts, which is missing"},
      {"an encrypted disc",
       [](const fs::path &d) {
         kestrova::test::writeFile(d / "AACS/Unit_Key_RO.inf", "keys");
         std::string scrambled = clipBytes();
         for (std::size_t at = 16; at < scrambled.size(); ++at)
           scrambled[at] = static_cast<char>(at * 37);
         kestrova::test::writeFile(d / "BDMV/STREAM/00003.m2ts", scrambled);
       },
       std::nullopt, "this disc is encrypted; Kestrova reads decrypted discs only"},
      // as a copy that stopped part way leaves it, directly or inside the SSIF file read in its place
      {"a clip cut short",
       [](const fs::path &d) { kestrova::test::writeFile(d / "BDMV/STREAM/00003.m2ts", clipBytes().substr(0, 6144)); },
       std::nullopt, "the clip BDMV/STREAM/00003.m2ts of"},
      {"a clip cut short by a FAT32 drive",
       [](const fs::path &d) {
         std::string info = clipInfo();
         info.replace(56, 4, std::string("\x01\x60\0\0", 4)); // 4.2 GB
         kestrova::test::writeFile(d / "BDMV/CLIPINF/00003.clpi", info);
         fs::resize_file(d / "BDMV/STREAM/00003.m2ts", (std::uint64_t{4} << 30) - 1); // sparse
       },
       std::nullopt, "It stops at 4 GiB, the most a FAT32 drive holds in one file"},
      {"an SSIF file cut short",
       [](const fs::path &d) {
         fs::remove(d / "BDMV/STREAM/00002.m2ts");
         fs::resize_file(d / "BDMV/STREAM/SSIF/00001.ssif", 192 * 100);
       },
       std::nullopt, "BDMV/STREAM/SSIF/00001.ssif of"},
      {"a clip that is not a transport stream",
       [](const fs::path &d) { kestrova::test::writeFile(d / "BDMV/STREAM/00002.m2ts", "not video"); }, std::nullopt,
       "BDMV/STREAM/00002.m2ts"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    kestrova::test::TempDir dir;
    const fs::path disc = makeDisc(dir / "disc");
    row.spoil(disc);
    try {
      planDiscTitle(*openDiscFolder(disc), locateDisc(disc), row.wanted);
      ADD_FAILURE() << "accepted";
    } catch (const SourceError &error) {
      EXPECT_THAT(error.what(), HasSubstr(row.message));
    }
  }
}

// A UDF image is read without mounting it; what tsMuxeR needs is copied out.
TEST(DiscImage, ReadsAUdfImageAndRefusesOtherImages) {
  kestrova::test::TempDir dir;
  const fs::path disc = makeDisc(dir / "disc");
  const int made = std::system(("genisoimage -quiet -udf -iso-level 3 -V FILM_3D -o " + (dir / "film.iso").string() +
                                " " + disc.string() + " && " + "genisoimage -quiet -iso-level 3 -o " +
                                (dir / "plain.iso").string() + " " + disc.string())
                                   .c_str());
  if (made != 0) {
    if (const char *ci = std::getenv("CI"); ci && std::string(ci) == "true")
      FAIL() << "genisoimage is missing";
    GTEST_SKIP() << "genisoimage is missing";
  }
  const auto image = openDiscImage(dir / "film.iso");
  const DiscTitle title = planDiscTitle(*image, locateDisc(dir / "film.iso"), std::nullopt);
  EXPECT_EQ(title.number, 800);
  EXPECT_EQ(title.name, "FILM_3D");
  fs::create_directories(dir / "work");
  const TitleFiles copied = titleFiles(*image, title, dir / "work");
  EXPECT_EQ(copied.playlist, dir / "work/disc/BDMV/PLAYLIST/00800.mpls");
  EXPECT_EQ(kestrova::test::readFile(copied.playlist), recorded("3d-two-clips.mpls"));
  for (const char *clip : {"00001", "00002", "00003", "00004"})
    EXPECT_EQ(kestrova::test::readFile(dir / "work/disc/BDMV/STREAM" / (std::string(clip) + ".m2ts")), clipBytes());
  EXPECT_EQ(copied.copiedBytes, 4 * (clipBytes().size() + clipInfo().size()) + recorded("3d-two-clips.mpls").size());

  // An image cut short anywhere (a copy or download that stopped): the film
  // is read whole or refused, and a cut through a clip is named as such.
  const std::string whole = kestrova::test::readFile(dir / "film.iso");
  int cutShort = 0;
  // (past the UDF anchor at block 256; an image without it is not one)
  for (std::size_t end = 260 * 2048; end < whole.size(); end += 4 * 2048) {
    SCOPED_TRACE(end);
    kestrova::test::writeFile(dir / "cut.iso", whole.substr(0, end));
    try {
      const auto cut = openDiscImage(dir / "cut.iso");
      const DiscTitle cutTitle = planDiscTitle(*cut, locateDisc(dir / "cut.iso"), std::nullopt);
      fs::remove_all(dir / "cutwork");
      fs::create_directories(dir / "cutwork");
      EXPECT_EQ(titleFiles(*cut, cutTitle, dir / "cutwork").copiedBytes, copied.copiedBytes);
    } catch (const SourceError &error) {
      // (this small image keeps its directories at its end, where a cut
      // leaves no playlist or no volume to name)
      cutShort += std::string(error.what()).find("is cut short: it ends") != std::string::npos;
    }
  }
  EXPECT_GT(cutShort, 0);

  kestrova::test::writeFile(dir / "damaged.iso", std::string(1 << 20, '\x5a'));
  for (const char *name : {"plain.iso", "damaged.iso"})
    EXPECT_THROW(openDiscImage(dir / name), SourceError) << name;
}

} // namespace
} // namespace kestrova::disc
