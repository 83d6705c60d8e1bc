#include "nal/NALInterleaver.h"
#include "nal/InterleaveError.h"
#include "nal/OutputStream.h"

#include "Streams.h"
#include "support/TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrova::nal {
namespace {
namespace fs = std::filesystem;
using test::ByteVector;
using test::operator+;
using kestrova::test::TempDir;

/// base units 0..pairs-1 and MVC units 0..pairs-1, alternating.
ByteVector expectedPairs(std::uint32_t pairs) {
  ByteVector out;
  for (std::uint32_t i = 0; i < pairs; ++i) {
    test::append(out, test::labelledPayload(9, i));
    test::append(out, test::labelledPayload(24, i));
  }
  return out;
}

struct Collected {
  std::vector<std::string> lines;
  LogFn sink() {
    return [this](const std::string &line) { lines.push_back(line); };
  }
};

struct Files {
  TempDir dir;
  fs::path base = dir / "video.264";
  fs::path mvc = dir / "video.mvc";
  fs::path output = dir / "interleaved.h264";
  Files(std::uint32_t baseUnits, std::uint32_t mvcUnits) {
    test::writeBytes(base, test::labelledStream(9, baseUnits));
    test::writeBytes(mvc, test::labelledStream(24, mvcUnits));
  }
};

TEST(NALInterleaver, PairsUnitsAndToleratesAFewLeftOver) {
  struct Row {
    std::uint32_t base, mvc;
    std::uint32_t pairs;
    std::optional<std::pair<std::int64_t, std::int64_t>> mismatch = std::nullopt;
  };
  const Row rows[] = {
      {1000, 1000, 1000},
      {1003, 1000, 1000},
      {1010, 1000, 1000, std::pair{1009, 1000}},
      {1000, 1004, 1000},
      {3, 10, 3, std::pair{3, 9}},
      {6, 0, 0},
      {7, 0, 0, std::pair{6, 0}},
      {0, 0, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << row.base << "/" << row.mvc);
    Files files(row.base, row.mvc);
    Collected log;
    try {
      NALInterleaver().interleave(files.base, files.mvc, files.output, log.sink());
      EXPECT_FALSE(row.mismatch) << "no error";
      // Leftover units are ignored, never silently.
      EXPECT_EQ(log.lines.size() >= 2 && log.lines[log.lines.size() - 2].find("extra AUs") != std::string::npos,
                row.base != row.mvc);
    } catch (const InterleaveError &error) {
      ASSERT_TRUE(row.mismatch) << error.what();
      EXPECT_EQ(error, InterleaveError::accessUnitCountMismatch(row.mismatch->first, row.mismatch->second));
    }
    EXPECT_EQ(test::readBytes(files.output), expectedPairs(row.pairs));
  }
}

// Streams written as NAL units named "TYPE" or "TYPE/LABEL" (the label is a
// payload byte that tells units of one type apart).
ByteVector namedUnits(const std::string &names) {
  ByteVector out;
  std::istringstream words(names);
  for (std::string word; words >> word;) {
    const auto slash = word.find('/');
    out = out + test::bytes({0, 0, 0, 1, std::stoi(word.substr(0, slash))});
    if (slash != std::string::npos)
      out.push_back(static_cast<std::uint8_t>(0x80 | std::stoi(word.substr(slash + 1))));
    out.push_back(0xFF);
  }
  return out;
}

std::string unitNames(const ByteVector &stream) {
  std::string names;
  for (std::size_t i = 0; i + 4 < stream.size(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 0 || stream[i + 3] != 1)
      continue;
    names += (names.empty() ? "" : " ") + std::to_string(stream[i + 4] & 0x1F);
    if (i + 5 < stream.size() && stream[i + 5] != 0xFF)
      names += "/" + std::to_string(stream[i + 5] & 0x7F);
  }
  return names;
}

// tsMuxeR writes a base picture's prefix unit (14) ahead of the delimiter of
// its access unit, and can put picture parameter sets into the MVC view's
// stream; each unit must still reach the decoder with the picture it
// belongs to, a prefix unit directly before its slice.
TEST(NALInterleaver, UnitsGoWithThePictureTheyBelongTo) {
  struct Row {
    const char *name;
    std::string base, mvc, expected;
  };
  const Row rows[] = {
      {"as the disc's own order", "9 7 8 14/0 5/0 9 14/1 1/1", "24 15 8 20/0 24 20/1",
       "7 8 14/0 5/0 15 8 20/0 14/1 1/1 20/1"},
      {"prefix units ahead of the next delimiter", "9 7 8 14/0 5/0 14/1 9 1/1 14/2 9 7 8 5/2",
       "24 15 8 20/0 24 20/1 24 15 20/2", "7 8 14/0 5/0 15 8 20/0 14/1 1/1 20/1 7 8 14/2 5/2 15 20/2"},
      {"parameter sets ahead of a delimiter come first", "9 5/0 7/1 8/1 14/1 9 1/1", "24 20/0 8/2 24 20/1",
       "5/0 20/0 7/1 8/1 14/1 1/1 8/2 20/1"},
      {"what ends an access unit stays in it", "9 5/0 10 9 14/1 1/1", "24 20/0 24 20/1", "5/0 10 20/0 14/1 1/1 20/1"},
      {"units after the last picture are dropped", "9 14/0 5/0 14/9", "24 20/0 8/9", "14/0 5/0 20/0"},
  };
  for (const auto &row : rows) {
    TempDir dir;
    test::writeBytes(dir / "v.264", namedUnits(row.base));
    test::writeBytes(dir / "v.mvc", namedUnits(row.mvc));
    NALInterleaver().interleave(dir / "v.264", dir / "v.mvc", dir / "out.264");
    EXPECT_EQ(unitNames(test::readBytes(dir / "out.264")), row.expected) << row.name;
  }
}

TEST(NALInterleaver, MissingInputFailsBeforeTheOutputIsTouchedAndAnOutputIsReplaced) {
  for (const bool baseMissing : {true, false}) {
    Files files(2, 2);
    fs::remove(baseMissing ? files.base : files.mvc);
    EXPECT_THROW(NALInterleaver().interleave(files.base, files.mvc, files.output), InterleaveError);
    EXPECT_FALSE(fs::exists(files.output));
  }
  Files files(3, 3);
  test::writeBytes(files.output, ByteVector(5000, 0xEE));
  NALInterleaver().interleave(files.base, files.mvc, files.output);
  EXPECT_EQ(test::readBytes(files.output), expectedPairs(3));
}

TEST(NALInterleaver, CancellingBetweenPairsLeavesWholePairs) {
  Files files(1200, 1200);
  std::stop_source stop;
  Collected log;
  auto sink = [&](const std::string &line) {
    log.lines.push_back(line);
    if (line == "[NALInterleaver] 500 pairs interleaved")
      stop.request_stop();
  };
  NALInterleaver().interleave(files.base, files.mvc, files.output, sink, stop.get_token());
  EXPECT_EQ(test::readBytes(files.output), expectedPairs(500));
}

class FifoOutput : public testing::Test {
protected:
  // The program ignores SIGPIPE, so a reader that leaves turns into EPIPE.
  void SetUp() override { previous_ = std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { std::signal(SIGPIPE, previous_); }
  static void makeFifo(const fs::path &path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }
  static bool isFifo(const fs::path &path) { return fs::status(path).type() == fs::file_type::fifo; }

private:
  void (*previous_)(int) = nullptr;
};

TEST_F(FifoOutput, AReaderThatLeavesEndsTheRunQuietly) {
  // Large units so that the first write is far bigger than the pipe can hold
  // and must still be in progress when the reader goes away.
  Files files(0, 0);
  ByteVector base, mvc;
  const ByteVector slice = test::bytes({0, 0, 1, 0x01}) + ByteVector(4000, 0x55);
  for (int i = 0; i < 3000; ++i) {
    test::append(base, test::labelledUnit(9, static_cast<std::uint32_t>(i)));
    test::append(base, slice);
    test::append(mvc, test::labelledUnit(24, static_cast<std::uint32_t>(i)));
    test::append(mvc, slice);
  }
  test::writeBytes(files.base, base);
  test::writeBytes(files.mvc, mvc);
  makeFifo(files.output);
  std::thread decoder([&] {
    const int fd = ::open(files.output.c_str(), O_RDONLY | O_CLOEXEC);
    std::uint8_t chunk[100];
    EXPECT_GT(::read(fd, chunk, sizeof chunk), 0);
    ::close(fd);
  });
  Collected log;
  NALInterleaver().interleave(files.base, files.mvc, files.output, log.sink());
  decoder.join();
  ASSERT_GE(log.lines.size(), 2u);
  EXPECT_NE(log.lines[log.lines.size() - 2].find("Broken pipe"), std::string::npos) << log.lines.back();
  EXPECT_NE(log.lines.back().find("Complete"), std::string::npos) << log.lines.back();
  EXPECT_TRUE(isFifo(files.output));
}

} // namespace
} // namespace kestrova::nal

namespace kestrova::nal {
namespace {

// Pieces around the buffer size and the direct-write size must come out
// whole and in order, whichever path each one takes.
TEST(OutputStream, KeepsPiecesInOrderAcrossBufferAndDirectWrites) {
  const std::vector<std::vector<std::size_t>> sequences = {
      {1, 2, 3},
      {15, 1, 16, 17, 0, 5},
      {5, OutputStream::kDirectWriteSize, 3, OutputStream::kDirectWriteSize + 1, 7},
      {OutputStream::kDirectWriteSize - 1, 16, 300000},
  };
  TempDir dir;
  for (const auto &sizes : sequences) {
    auto out = OutputStream::open(dir / "out.bin", {}, 16);
    ASSERT_TRUE(out);
    ByteVector expected;
    std::uint8_t next = 0;
    for (const std::size_t size : sizes) {
      ByteVector piece(size);
      for (auto &byte : piece)
        byte = next++;
      out->append(piece);
      test::append(expected, piece);
    }
    out->flush();
    out->close();
    EXPECT_EQ(test::readBytes(dir / "out.bin"), expected) << sizes.size() << " pieces";
  }
}

} // namespace
} // namespace kestrova::nal
