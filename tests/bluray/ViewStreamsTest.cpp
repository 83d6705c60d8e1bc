// The two view streams the real tsMuxeR demuxes from the reference clips,
// put back together by the nal tools (whole, or in pieces that start at IDR
// pictures) and decoded by the real JM decoder: the pictures must be exactly
// the reference pictures, also when the stream carries its parameter sets
// only once.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

// The views as the program's demux step gets them (same meta lines).
struct Views {
  fs::path base, mvc;
};
Views demuxed(const RealTools &tools, const fs::path &clip, const fs::path &folder) {
  fs::create_directories(folder);
  const bool matroska = clip.extension() == ".mkv";
  const std::string source = "\"" + clip.string() + "\"";
  kestrova::test::writeFile(folder / "demux.meta",
                            matroska
                                ? "MUXOPT --demux\nV_MPEG4/ISO/AVC, " + source +
                                      ", track=1, subTrack=2\nV_MPEG4/ISO/MVC, " + source + ", track=1, subTrack=1\n"
                                : "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500\n"
                                  "V_MPEG4/ISO/AVC, " +
                                      source + ", track=4113\nV_MPEG4/ISO/MVC, " + source + ", track=4114\n");
  const auto demux =
      run(quote(tools.tsmuxer.string()) + " " + quote((folder / "demux.meta").string()) + " " + quote(folder.string()));
  EXPECT_EQ(demux.status, 0) << demux.out;
  Views views;
  for (const auto &entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".264")
      views.base = entry.path();
    else if (entry.path().extension() == ".mvc")
      views.mvc = entry.path();
  }
  return views;
}

// `stream` without the parameter sets that follow its first access unit,
// as a stream that carries them only once.
void keepFirstParameterSets(const fs::path &stream, std::uint8_t delimiterType) {
  const auto bytes = readBytes(stream);
  std::vector<std::uint8_t> kept;
  int delimiters = 0;
  std::size_t unitStart = 0;
  auto flush = [&](std::size_t end) {
    if (unitStart >= end)
      return;
    std::size_t header = unitStart + 2;
    while (header < end && bytes[header] == 0)
      ++header;
    const std::uint8_t type = header + 1 < end ? bytes[header + 1] & 0x1F : 0;
    delimiters += type == delimiterType;
    if (!(delimiters > 1 && (type == 7 || type == 8 || type == 15)))
      kept.insert(kept.end(), bytes.begin() + static_cast<std::ptrdiff_t>(unitStart),
                  bytes.begin() + static_cast<std::ptrdiff_t>(end));
  };
  for (std::size_t i = 1; i + 3 < bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
      const std::size_t start = bytes[i - 1] == 0 ? i - 1 : i;
      if (start > unitStart) {
        flush(start);
        unitStart = start;
      }
    }
  flush(bytes.size());
  std::ofstream(stream, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(kept.data()), static_cast<std::streamsize>(kept.size()));
}

// Decodes `stream` with the real JM decoder in a folder of its own; the
// pictures of both views.
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> decode(const RealTools &tools, const fs::path &stream) {
  const fs::path folder = stream.parent_path() / (stream.filename().string() + ".decoded");
  fs::create_directories(folder);
  const auto decoded = run("cd " + quote(folder.string()) + " && " + quote(tools.ldecod.string()) +
                           " -p InputFile=" + quote(stream.string()) + " -p OutputFile=out.yuv -p DecodeAllLayers=1");
  EXPECT_EQ(decoded.status, 0) << decoded.out << decoded.err;
  return {readBytes(folder / "out_ViewId0000.yuv"), readBytes(folder / "out_ViewId0001.yuv")};
}

std::vector<std::vector<std::string>> records(const std::string &text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }
  return lines;
}

TEST(ViewStreams, PutBackTogetherTheyDecodeToTheReferencePictures) {
  std::string whyNot;
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  if (!findRealSetup(tools, clips, whyNot))
    GTEST_SKIP() << whyNot;
  const auto &reference = referenceViews(*tools, *clips);
  const fs::path nalTools = fs::path(KESTROVA_NAL_SCAN_PATH).parent_path();
  auto tool = [&](const char *name) { return quote((nalTools / name).string()); };
  struct Row {
    const char *clip;
    bool parameterSetsOnce;
  };
  for (const Row row : {Row{"clip24.m2ts", false}, Row{"clip24_lr.mkv", false}, Row{"clip24_lr.mkv", true}}) {
    SCOPED_TRACE(std::string(row.clip) + (row.parameterSetsOnce ? ", parameter sets once" : ""));
    kestrova::test::TempDir dir;
    const Views views = demuxed(*tools, *clips / row.clip, dir / "demux");
    if (row.parameterSetsOnce) {
      keepFirstParameterSets(views.base, 9);
      keepFirstParameterSets(views.mvc, 24);
    }
    std::vector<std::uint8_t> left, right;
    auto collect = [&](const fs::path &stream) {
      auto [view0, view1] = decode(*tools, stream);
      left.insert(left.end(), view0.begin(), view0.end());
      right.insert(right.end(), view1.begin(), view1.end());
    };
    auto expectReference = [&](const char *how) {
      EXPECT_TRUE(left == reference.left) << how << ": view 0 differs";
      EXPECT_TRUE(right == reference.right) << how << ": view 1 differs";
      left.clear();
      right.clear();
    };

    // Each view split at the same IDR pictures, each piece interleaved and decoded on its own.
    const auto split = run("cd " + quote(dir.path().string()) + " && " + tool("nal-dual-split") + " --segments 2 " +
                           quote(views.base.string()) + " " + quote(views.mvc.string()) + " piece");
    ASSERT_EQ(split.status, 0) << split.err;
    const auto pieces = records(split.out);
    ASSERT_EQ(pieces.size(), 2u) << split.out;
    for (const auto &piece : pieces) {
      const fs::path stream = dir / ("joined_" + piece[1] + ".264");
      const auto joined = run(tool("nal-interleave") + " " + quote((dir / piece[4]).string()) + " " +
                              quote((dir / piece[5]).string()) + " " + quote(stream.string()));
      ASSERT_EQ(joined.status, 0) << joined.err;
      collect(stream);
    }
    expectReference("pieces of the views");

    // The views interleaved whole, then cut into segments read from an offset
    // with the parameter sets in force there in front.
    const fs::path whole = dir / "whole.264";
    const auto joined = run(tool("nal-interleave") + " " + quote(views.base.string()) + " " +
                            quote(views.mvc.string()) + " " + quote(whole.string()));
    ASSERT_EQ(joined.status, 0) << joined.err;
    const auto scan = run(tool("nal-scan") + " --segments 2 " + quote(whole.string()));
    const auto segments = records(scan.out);
    ASSERT_EQ(segments.size(), 2u) << scan.out << scan.err;
    for (const auto &segment : segments) {
      const fs::path stream = dir / ("segment_" + segment[1] + ".264");
      const auto cut = run("{ " + tool("nal-scan") + " --parameter-sets " + segment[4] + " " + quote(whole.string()) +
                           " && tail -c +$((" + segment[4] + " + 1)) " + quote(whole.string()) + " | head -c " +
                           segment[5] + "; } > " + quote(stream.string()));
      ASSERT_EQ(cut.status, 0) << cut.err;
      collect(stream);
    }
    expectReference("segments of the interleaved stream");
  }
}

} // namespace
} // namespace kestrova::bluray::test
