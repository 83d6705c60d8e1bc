#include "NalUnitSource.h"
#include "PairDecoder.h"
#include "RealTools.h"
#include "StreamBuilder.h"
#include "nal/NALInterleaver.h"
#include "nal/SequenceParameterSet.h"
#include "support/RealMedia.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>

namespace kestrova::helpers {
namespace {

namespace fs = std::filesystem;
using kestrova::test::readFile;
using kestrova::test::TempDir;

tools::CollectedOutput runPipe(std::vector<std::string> arguments, const fs::path &directory) {
  return run(KESTROVA_EDGE264_PIPE, std::move(arguments), directory);
}

/// Bytes of one decoded 8-bit 4:2:0 picture, from the stream's first sequence parameter set.
std::size_t pictureBytes(const fs::path &stream) {
  const std::string bytes = readFile(stream);
  std::size_t size = 0;
  forEachNalUnit(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()), [&](NalUnit unit) {
    if (size == 0 && (unit[0] & 0x1F) == 7)
      if (auto format = nal::parseSequenceParameterSet(unit.subspan(1)))
        size = format->frameBytes();
  });
  return size;
}

/// The JM decoder's two view files for `stream`, decoded in `directory`.
/// The second view is whichever file of a non-zero view id has pictures.
std::pair<std::string, std::string> jmViews(const fs::path &stream, const fs::path &directory) {
  auto result =
      run(kestrova::test::realTool("ldecod").value_or("ldecod").string(),
          {"-p", "InputFile=" + stream.string(), "-p", "OutputFile=ref.yuv", "-p", "DecodeAllLayers=1"}, directory);
  EXPECT_TRUE(result.status.success()) << result.standardOutput;
  std::string views[2];
  for (const auto &entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("ref_ViewId") && fs::file_size(entry.path()) > 0)
      views[name == "ref_ViewId0000.yuv" ? 0 : 1] = readFile(entry.path());
  }
  return {views[0], views[1]};
}

/// Every picture of both views equal, one line per differing picture.
void expectSamePictures(const std::string &pairs, const std::pair<std::string, std::string> &jm, std::size_t picture) {
  ASSERT_GT(picture, 0u);
  ASSERT_FALSE(jm.second.empty()) << "the JM decoder wrote no second view";
  const std::size_t count = jm.first.size() / picture;
  ASSERT_EQ(pairs.size(), 2 * count * picture) << "pairs: " << pairs.size() / (2 * picture) << ", JM: " << count;
  for (std::size_t i = 0; i < count; ++i)
    for (int view = 0; view < 2; ++view) {
      const std::string &reference = view == 0 ? jm.first : jm.second;
      EXPECT_TRUE(pairs.compare((2 * i + view) * picture, picture, reference, i * picture, picture) == 0)
          << "picture " << i << " of view " << view << " differs from the JM decoder's";
    }
}

fs::path conformanceStreams(const fs::path &into) {
  auto result = run("/usr/bin/tar",
                    {"-xJf", (sharedDir() / "third-party/edge264-mvc-0c63655.tar.xz").string(), "--wildcards",
                     "*/tests/conformance/mvc/*.264", "--strip-components=3"},
                    into);
  EXPECT_TRUE(result.status.success()) << result.standardError;
  return into / "mvc";
}

