// The playlist reader on playlists the real tsMuxeR wrote.
#include "disc/Playlist.h"
#include "core/Errors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::disc {
namespace {

std::string recorded(const std::string &name) {
  return kestrova::test::readFile(std::filesystem::path(KESTROVA_DISC_TEST_DATA) / name);
}

// The 3D playlist with its base-view-is-right flag set, as tsmuxer --right-eye writes it.
std::string rightFirst(std::string bytes) {
  bytes[56] = static_cast<char>(bytes[56] | 0x10);
  return bytes;
}

struct Row {
  const char *what;
  std::string bytes;
  bool stereo, baseViewIsRight;
  std::vector<std::string> dependentClips;
};

TEST(Playlist, ReadsWhatTheRealPlaylistsSay) {
  const Row rows[] = {
      {"3D", recorded("3d-two-clips.mpls"), true, false, {"00002", "00004"}},
      {"3D right first", rightFirst(recorded("3d-two-clips.mpls")), true, true, {"00002", "00004"}},
      {"2D copy", recorded("2d-copy.mpls"), false, false, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    const Playlist playlist = readPlaylist(row.bytes);
    EXPECT_EQ(playlist.stereo, row.stereo);
    EXPECT_EQ(playlist.baseViewIsRight, row.baseViewIsRight);
    EXPECT_EQ(playlist.dependentClips, row.dependentClips);
    ASSERT_EQ(playlist.items.size(), 2u);
    EXPECT_EQ(playlist.items[0].clip, "00001");
    EXPECT_EQ(playlist.items[1].clip, "00003");
    // 10 + 14 pictures at 24000/1001 per second
    EXPECT_NEAR(playlist.duration(), 24 * 1001.0 / 24000.0, 0.05);
    EXPECT_EQ(playlist.videoFormat, 6);
    EXPECT_EQ(frameRateOfCode(playlist.frameRateCode), (std::pair{24000, 1001}));
    ASSERT_EQ(playlist.audio.size(), 2u);
    EXPECT_EQ(playlist.audio[1].codingType, 0x82); // DTS; the languages reach the converted disc's tracks
    ASSERT_EQ(playlist.subtitles.size(), 2u);
    EXPECT_EQ(playlist.subtitles[0].language, "eng");
    EXPECT_EQ(playlist.subtitles[1].language, "fra");
    EXPECT_EQ(playlist.subtitles[0].pid, 0x1200);
    // Only the 3D playlist has planes: English on plane 0, French on none.
    EXPECT_EQ(playlist.subtitles[0].offsetSequence, row.stereo ? std::optional<int>(0) : std::nullopt);
    EXPECT_EQ(playlist.subtitles[1].offsetSequence, std::nullopt);
    ASSERT_EQ(playlist.chapters.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
      EXPECT_NEAR(playlist.chapters[i], 0.25 * static_cast<double>(i), 0.01) << i;
  }
}

TEST(Playlist, ACutOrDamagedPlaylistIsRefusedNotMisread) {
  const std::string bytes = recorded("3d-two-clips.mpls");
  for (std::size_t length = 0; length < bytes.size(); length += 7) {
    try {
      readPlaylist(bytes.substr(0, length));
    } catch (const SourceError &) {
    }
  }
  std::string wrongMagic = bytes;
  wrongMagic[0] = 'X';
  EXPECT_THROW(readPlaylist(wrongMagic), SourceError);
}

} // namespace
} // namespace kestrova::disc
