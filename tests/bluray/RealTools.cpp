#include "RealTools.h"

#include <gtest/gtest.h>

#include "Validator.h"
#include "core/UniqueFd.h"
#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace kestrova::bluray::test {
namespace fs = std::filesystem;
using mvhevc::test::psnr;
using mvhevc::test::quote;
using mvhevc::test::run;

std::vector<std::uint8_t> readBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

bool executable(const fs::path &path) {
  return ::access(path.c_str(), X_OK) == 0;
}

void link(const fs::path &target, const fs::path &name) {
  fs::create_symlink(target, name);
}

} // namespace

std::optional<RealTools> findRealTools(std::string &whyNot) {
  const char *prefix = std::getenv("KESTROVA_THIRD_PARTY_PREFIX");
  if (prefix == nullptr || *prefix == '\0') {
    whyNot = "KESTROVA_THIRD_PARTY_PREFIX is not set (configure with the prefix scripts/build-tools prints)";
    return std::nullopt;
  }
  RealTools tools{fs::path(prefix) / "bin/ldecod", fs::path(prefix) / "bin/tsmuxer"};
  for (const auto &tool : {tools.ldecod, tools.tsmuxer})
    if (!executable(tool)) {
      whyNot = tool.string() + " is missing: run scripts/build-tools";
      return std::nullopt;
    }
  return tools;
}

std::optional<fs::path> findClips(std::string &whyNot) {
  std::vector<fs::path> candidates;
  if (const char *given = std::getenv("KESTROVA_BLURAY_TESTDATA"); given != nullptr && *given != '\0')
    candidates.emplace_back(given);
  const fs::path source = kestrova::test::sourceDir();
  candidates.push_back(source / "../shared/testdata/bluray");
  candidates.push_back(source / "../../shared/testdata/bluray");
  for (const auto &folder : candidates)
    if (fs::exists(folder / "clip24.m2ts") && fs::exists(folder / "clip24-views.264"))
      return fs::weakly_canonical(folder);
  whyNot = "no Blu-ray reference clips (set KESTROVA_BLURAY_TESTDATA to the folder with clip24.m2ts)";
  return std::nullopt;
}

bool findRealSetup(std::optional<RealTools> &tools, std::optional<fs::path> &clips, std::string &whyNot,
                   AlsoNeeded also) {
  tools = findRealTools(whyNot);
  clips = tools ? findClips(whyNot) : std::nullopt;
  bool found = tools && clips;
  if (found && also.discImages && std::system("command -v genisoimage >/dev/null") != 0)
    found = false, whyNot = "genisoimage is missing";
  if (found && also.display && std::getenv("DISPLAY") == nullptr)
    found = false, whyNot = "no X display (run it under xvfb-run, Debian package xvfb)";
  if (found && also.validator && !mvhevc::test::validatorFfmpeg())
    found = false, whyNot = "no MV-HEVC validator";
  if (!found && mvhevc::test::underCi())
    ADD_FAILURE() << whyNot;
  return found;
}

fs::path repeatedClip(const RealTools &tools, const fs::path &clips, int repeats, int audioSeconds, int tone) {
  const std::string name = "clip" + std::to_string(24 * repeats);
  const fs::path folder = kestrova::test::buildDir() / ("bluray-" + name), clip = folder / (name + ".m2ts");
  if (fs::exists(clip))
    return clip;
  fs::create_directories(folder);
  const std::string in = quote(folder.string()), views = quote((clips / "clip24-views.264").string());
  kestrova::test::writeFile(folder / "clip.meta", "MUXOPT --no-pcr-on-video-pid --new-audio-pes --vbr --vbv-len=500\n"
                                                  "V_MPEG4/ISO/AVC, \"base.264\", insertSEI, contSPS, fps=23.976\n"
                                                  "V_MPEG4/ISO/MVC, \"dep.mvc\", fps=23.976\nA_AC3, \"audio.ac3\"\n");
  const auto made =
      run("cd " + in + " && for i in $(seq " + std::to_string(repeats) + "); do cat " + views +
          "; done >mvc.264 && python3 " + quote((clips / "bluray_order.py").string()) + " mvc.264 bd.264 && python3 " +
          quote((clips / "split_views.py").string()) +
          " bd.264 base.264 dep.mvc && ffmpeg -v error -y -f lavfi -i sine=frequency=" + std::to_string(tone) +
          ":sample_rate=48000:duration=" + std::to_string(audioSeconds) + " -ac 2 -c:a ac3 audio.ac3 && " +
          quote(tools.tsmuxer.string()) + " clip.meta part.m2ts >tsmuxer.log && mv part.m2ts " + quote(clip.string()));
  EXPECT_EQ(made.status, 0) << made.out << made.err;
  return clip;
}

