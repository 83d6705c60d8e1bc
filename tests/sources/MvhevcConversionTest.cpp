#include "pipeline/MvhevcConversion.h"
#include "SourcesFixture.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::SourcesFixture;

struct ConversionStep : SourcesFixture {
  ConversionStep() { tools.add("MVHEVCConverter", {{"steps", {{{"write_file", "{arg2}"}, {"content", "spatial"}}}}}); }
  std::string convert(const fs::path &input) {
    return convertToMVHEVC(*engine, input, output / "x.mov", QualityPreset::medium, {});
  }
};

TEST(MvhevcConversion, UnreadableMatroskaFailsTheRemux) {
  ConversionStep f;
  fs::path input = f.output / "broken_SBS.mkv";
  test::writeFile(input, std::string(2048, 'x'));
  try {
    f.convert(input);
    ADD_FAILURE() << "a file ffmpeg cannot read fails the remux";
  } catch (const ConversionError &error) {
    EXPECT_EQ(error.kind(), ConversionError::Kind::encodingFailed);
    EXPECT_NE(error.detail().find("broken_SBS.mkv"), std::string::npos) << "ffmpeg's own words";
  }
  EXPECT_TRUE(f.tools.calls("MVHEVCConverter").empty());
}

} // namespace
} // namespace kestrova::pipeline
