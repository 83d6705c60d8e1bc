#include "nal/OffsetMetadata.h"
#include <gtest/gtest.h>

namespace kestrova::nal {
namespace {
using Bytes = std::vector<std::uint8_t>;

// Writes offset SEIs and MVC-view pictures the way a Blu-ray 3D disc carries them.
Bytes escaped(const Bytes &rbsp) {
  Bytes out{0, 0, 1};
  int zeros = 0;
  for (std::uint8_t byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return out;
}

/// `named` sequences declared, `rows` written, `frames` per row.
Bytes offsetSei(int named, std::size_t frames, const std::vector<Bytes> &rows) {
  // The user data's UUID, "OFMD", rate code, PTS, then the counts.
  Bytes inner{0x17, 0xee, 0x8c, 0x60, 0xf8, 0x4d, 0x11, 0xd9, 0x8c, 0xd6, 0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66};
  inner.insert(inner.end(), {'O', 'F', 'M', 'D', 0x81, 0x00, 0x80, 0x00, 0x80, 0x00,
                             static_cast<std::uint8_t>(0x80 | named), static_cast<std::uint8_t>(frames), 0x80, 0x00});
  for (const auto &row : rows)
    inner.insert(inner.end(), row.begin(), row.end());
  // MVC scalable nesting for the operation point of view 1, then user data.
  Bytes payload{0xc0, 0x10, 5, static_cast<std::uint8_t>(inner.size())};
  payload.insert(payload.end(), inner.begin(), inner.end());
  Bytes rbsp{0x06, 37, static_cast<std::uint8_t>(payload.size())};
  rbsp.insert(rbsp.end(), payload.begin(), payload.end());
  rbsp.push_back(0x80);
  return escaped(rbsp);
}

Bytes pictures(int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) // first slice of a picture, then a second slice
    out.insert(out.end(),
               {0, 0, 0, 1, 0x14, 0x40, 0x00, 0x43, 0x88, 0x10, 0, 0, 1, 0x14, 0x40, 0x00, 0x43, 0x12, 0x34});
  return out;
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto &part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

OffsetMetadata readFed(const Bytes &stream, std::size_t piece) {
  OffsetMetadataReader reader;
  for (std::size_t at = 0; at < stream.size(); at += piece)
    reader.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
  return reader.finish();
}

TEST(OffsetMetadata, BadTablesAreReportedAndReadWherePossible) {
  const Bytes two = offsetSei(2, 3, {{1, 2, 3}, {0x81, 0x82, 0x80}});
  struct Row {
    const char *what;
    Bytes stream;
    std::size_t defects;
    std::optional<std::vector<DepthOffset>> first, second;
  };
  Bytes cut = offsetSei(2, 3, {{1, 2, 3}, {0x81, 0x82, 0x80}});
  cut.resize(cut.size() - 6);
  const Row rows[] = {
      {"sound", joined({two, pictures(3)}), 0, std::vector<DepthOffset>{1, 2, 3}, std::vector<DepthOffset>{-1, -2, {}}},
      {"a GOP longer than its table", joined({two, pictures(5)}), 1, std::vector<DepthOffset>{1, 2, 3, {}, {}},
       std::vector<DepthOffset>{-1, -2, {}, {}, {}}},
      {"more sequences named than held", joined({offsetSei(3, 3, {{1, 2, 3}, {4, 5, 6}}), pictures(3)}), 1,
       std::vector<DepthOffset>{1, 2, 3}, std::vector<DepthOffset>{4, 5, 6}},
      {"an SEI cut short", joined({cut, pictures(3)}), 1, std::nullopt, std::nullopt},
      {"pictures before the first table", joined({pictures(2), two, pictures(3)}), 0,
       std::vector<DepthOffset>{{}, {}, 1, 2, 3}, std::vector<DepthOffset>{{}, {}, -1, -2, {}}},
  };
  for (const auto &row : rows) {
    for (std::size_t piece : {std::size_t{1}, row.stream.size()}) {
      const auto metadata = readFed(row.stream, piece);
      EXPECT_EQ(metadata.defects.size(), row.defects) << row.what;
      EXPECT_EQ(metadata.frames(0), row.first) << row.what;
      EXPECT_EQ(metadata.frames(1), row.second) << row.what;
    }
  }
  EXPECT_EQ(readFed(joined({offsetSei(3, 3, {{1, 2, 3}, {4, 5, 6}}), pictures(3)}), 1).frames(2), std::nullopt);
}

} // namespace
} // namespace kestrova::nal
