#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

TEST(Utf8, AcceptsWellFormedTextAndEscapesBrokenSequences) {
  struct Row {
    const char *name;
    std::string text;
    bool valid;
    std::string escaped;
  };
  const Row rows[] = {
      {"empty", "", true, ""},
      {"ASCII", "ffmpeg version 5.1", true, "ffmpeg version 5.1"},
      {"two, three and four bytes", "\xC3\xA9 \xE2\x9C\x85 \xF0\x9F\x8E\xAC", true,
       "\xC3\xA9 \xE2\x9C\x85 \xF0\x9F\x8E\xAC"},
      {"NUL is a character", std::string("a\0b", 3), true, std::string("a\0b", 3)},
      {"stray continuation byte", "a\x80z", false, "a\\x80z"},
      {"lead byte cut off at the end", "ok \xE2\x9C", false, "ok \\xe2\\x9c"},
      {"lead byte followed by ASCII", "\xC3(", false, "\\xc3("},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", false, "\\xf8\\x88\\x80\\x80\\x80"},
      {"Latin-1 text", "caf\xE9", false, "caf\\xe9"},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(isValidUtf8(row.text), row.valid) << row.name;
    EXPECT_EQ(escapedForLog(row.text), row.escaped) << row.name;
  }
}

} // namespace
} // namespace kestrova
