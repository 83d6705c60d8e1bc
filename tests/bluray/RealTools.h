#pragma once

// The real third-party tools (tsMuxeR, the JM decoder) and the Blu-ray 3D
// reference clips, for tests that run the program the way a user's machine
// does. Each lookup says why it found nothing, so a test can skip with that.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::bluray::test {

/// The tools scripts/build-tools made, found through
/// KESTROVA_THIRD_PARTY_PREFIX.
struct RealTools {
  std::filesystem::path ldecod;
  std::filesystem::path tsmuxer;
};
std::optional<RealTools> findRealTools(std::string &whyNot);

/// The folder of reference clips: $KESTROVA_BLURAY_TESTDATA, else
/// shared/testdata/bluray beside the source tree (or one folder further up,
/// for a worktree).
std::optional<std::filesystem::path> findClips(std::string &whyNot);

/// What a test needs beside the tools and the clips.
struct AlsoNeeded {
  bool discImages = false; ///< genisoimage
  bool validator = false;  ///< the MV-HEVC validator's ffmpeg
  bool display = false;    ///< an X display for the window ($DISPLAY)
};
/// Finds the tools and the clips (and what else `also` names), or says in
/// `whyNot` what is missing. Under CI, where everything is installed, a
/// missing piece is a failure of the calling test as well.
bool findRealSetup(std::optional<RealTools> &tools, std::optional<std::filesystem::path> &clips, std::string &whyNot,
                   AlsoNeeded also = {});

/// clip24's views `repeats` times over (each repeat starts at an IDR
/// picture) with `audioSeconds` of AC-3 sound at `tone` Hz, muxed by the real
/// tsMuxeR into clipN.m2ts (N pictures) under the build tree: made once, kept.
std::filesystem::path repeatedClip(const RealTools &tools, const std::filesystem::path &clips, int repeats,
                                   int audioSeconds, int tone);

/// A disc folder (BDMV, playlist 00800) of repeatedClip(tools, clips,
/// `repeats`, `repeats`, 1000), made once beside it.
std::filesystem::path repeatedDisc(const RealTools &tools, const std::filesystem::path &clips, int repeats);

/// The JM decoder's pictures of the two views of clip24-views.264 (yuv420p,
/// 1920x1080, 24 each), the references a conversion's halves must match.
/// Decoded once into a cache under the build tree and kept there.
struct ReferenceViews {
  std::vector<std::uint8_t> left, right;
};
const ReferenceViews &referenceViews(const RealTools &tools, const std::filesystem::path &clips);

/// Each eye of `pictures` (side by side, 2 x 1920 wide, 1080 high, 24
/// pictures) is the view it should be, and clearly not the other one; a
/// right-first source (`viewsSwapped`) shows its base view on the right.
void expectEyesInPlace(const ReferenceViews &reference, const std::vector<std::uint8_t> &pictures, bool viewsSwapped,
                       const std::string &what);

/// How the program goes from the two views to a side-by-side file; each
/// follows from which helpers sit in its tools folder.
enum class Variant { dualSplitParallel, parallel, fifo, pipeFromFile, diskBased };
const char *variantName(Variant variant);

/// A private installation of the built program, `root`/bin/kestrova with a
/// tools folder holding the real tsMuxeR and JM decoder and just the helpers
/// that make it choose `variant`. The pipe-from-file variant is reached the
/// way a file system without FIFOs reaches it: tsMuxeR, after its demux,
/// leaves a folder where the FIFO would go. With `fastDecoder`, edge264-pipe
/// too, where it is built; without it the JM decoder decodes.
std::filesystem::path installProgram(const std::filesystem::path &root, const RealTools &tools, Variant variant,
                                     bool fastDecoder = false);

/// Frames, duration and streams of a media file, as ffprobe reads them.
struct MediaFacts {
  int videoFrames = 0;
  double videoSeconds = 0;
  int width = 0, height = 0;
  bool hasAudio = false;
  /// Start and length of the first video and audio streams, in seconds.
  double videoStart = 0, audioStart = 0, audioSeconds = 0;
};
MediaFacts probeMedia(const std::filesystem::path &file);

/// The pictures of `file`'s first video stream as raw yuv420p.
std::vector<std::uint8_t> decodePictures(const std::filesystem::path &file, const std::filesystem::path &scratch);

/// The left (`half` 0) or right (1) half of every picture of side-by-side
/// yuv420p pictures `width` (the whole picture's) x `height`.
std::vector<std::uint8_t> halfOf(const std::vector<std::uint8_t> &pictures, int width, int height, int half);

/// Pictures `left` and `right` (yuv420p, each `width` x `height`) side by side.
std::vector<std::uint8_t> sideBySide(const std::vector<std::uint8_t> &left, const std::vector<std::uint8_t> &right,
                                     int width, int height);

std::vector<std::uint8_t> readBytes(const std::filesystem::path &path);

/// Processes, other than this one, whose command line mentions `path`.
std::vector<int> processesMentioning(const std::filesystem::path &path);

} // namespace kestrova::bluray::test
