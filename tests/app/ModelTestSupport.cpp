#include "ModelTestSupport.h"

#include "core/Errors.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

namespace kestrova::test {

namespace fs = std::filesystem;

void QueueExecutor::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  arrived_.notify_all();
}

bool QueueExecutor::drainUntil(const std::function<bool()> &done) {
  while (!done()) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      if (!arrived_.wait_for(lock, std::chrono::minutes(1), [this] { return !queue_.empty(); }))
        return false;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
  return true;
}

void QueueExecutor::drainAvailable() {
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty())
        return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

SourceFileInfo sideBySideInfo(const fs::path &file, bool has3D) {
  SourceFileInfo info;
  info.url = file;
  info.fileName = file.filename().string();
  info.duration = 5405.7;
  info.resolution = "3840x1080";
  info.videoWidth = 3840;
  info.videoHeight = 1080;
  info.frameRateNum = 24;
  info.frameRateDen = 1;
  info.hasMVCStream = has3D;
  info.stereoMode = has3D ? Stereo3DMode::sideBySide() : Stereo3DMode::none();
  return info;
}

ModelFixture::ModelFixture() {
  fs::create_directories(dir / "sources");
  fs::create_directories(dir / "tools");
  environment.executor = executor;
  environment.clock = clock;
  environment.notifier = notifier;
  environment.revealer = revealer;
  environment.dialogs = dialogs;
  environment.settings = std::make_shared<SettingsStore>(dir / "settings.json");
  environment.engine = std::make_shared<pipeline::PipelineEngine>(tools::ToolLocator(
      tools::BundlePaths::forPrefix((dir / "prefix").string()),
      tools::SystemPrograms{"/bin/bash", (dir / "no-which").string()}, {(dir / "tools").string() + "/"}));
  environment.videosDirectory = dir / "Videos";
  environment.analyzer = [analyses = analyses, mutex = analysesMutex](const fs::path &file,
                                                                      const LogFn &) -> std::optional<SourceFileInfo> {
    std::lock_guard lock(*mutex);
    auto found = analyses->find(file);
    if (found == analyses->end())
      throw AnalysisError("ffprobe failed to read " + file.filename().string());
    return found->second;
  };
}

std::shared_ptr<app::ConverterModel> ModelFixture::make() {
  return app::ConverterModel::create(environment);
}

nlohmann::json ModelFixture::storedSettings() const {
  std::ifstream in(dir / "settings.json");
  if (!in)
    return nlohmann::json::object();
  return nlohmann::json::parse(in);
}

fs::path ModelFixture::source(const std::string &name, std::size_t size) {
  fs::path path = dir / "sources" / name;
  writeFile(path, std::string(size, 'x'));
  return path;
}

bool ModelFixture::logged(const app::ConverterModel &model, const std::string &message) {
  return std::ranges::any_of(model.logs(), [&](const std::string &line) { return line.ends_with(message); });
}

void ModelRunFixture::build() {
  model = make();
  model->loadSettings();
  model->setOutputDirectory(out);
}

void ModelRunFixture::select(const fs::path &file) {
  model->selectFile(file);
  ASSERT_TRUE(executor->drainUntil([&] { return !model->isParsing(); }));
}

void ModelRunFixture::runToEnd() {
  model->startConversion();
  ASSERT_TRUE(model->isConverting());
  ASSERT_TRUE(executor->drainUntil([&] { return !model->isConverting(); }));
}

} // namespace kestrova::test
