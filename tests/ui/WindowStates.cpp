#include "WindowStates.h"

#include "core/Errors.h"
#include "ui/QtChild.h"
#include "ui/QtPlatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>

namespace kestrova::test {

namespace fs = std::filesystem;

/// Where the steered conversion waits for the test.
struct WindowHarness::Gate {
  std::mutex mutex;
  std::condition_variable_any opened;
  std::optional<Outcome> outcome;
  double fraction = 0;
};

WindowHarness::WindowHarness() : gate_(std::make_shared<Gate>()) {
  fixture_.environment.executor = std::make_shared<ui::QtMainThreadExecutor>();
  auto engine = fixture_.environment.engine;
  fixture_.environment.runner.convert = [gate = gate_,
                                         engine](const ConversionJob &job, const std::optional<SourceFileInfo> &,
                                                 pipeline::ProgressHandler progress, LogFn) -> ConversionResult {
    std::unique_lock lock(gate->mutex);
    progress(ConversionStage::encoding, gate->fraction);
    gate->opened.wait(lock, engine->stopToken(), [&] { return gate->outcome.has_value(); });
    if (!gate->outcome)
      throw ConversionError::cancelled();
    if (*gate->outcome == Outcome::fail)
      throw ConversionError::encodingFailed("ffmpeg exited with code 1");
    fs::path output = job.outputDirectory / (job.sourceURL.stem().string() + "_SBS.mkv");
    writeFile(output, "sbs");
    return ConversionResult{output.string(), {}, {}};
  };
  model_ = fixture_.make();
  model_->loadSettings();
  model_->setOutputDirectory(outputDirectory());
  window_ = std::make_unique<QMainWindow>();
  window_->setWindowTitle("Kestrova");
  view_ = ui::qtChild<ui::ContentView>(model_, window_.get());
  window_->setCentralWidget(view_);
  window_->resize(560, 860);
}

WindowHarness::~WindowHarness() {
  // The view unsubscribes when it goes; the model then cancels whatever
  // still runs and joins its threads.
  window_.reset();
  model_.reset();
}

fs::path WindowHarness::source(const std::string &name, double seconds) {
  fs::path file = fixture_.source(name);
  SourceFileInfo info = sideBySideInfo(file);
  info.duration = seconds;
  std::lock_guard lock(*fixture_.analysesMutex);
  (*fixture_.analyses)[file] = info;
  return file;
}

bool WindowHarness::waitFor(const std::function<bool()> &done) {
  QElapsedTimer guard;
  guard.start();
  while (!done()) {
    if (guard.elapsed() > 60'000)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void WindowHarness::startRun(double fraction) {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->fraction = fraction;
    gate_->outcome.reset();
  }
  waitFor([&] { return !model_->isParsing(); });
  model_->startConversion();
  waitFor([&] { return model_->currentStage() == ConversionStage::encoding; });
}

void WindowHarness::finish(Outcome outcome) {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->outcome = outcome;
  }
  gate_->opened.notify_all();
  waitFor([&] { return !model_->isConverting(); });
}

namespace {

void queueOne(WindowHarness &h) {
  h.model().dropFiles({h.source("Avatar 3D.m2ts")});
  WindowHarness::waitFor([&] { return !h.model().isParsing(); });
}

void queueThree(WindowHarness &h) {
  h.model().dropFiles({h.source("Avatar 3D.m2ts", 9720), h.source("Hugo.mkv", 7560), h.source("Prometheus.mov", 7440)});
  WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 3 && !h.model().isParsing(); });
}

} // namespace

const std::vector<WindowState> &windowStates() {
  static const std::vector<WindowState> states = {
      {"empty", [](WindowHarness &) {}},
      {"file-queued", queueOne},
      {"converting-42",
       [](WindowHarness &h) {
         queueOne(h);
         h.startRun(0.42);
       }},
      {"complete",
       [](WindowHarness &h) {
         queueOne(h);
         h.startRun(0.42);
         h.finish(WindowHarness::Outcome::succeed);
       }},
      {"failed",
       [](WindowHarness &h) {
         queueOne(h);
         h.startRun(0.42);
         h.finish(WindowHarness::Outcome::fail);
       }},
      {"queue-of-three", queueThree},
      {"batch-converting",
       [](WindowHarness &h) {
         queueThree(h);
         h.startRun(0.42);
       }},
  };
  return states;
}

} // namespace kestrova::test
