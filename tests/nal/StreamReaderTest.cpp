#include "nal/StreamReader.h"

#include "ReferenceReader.h"
#include "Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::nal {
namespace {
using test::bytes;
using test::ByteVector;
using test::operator+;
using kestrova::test::TempDir;

ByteVector toVector(std::span<const std::uint8_t> span) {
  return {span.begin(), span.end()};
}

struct ReadResult {
  std::uint64_t junk = 0;
  std::vector<test::ReferenceUnit> units;
};

ReadResult readAll(const std::filesystem::path &path, std::uint8_t type, ReaderLimits limits) {
  StreamReader reader(path, type, limits);
  ReadResult result;
  while (auto unit = reader.readAccessUnit())
    result.units.push_back({toVector(unit->delimiter), toVector(unit->payload)});
  // Exhaustion is final.
  EXPECT_FALSE(reader.readAccessUnit());
  EXPECT_FALSE(reader.readAccessUnit());
  result.junk = reader.discardedBytes();
  return result;
}

// Tiny buffers and odd chunk sizes put every boundary of the refill logic
// inside the few bytes of a start code.
const ReaderLimits kLimits[] = {{}, {64, 1}, {64, 3}, {97, 13}, {256, 64}};

// Each case against the plain model of ReferenceReader.h, which says what the units are.
TEST(StreamReader, HandsOutUnitsWithoutTheirDelimiter) {
  struct Row {
    const char *name;
    std::uint8_t type;
    ByteVector input;
    std::size_t junk, units;
  };
  const ByteVector aud4 = bytes({0, 0, 0, 1, 9, 0x10});
  const ByteVector aud3 = bytes({0, 0, 1, 9, 0x10});
  const Row rows[] = {
      {"four-byte codes", 9, aud4 + bytes({0, 0, 0, 1, 0x67, 0xAA, 0xBB}) + aud4 + bytes({0, 0, 0, 1, 0x68, 0xCC}), 0,
       2},
      {"three-byte codes", 9, aud3 + bytes({0, 0, 1, 0x67, 0xAA}) + aud3 + bytes({0, 0, 1, 0x68, 0xBB, 0xCC}), 0, 2},
      {"junk before the first delimiter", 9, bytes({0xFF, 0, 0x12, 0, 0, 1}) + aud4 + bytes({0, 0, 0, 1, 0x67, 0xAA}),
       6, 1},
      {"delimiter-only unit is empty, not the end", 9, aud4 + aud4 + bytes({0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0xCC}), 0, 2},
      {"no delimiter: one unit, unchanged", 9, bytes({0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0, 0, 1, 0x68, 0xCC}), 0, 1},
      {"MVC view splits on type 24 only", 24,
       bytes({0, 0, 0, 1, 0x18, 0xAA, 0, 0, 0, 1, 0x14, 0xBB}) + aud4 +
           bytes({0, 0, 0, 1, 0x18, 0xAA, 0, 0, 1, 0x14, 0xCC}),
       0, 2},
      {"nal_ref_idc bits are ignored", 9,
       bytes({0, 0, 1, 0x69, 0x10, 0, 0, 1, 0x41, 0xAA, 0, 0, 1, 0x29, 0x10, 0, 0, 1, 0x41, 0xBB, 0xCC}), 0, 2},
      {"a delimiter in the last five bytes stays inside the last unit", 9,
       aud4 + bytes({0, 0, 0, 1, 0x67, 0xAA}) + bytes({0, 0, 1, 9, 0x10}), 0, 1},
      {"a zero before a four-byte code belongs to the earlier unit", 9,
       bytes({0, 0, 1, 9, 0x10, 0x67, 0xAA, 0}) + aud4 + bytes({0, 0, 1, 0x67, 0xBB, 0xCC}), 0, 2},
      {"empty file", 9, {}, 0, 0},
      {"shorter than a delimiter", 9, bytes({0, 0, 1, 9}), 0, 1},
  };
  TempDir dir;
  for (const auto &row : rows) {
    const auto path = dir / "stream.264";
    test::writeBytes(path, row.input);
    const auto reference = test::referenceRead(row.input, row.type);
    EXPECT_EQ(reference.junk, row.junk) << row.name;
    EXPECT_EQ(reference.units.size(), row.units) << row.name;
    for (const auto &limits : kLimits) {
      SCOPED_TRACE(testing::Message() << row.name << ", buffer " << limits.capacity << "/" << limits.chunk);
      const auto result = readAll(path, row.type, limits);
      EXPECT_EQ(result.junk, row.junk);
      EXPECT_EQ(result.units, reference.units);
    }
  }
}

} // namespace
} // namespace kestrova::nal
