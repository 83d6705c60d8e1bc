#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

TEST(Utf8, AcceptsWellFormedTextAndRejectsBrokenSequences) {
  struct Row {
    const char *name;
    std::string text;
    bool valid;
  };
  const Row rows[] = {
      {"empty", "", true},
      {"ASCII", "ffmpeg version 5.1", true},
      {"two, three and four bytes", "\xC3\xA9 \xE2\x9C\x85 \xF0\x9F\x8E\xAC", true},
      {"NUL is a character", std::string("a\0b", 3), true},
      {"stray continuation byte", "a\x80z", false},
      {"lead byte cut off at the end", "ok \xE2\x9C", false},
      {"lead byte followed by ASCII", "\xC3(", false},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", false},
      {"Latin-1 text", "caf\xE9", false},
  };
  for (const auto &row : rows)
    EXPECT_EQ(isValidUtf8(row.text), row.valid) << row.name;
}

} // namespace
} // namespace kestrova