// JM is the oracle: every picture of both views, bit for bit, on a clip
// made by the JM encoder, the views tsMuxeR takes out of a disc stream (read
// as two files and through our interleaver), and the JVT MVC conformance
// streams; without and with worker threads.
TEST(Edge264Pipe, DecodesEveryPictureOfBothViewsAsTheJmDecoderDoes) {
  if (!kestrova::test::realTool("ldecod"))
    GTEST_SKIP() << "the JM decoder is not built (scripts/build-tools)";
  struct Row {
    std::string name;
    fs::path reference;             // the interleaved stream JM decodes
    std::vector<std::string> input; // how edge264-pipe is given the stream
  };
  TempDir scratch;
  const fs::path clip = sharedDir() / "testdata/bluray/clip24-views.264";
  std::vector<Row> rows = {{"encoder clip", clip, {"-p", "InputFile=" + clip.string(), "-p", "OutputFile=x.yuv"}}};
  if (auto [base, mvc] = demuxedViews(scratch.path()); !base.empty()) {
    rows.push_back({"tsMuxeR's views of the disc clip", clip, {"--views", base.string(), mvc.string()}});
    // What the FIFO pipeline hands the decoder: the same views through our interleaver.
    const fs::path interleaved = scratch.path() / "interleaved.264";
    nal::NALInterleaver().interleave(base, mvc, interleaved);
    rows.push_back({"the interleaved disc views", clip, {"-i", interleaved.string()}});
  } else {
    ADD_FAILURE() << "tsMuxeR is not built (scripts/build-tools); the disc views were not checked";
  }
  for (const auto &entry : fs::directory_iterator(conformanceStreams(scratch.path())))
    rows.push_back({entry.path().filename().string(), entry.path(), {"-i", entry.path().string()}});

  std::map<fs::path, std::pair<std::string, std::string>> decodedByJm; // the disc rows share one reference
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TempDir work;
    if (!decodedByJm.contains(row.reference))
      decodedByJm[row.reference] = jmViews(row.reference, work.path());
    const auto &jm = decodedByJm[row.reference];
    for (const char *threads : {"0", "2"}) {
      SCOPED_TRACE(std::string("threads ") + threads);
      auto arguments = row.input;
      arguments.insert(arguments.begin(), {"--threads", threads});
      auto result = runPipe(arguments, work.path());
      ASSERT_TRUE(result.status.success()) << result.standardError;
      expectSamePictures(result.standardOutput, jm, pictureBytes(row.reference));
    }
  }
}

// Faults that show only on a long stream, each in its own row: a stream with
// deep reordering decoded by worker threads, which finish pictures out of
// order (a picture lost from the decoder's output queue stalled it after a
// few hundred pairs, most often with one worker and a fast reader); and the
// disc clip without threads past several MiB, where units are handed out
// from the start of the reader's moved-on buffer (the decoder read the bytes
// before a unit and refused it). Each copy opens with an IDR picture, so the
// copies must give as many pairs as they hold; the pictures themselves are
// compared with the JM decoder's above.
TEST(Edge264Pipe, KeepsEveryPictureOfALongStream) {
  struct Row {
    std::string name;
    std::string stream; // conformance stream, or empty for the disc clip
    int copies;
    const char *threads;
  };
  const std::vector<Row> rows = {
      {"deep reordering, one worker", "MVCRP_2.264", 10, "1"},
      {"the disc clip, no worker", "", 8, "0"},
  };
  TempDir scratch;
  const fs::path conformance = conformanceStreams(scratch.path());
  const auto pairsOf = [&](const fs::path &stream, const char *threads) {
    auto result =
        run("/bin/sh",
            {"-c", "exec \"$0\" --threads $1 -i \"$2\" >/dev/null", KESTROVA_EDGE264_PIPE, threads, stream.string()},
            scratch.path());
    EXPECT_TRUE(result.status.success()) << result.standardError;
    const std::string tail = " frame pairs decoded";
    const auto end = result.standardError.rfind(tail);
    const auto begin = result.standardError.rfind(' ', end - 1);
    return end == std::string::npos ? 0 : std::stoul(result.standardError.substr(begin + 1, end - begin - 1));
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path once =
        row.stream.empty() ? sharedDir() / "testdata/bluray/clip24-views.264" : conformance / row.stream;
    const fs::path repeated = scratch.path() / "repeated.264";
    std::string copies;
    for (int copy = 0; copy < row.copies; ++copy)
      copies += readFile(once);
    kestrova::test::writeFile(repeated, copies);
    const std::size_t single = pairsOf(once, "0");
    ASSERT_GT(single, 0u);
    EXPECT_EQ(pairsOf(repeated, row.threads), row.copies * single);
  }
}

