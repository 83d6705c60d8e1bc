#include "ModelTestSupport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::test {
namespace {

namespace fs = std::filesystem;
using app::ConverterModel;

TEST(ModelSettings, StoredValuesAreReadExactlyOrIgnored) {
  using enum QualityPreset;
  using enum OutputTarget;
  struct Case {
    nlohmann::json stored;
    QualityPreset preset;
    std::int64_t limit;
    bool keep;
    OutputTarget target;
    const char *reported = nullptr; // the key a warning names
  };
  const Case cases[] = {
      {{{"qualityPreset", "balanced"}}, medium, 120, false, sbs3D, "qualityPreset"}, // wrong case
      {{{"qualityPreset", "Smaller File"}, {"outputTarget", "Apple Vision Pro (MV-HEVC)"}}, low, 120, false, visionPro},
      {{{"durationLimit", 45}}, medium, 45, false, sbs3D},
      {{{"durationLimit", "soon"}}, medium, 0, false, sbs3D}, // the whole source
      {{{"keepSBSIntermediate", true}}, medium, 120, true, sbs3D},
      {{{"keepSBSIntermediate", "true"}}, medium, 120, false, sbs3D, "keepSBSIntermediate"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stored.dump());
    ModelFixture f;
    writeFile(f.dir / "settings.json", c.stored.dump());
    std::ostringstream diagnostics;
    f.environment.settings = std::make_shared<SettingsStore>(f.dir / "settings.json", &diagnostics);
    auto model = f.make();
    model->loadSettings();
    if (c.reported)
      EXPECT_NE(diagnostics.str().find(c.reported), std::string::npos) << diagnostics.str();
    else
      EXPECT_EQ(diagnostics.str(), "");
    EXPECT_EQ(model->qualityPreset(), c.preset);
    EXPECT_EQ(model->debugLimitSeconds(), c.limit);
    EXPECT_EQ(model->keepSBSIntermediate(), c.keep);
    EXPECT_EQ(model->outputTarget(), c.target);
    nlohmann::json onDisk = f.storedSettings();
    // An unmatched string stays as it was; a read number is stored back as a number.
    if (c.stored.contains("qualityPreset")) {
      EXPECT_EQ(onDisk["qualityPreset"], c.stored["qualityPreset"]);
    }
    if (c.stored.contains("durationLimit")) {
      EXPECT_EQ(onDisk["durationLimit"], c.limit);
    }
  }
}

TEST(ModelSettings, OutputDirectoryIsStoredOnlyAfterLoading) {
  ModelFixture f;
  auto model = f.make();
  model->setOutputDirectory(f.dir / "early");
  EXPECT_FALSE(f.storedSettings().contains("outputDirectory"));
  model->loadSettings();
  EXPECT_EQ(model->outputDirectory(), f.dir / "early");
  model->setOutputDirectory(f.dir / "late");
  EXPECT_EQ(f.storedSettings()["outputDirectory"], (f.dir / "late").string());
  model->setOutputDirectory(std::nullopt);
  EXPECT_EQ(f.storedSettings()["outputDirectory"], (f.dir / "late").string());
}

TEST(ModelSettings, StoredDirectoryThatIsGoneKeepsTheVideosDefault) {
  ModelFixture f;
  fs::create_directories(f.dir / "kept");
  for (auto [stored, expected] :
       {std::pair{f.dir / "gone", f.dir / "Videos" / "Kestrova Output"}, std::pair{f.dir / "kept", f.dir / "kept"}}) {
    writeFile(f.dir / "settings.json", nlohmann::json{{"outputDirectory", stored.string()}}.dump());
    f.environment.settings = std::make_shared<SettingsStore>(f.dir / "settings.json");
    auto model = f.make();
    model->loadSettings();
    EXPECT_EQ(model->outputDirectory(), expected);
    EXPECT_EQ(f.storedSettings()["outputDirectory"], stored.string());
  }
}

TEST(ModelSettings, NoVideosFolderLeavesNoOutputDirectoryAndRefusesToStart) {
  ModelFixture f;
  f.environment.videosDirectory.reset();
  auto model = f.make();
  model->loadSettings();
  EXPECT_FALSE(model->outputDirectory());
  model->startConversion();
  EXPECT_TRUE(model->errorMessage() && !model->isConverting());
}

TEST(ModelSettings, ChangingAnEncodingSettingLeavesTheCompletedState) {
  struct Case {
    const char *name;
    std::function<void(ConverterModel &)> change;
    bool resets;
    const char *key;
  };
  const Case cases[] = {
      {"codec", [](ConverterModel &m) { m.setOutputCodec(OutputCodec::h265); }, true, "outputCodec"},
      {"quality", [](ConverterModel &m) { m.setQualityPreset(QualityPreset::high); }, true, "qualityPreset"},
      {"target", [](ConverterModel &m) { m.setOutputTarget(OutputTarget::visionPro); }, true, "outputTarget"},
      {"duration", [](ConverterModel &m) { m.setDebugLimitSeconds(300); }, true, "durationLimit"},
      {"keep intermediate", [](ConverterModel &m) { m.setKeepSBSIntermediate(true); }, false, "keepSBSIntermediate"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ModelFixture f;
    auto model = f.make();
    model->loadSettings();
    model->reportProgress(ConversionStage::complete, 1.0, f.clock->now());
    std::vector<app::ModelField> seen;
    model->subscribe([&seen](app::ModelField field) { seen.push_back(field); });
    c.change(*model);
    EXPECT_EQ(model->currentStage(), c.resets ? ConversionStage::idle : ConversionStage::complete);
    EXPECT_EQ(model->progress(), c.resets ? 0.0 : 1.0);
    EXPECT_TRUE(f.storedSettings().contains(c.key));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), app::ModelField::currentStage), c.resets ? 1 : 0);
  }
}

} // namespace
} // namespace kestrova::test
