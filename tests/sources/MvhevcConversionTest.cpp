#include "pipeline/MvhevcConversion.h"
#include "SourcesFixture.h"
#include "core/Errors.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::SourcesFixture;

void makeSideBySideClip(const fs::path &file) {
  test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=128x48:rate=24:duration=0.3", "-f", "lavfi", "-i",
                   "sine=duration=0.3", "-c:v", "libx264", "-c:a", "aac", file.string()});
}

struct ConversionStep : SourcesFixture {
  ConversionStep() { tools.add("MVHEVCConverter", {{"steps", {{{"write_file", "{arg2}"}, {"content", "spatial"}}}}}); }
  std::string convert(const fs::path &input) {
    return convertToMVHEVC(*engine, input, output / "x.mov", QualityPreset::medium, {});
  }
  bool logged(const std::string &line) {
    std::lock_guard lock(mutex);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST(MvhevcConversion, MatroskaInputIsRemuxedBesideItFirst) {
  struct Row {
    const char *name;
    const char *converterInput;
  };
  for (const Row &row : {Row{"x_SBS.MKV", "x_SBS.mov"}, Row{"x_SBS.mov", "x_SBS.mov"}}) {
    SCOPED_TRACE(row.name);
    ConversionStep f;
    fs::path input = f.output / row.name;
    makeSideBySideClip(input);
    EXPECT_EQ(f.convert(input), (f.output / "x.mov").string());
    auto calls = f.tools.calls("MVHEVCConverter");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{(f.output / row.converterInput).string(),
                                                       (f.output / "x.mov").string(), "0.7"}));
    EXPECT_TRUE(fs::exists(f.output / row.converterInput));
  }
}

TEST(MvhevcConversion, RemuxFailures) {
  {
    ConversionStep f;
    fs::path input = f.output / "broken_SBS.mkv";
    test::writeFile(input, std::string(2048, 'x'));
    try {
      f.convert(input);
      ADD_FAILURE() << "a file ffmpeg cannot read fails the remux";
    } catch (const ConversionError &error) {
      EXPECT_EQ(error.kind(), ConversionError::Kind::encodingFailed);
      EXPECT_TRUE(error.detail().starts_with("Failed to remux MKV \u2192 MOV: ")) << error.detail();
      EXPECT_NE(error.detail().find("broken_SBS.mkv"), std::string::npos) << "ffmpeg's own words";
    }
    EXPECT_TRUE(f.tools.calls("MVHEVCConverter").empty());
  }
  // Without an ffmpeg of its own the step tries the usual Homebrew-style
  // location; where that does not exist either, starting it fails.
  if (fs::exists("/usr/local/bin/ffmpeg"))
    return;
  ConversionStep f;
  fs::remove(f.tools / "ffmpeg");
  fs::path input = f.output / "x_SBS.mkv";
  makeSideBySideClip(input);
  EXPECT_THROW(f.convert(input), tools::LaunchError);
}

} // namespace
} // namespace kestrova::pipeline