streaming::test::Bytes withLeadingSps(const streaming::test::SpsFields &fields, const fs::path &stream) {
  streaming::test::Bytes bytes = streaming::test::sequenceParameterSet(fields);
  const std::string rest = readFile(stream);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}

// What the decoder lacks is found before any picture is written, so the
// caller can hand the stream to the JM decoder instead; a check writes
// nothing either way; damage and a reader that goes away end the run.
TEST(Edge264Pipe, ReportsByStatusWhatItCannotDecodeBeforeWritingAnything) {
  struct Row {
    std::string name;
    streaming::test::Bytes stream; // empty: the encoder clip
    std::vector<std::string> options;
    int status;
    std::string message;
    std::string shell; // when set, the helper runs in this pipeline instead
  };
  streaming::test::SpsFields interlaced, deep, mono;
  interlaced.frameMbsOnly = false;
  deep.bitDepthLuma = 10;
  mono.chromaFormat = 0;
  const fs::path clip = sharedDir() / "testdata/bluray/clip24-views.264";
  const std::string clipText = readFile(clip);
  // The first MVC slice with its header overwritten.
  streaming::test::Bytes damaged(clipText.begin(), clipText.end());
  const std::size_t mvcSlice = clipText.find(std::string("\0\0\1\x14", 4));
  ASSERT_NE(mvcSlice, std::string::npos);
  std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(mvcSlice) + 4, 8, 0xFF);
  const Row rows[] = {
      {"interlaced", withLeadingSps(interlaced, clip), {}, 3, "cannot decode this stream: interlaced coding", ""},
      {"10 bits", withLeadingSps(deep, clip), {}, 3, "cannot decode this stream: samples of more than 8 bits", ""},
      {"4:0:0", withLeadingSps(mono, clip), {"--check"}, 3, "a chroma format other than 4:2:0", ""},
      {"a check of a good stream", {}, {"--check"}, 0, "edge264-pipe: the stream can be decoded", ""},
      {"a damaged slice", damaged, {}, 1, "edge264-pipe: ERROR: invalid data", ""},
      {"a reader that stops early", {}, {}, 0, "", " | head -c 100000 > /dev/null"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TempDir work;
    fs::path input = clip;
    if (!row.stream.empty()) {
      input = work / "in.264";
      streaming::test::writeBytes(input, row.stream);
    }
    auto arguments = row.options;
    arguments.insert(arguments.end(), {"-p", "InputFile=" + input.string()});
    tools::CollectedOutput result;
    if (row.shell.empty()) {
      result = runPipe(arguments, work.path());
    } else {
      std::string command = std::string("'") + KESTROVA_EDGE264_PIPE + "'";
      for (const auto &word : arguments)
        command += " '" + word + "'";
      result = run("/bin/bash", {"-o", "pipefail", "-c", command + row.shell}, work.path());
    }
    EXPECT_EQ(result.status.terminationStatus, row.status) << result.standardError;
    EXPECT_FALSE(result.status.signalled);
    EXPECT_NE(result.standardError.find(row.message), std::string::npos) << result.standardError;
    if (row.status != 0 || row.options == std::vector<std::string>{"--check"}) {
      EXPECT_TRUE(result.standardOutput.empty()) << result.standardOutput.size() << " bytes written";
    }
  }
}

// A decoder that takes slices without giving pictures ends the run with an
// error instead of reading on: here the limit is below the slices the
// clip's first picture needs before it comes out.
TEST(Edge264Pipe, EndsWithAnErrorWhenNoPictureComesOutForTooManySlices) {
  AnnexBSource source(UniqueFd(::open((sharedDir() / "testdata/bluray/clip24-views.264").c_str(), O_RDONLY)), "clip");
  PairDecoder decoder(
      0, [](const ViewPair &) { return true; }, 2);
  EXPECT_THROW(
      {
        while (auto unit = source.next())
          decoder.feed(*unit);
      },
      DecodeError);
  EXPECT_EQ(decoder.pairs(), 0u);
}

} // namespace
} // namespace kestrova::helpers