fs::path repeatedDisc(const RealTools &tools, const fs::path &clips, int repeats) {
  const fs::path clip = repeatedClip(tools, clips, repeats, repeats, 1000), disc = clip.parent_path() / "disc";
  if (!fs::exists(disc / "BDMV/PLAYLIST/00800.mpls")) {
    const auto made =
        run("cd " + quote(clip.parent_path().string()) + " && " + quote((clips / "make-disc.sh").string()) + " " +
            quote(tools.tsmuxer.parent_path().string()) + " " + quote(clip.filename().string()) + " . 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
  }
  return disc;
}

const ReferenceViews &referenceViews(const RealTools &tools, const fs::path &clips) {
  static std::mutex mutex;
  static std::optional<ReferenceViews> views;
  std::lock_guard lock(mutex);
  if (views)
    return *views;
  const fs::path cache = kestrova::test::buildDir() / "bluray-reference";
  fs::create_directories(cache);
  // Test programs may run side by side; one decodes, the others wait for it.
  const UniqueFd lockFd(::open((cache / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  ::flock(lockFd.get(), LOCK_EX);
  const fs::path left = cache / "ref_ViewId0000.yuv", right = cache / "ref_ViewId0001.yuv";
  if (!fs::exists(left) || !fs::exists(right)) {
    // JM writes log.dec and dataDec.txt into its current folder: a scratch one.
    const fs::path scratch = cache / "decode";
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    const auto decoded = run("cd " + quote(scratch.string()) + " && " + quote(tools.ldecod.string()) +
                             " -p InputFile=" + quote((clips / "clip24-views.264").string()) +
                             " -p OutputFile=ref.yuv -p DecodeAllLayers=1 >ldecod.out 2>&1");
    if (decoded.status == 0) {
      fs::rename(scratch / "ref_ViewId0000.yuv", left);
      fs::rename(scratch / "ref_ViewId0001.yuv", right);
      fs::remove_all(scratch);
    }
  }
  ::flock(lockFd.get(), LOCK_UN);
  views = ReferenceViews{readBytes(left), readBytes(right)};
  return *views;
}

void expectEyesInPlace(const ReferenceViews &reference, const std::vector<std::uint8_t> &pictures, bool viewsSwapped,
                       const std::string &what) {
  constexpr int kWidth = 1920, kHeight = 1080, kPairs = 24;
  ASSERT_EQ(reference.left.size(), static_cast<std::size_t>(kWidth * kHeight * 3 / 2 * kPairs));
  ASSERT_EQ(pictures.size(), 2 * reference.left.size()) << what;
  const auto left = halfOf(pictures, 2 * kWidth, kHeight, 0), right = halfOf(pictures, 2 * kWidth, kHeight, 1);
  const auto &leftView = viewsSwapped ? reference.right : reference.left;
  const auto &rightView = viewsSwapped ? reference.left : reference.right;
  const double leftMatch = psnr(left, leftView), rightMatch = psnr(right, rightView);
  EXPECT_GE(leftMatch, 30.0) << what << ": left eye";
  EXPECT_GE(rightMatch, 30.0) << what << ": right eye";
  EXPECT_GT(leftMatch, psnr(left, rightView) + 10.0) << what << ": the left eye shows the right view";
  EXPECT_GT(rightMatch, psnr(right, leftView) + 10.0) << what << ": the right eye shows the left view";
}

const char *variantName(Variant variant) {
  switch (variant) {
  case Variant::dualSplitParallel:
    return "A_DualSplitParallel";
  case Variant::parallel:
    return "B_Parallel";
  case Variant::fifo:
    return "C_Fifo";
  case Variant::pipeFromFile:
    return "D_PipeFromFile";
  case Variant::diskBased:
    return "E_DiskBased";
  }
  return "?";
}

fs::path installProgram(const fs::path &root, const RealTools &tools, Variant variant, bool fastDecoder) {
  const fs::path bin = root / "bin", folder = root / "share/kestrova/tools";
  fs::create_directories(bin);
  fs::create_directories(folder);
  // The program finds its tools folder from where its binary lies, so it
  // needs a binary of its own there: a hard link, or a copy across devices.
  std::error_code linkError;
  fs::create_hard_link(KESTROVA_PROGRAM_PATH, bin / "kestrova", linkError);
  if (linkError)
    fs::copy_file(KESTROVA_PROGRAM_PATH, bin / "kestrova");
  link(tools.ldecod, folder / "ldecod");
  link(KESTROVA_MVHEVC_CONVERTER_PATH, folder / "MVHEVCConverter");
  if (variant == Variant::pipeFromFile) {
    kestrova::test::writeFile(folder / "tsmuxer", "#!/bin/bash\n" + quote(tools.tsmuxer.string()) +
                                                      " \"$@\" || exit\n"
                                                      "[ $# -ge 2 ] || exit 0\n"
                                                      "mkdir -p \"$2/interleave_fifo.264/kept\"\n");
    fs::permissions(folder / "tsmuxer", fs::perms::owner_all, fs::perm_options::add);
  } else {
    link(tools.tsmuxer, folder / "tsmuxer");
  }
  if (variant == Variant::diskBased)
    return bin / "kestrova";
  // ldecod-pipe looks for the decoder beside its own binary: a copy.
  fs::copy_file(KESTROVA_LDECOD_PIPE_PATH, folder / "ldecod-pipe");
  link(KESTROVA_YUV_HSTACK_PATH, folder / "yuv_hstack");
  if (variant == Variant::dualSplitParallel || variant == Variant::parallel) {
    link(KESTROVA_PARALLEL_SCRIPT, folder / "parallel-pipeline.sh");
    link(KESTROVA_NAL_SCAN_PATH, folder / "nal-scan");
  }
  if (variant == Variant::dualSplitParallel) {
    link(KESTROVA_NAL_DUAL_SPLIT_PATH, folder / "nal-dual-split");
    link(KESTROVA_NAL_INTERLEAVE_PATH, folder / "nal-interleave");
  }
#ifdef KESTROVA_EDGE264_PIPE_PATH
  if (fastDecoder)
    link(KESTROVA_EDGE264_PIPE_PATH, folder / "edge264-pipe");
#else
  EXPECT_FALSE(fastDecoder && mvhevc::test::underCi()) << "edge264-pipe is not built";
#endif
  return bin / "kestrova";
}

MediaFacts probeMedia(const fs::path &file) {
  const auto probed =
      run("ffprobe -v error -count_frames -show_entries "
          "stream=codec_type,width,height,nb_read_frames,start_time,duration:format=duration -of json " +
          quote(file.string()));
  MediaFacts facts;
  const auto report = nlohmann::json::parse(probed.out, nullptr, false);
  if (!report.is_object())
    return facts;
  for (const auto &stream : report.value("streams", nlohmann::json::array())) {
    const std::string type = stream.value("codec_type", "");
    const auto seconds = [&stream](const char *key) { return std::atof(stream.value(key, "0").c_str()); };
    if (type == "audio" && !facts.hasAudio) {
      facts.hasAudio = true;
      facts.audioStart = seconds("start_time");
      facts.audioSeconds = seconds("duration");
    }
    if (type != "video" || facts.videoFrames != 0)
      continue;
    facts.videoStart = seconds("start_time");
    facts.width = stream.value("width", 0);
    facts.height = stream.value("height", 0);
    facts.videoFrames = std::atoi(stream.value("nb_read_frames", "0").c_str());
  }
  facts.videoSeconds = std::atof(report.value("format", nlohmann::json::object()).value("duration", "0").c_str());
  return facts;
}

std::vector<std::uint8_t> decodePictures(const fs::path &file, const fs::path &scratch) {
  const fs::path raw = scratch / (file.filename().string() + ".yuv");
  const auto decoded = run("ffmpeg -v error -y -i " + quote(file.string()) +
                           " -map 0:v:0 -pix_fmt yuv420p -f rawvideo " + quote(raw.string()));
  auto pictures = decoded.status == 0 ? readBytes(raw) : std::vector<std::uint8_t>{};
  fs::remove(raw);
  return pictures;
}

std::vector<std::uint8_t> halfOf(const std::vector<std::uint8_t> &pictures, int width, int height, int half) {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  const std::size_t pictureSize = w * h * 3 / 2;
  std::vector<std::uint8_t> out;
  out.reserve(pictures.size() / 2);
  for (std::size_t at = 0; at + pictureSize <= pictures.size(); at += pictureSize) {
    // Luma rows, then the two chroma planes' rows at half the size.
    const std::uint8_t *plane = pictures.data() + at;
    for (std::size_t row = 0; row < h; ++row)
      out.insert(out.end(), plane + row * w + half * w / 2, plane + row * w + (half + 1) * w / 2);
    plane += w * h;
    for (int chroma = 0; chroma < 2; ++chroma, plane += w * h / 4)
      for (std::size_t row = 0; row < h / 2; ++row)
        out.insert(out.end(), plane + row * w / 2 + half * w / 4, plane + row * w / 2 + (half + 1) * w / 4);
  }
  return out;
}

std::vector<std::uint8_t> sideBySide(const std::vector<std::uint8_t> &left, const std::vector<std::uint8_t> &right,
                                     int width, int height) {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  const std::size_t pictureSize = w * h * 3 / 2;
  std::vector<std::uint8_t> out;
  for (std::size_t at = 0; at + pictureSize <= std::min(left.size(), right.size()); at += pictureSize) {
    // Row by row of each plane: the left picture's row, then the right's.
    std::size_t plane = at;
    for (const auto &[rows, rowSize] : {std::pair{h, w}, std::pair{h / 2, w / 2}, std::pair{h / 2, w / 2}}) {
      for (std::size_t row = 0; row < rows; ++row)
        for (const auto *picture : {&left, &right})
          out.insert(out.end(), picture->begin() + static_cast<std::ptrdiff_t>(plane + row * rowSize),
                     picture->begin() + static_cast<std::ptrdiff_t>(plane + (row + 1) * rowSize));
      plane += rows * rowSize;
    }
  }
  return out;
}

std::vector<int> processesMentioning(const fs::path &path) {
  std::vector<int> found;
  const std::string needle = path.string();
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const int pid = std::stoi(name);
    if (pid == ::getpid())
      continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string commandLine{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (commandLine.find(needle) != std::string::npos && kestrova::test::processAlive(pid))
      found.push_back(pid);
  }
  return found;
}

} // namespace kestrova::bluray::test
