#include "Bitstream.h"
#include "NalUnit.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova::mvhevc {
namespace {

std::string bitString(const BitWriter &writer) {
  std::string bits;
  for (std::size_t i = 0; i < writer.bitCount(); ++i) {
    bits += ((writer.bytes()[i / 8] >> (7 - i % 8)) & 1) != 0 ? '1' : '0';
  }
  return bits;
}

TEST(ExpGolomb, CodesAndReadsBack) {
  struct Case {
    std::int64_t value;
    bool isSigned;
    std::string bits;
  };
  const Case cases[] = {
      {0, false, "1"},       {1, false, "010"},   {2, false, "011"},
      {7, false, "0001000"}, {0, true, "1"},      {1, true, "010"},
      {-1, true, "011"},     {-2, true, "00101"}, {255, false, "00000000100000000"},
  };
  for (const auto &c : cases) {
    BitWriter writer;
    if (c.isSigned) {
      writer.se(static_cast<std::int32_t>(c.value));
    } else {
      writer.ue(static_cast<std::uint32_t>(c.value));
    }
    EXPECT_EQ(bitString(writer), c.bits) << c.value;
    writer.trailingBits();
    BitReader reader(writer.bytes());
    const std::int64_t back = c.isSigned ? reader.se() : static_cast<std::int64_t>(reader.ue());
    EXPECT_EQ(back, c.value);
  }
}

TEST(BitReader, CopiesUnalignedRunsAndStopsAtTheEnd) {
  const std::vector<std::uint8_t> bytes = {0xA5, 0x3C, 0xFF, 0x01, 0x80};
  BitReader reader(bytes);
  reader.skip(3);
  BitWriter writer;
  writer.copy(reader, 34);
  BitReader check(writer.bytes());
  BitReader original(bytes);
  original.skip(3);
  EXPECT_EQ(check.bits(32), original.bits(32));
  EXPECT_EQ(check.bits(2), original.bits(2));
  EXPECT_THROW(reader.bits(4), BitstreamError);
}

TEST(EmulationPrevention, EscapesExactlyTheForbiddenSequences) {
  struct Case {
    std::vector<std::uint8_t> rbsp, escaped;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0, 0, 3, 0}}, {{0, 0, 1}, {0, 0, 3, 1}},       {{0, 0, 2, 0, 0, 3}, {0, 0, 3, 2, 0, 0, 3, 3}},
      {{0, 0, 4}, {0, 0, 4}},    {{0, 0, 0, 0}, {0, 0, 3, 0, 0}}, {{1, 0, 0x80}, {1, 0, 0x80}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(escapePayload(c.rbsp), c.escaped);
    EXPECT_EQ(unescapePayload(c.escaped), c.rbsp);
  }
}

} // namespace
} // namespace kestrova::mvhevc
