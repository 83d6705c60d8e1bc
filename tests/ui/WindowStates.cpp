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
  std::string detail;
  double fraction = 0;
  std::optional<pipeline::ResumedChunks> resumed;
  ConversionJob job;
};

WindowHarness::WindowHarness() : gate_(std::make_shared<Gate>()) {
  fixture_.environment.executor = std::make_shared<ui::QtMainThreadExecutor>();
  auto engine = fixture_.environment.engine;
  fixture_.environment.runner.convert = [gate = gate_,
                                         engine](const ConversionJob &job, const std::optional<SourceFileInfo> &,
                                                 pipeline::ProgressHandler progress, LogFn) -> ConversionResult {
    std::unique_lock lock(gate->mutex);
    gate->job = job;
    if (gate->resumed)
      engine->onResume(*gate->resumed);
    else
      progress(ConversionStage::encoding, 0.0);
    progress(ConversionStage::encoding, gate->fraction);
    gate->opened.wait(lock, engine->stopToken(), [&] { return gate->outcome.has_value(); });
    if (!gate->outcome)
      throw ConversionError::cancelled();
    if (*gate->outcome == Outcome::fail)
      throw ConversionError::encodingFailed(gate->detail);
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

fs::path WindowHarness::source(const std::string &name, double seconds, bool has3D) {
  fs::path file = fixture_.source(name);
  SourceFileInfo info = sideBySideInfo(file, has3D);
  info.duration = seconds;
  std::lock_guard lock(*fixture_.analysesMutex);
  (*fixture_.analyses)[file] = info;
  return file;
}

ConversionJob WindowHarness::lastJob() const {
  std::lock_guard lock(gate_->mutex);
  return gate_->job;
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

void WindowHarness::startRun(double fraction, std::optional<pipeline::ResumedChunks> resumed) {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->fraction = fraction;
    gate_->resumed = resumed;
    gate_->outcome.reset();
  }
  waitFor([&] { return !model_->isParsing(); });
  model_->startConversion();
  // Both reports must have landed: the second is posted just after the first.
  waitFor([&] { return model_->currentStage() == ConversionStage::encoding && model_->progress() == fraction; });
}

void WindowHarness::finish(Outcome outcome, std::string detail) {
  {
    std::lock_guard lock(gate_->mutex);
    gate_->outcome = outcome;
    gate_->detail = std::move(detail);
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

// Three files of which only one can be converted: one has no 3D, one cannot be read.
void queueWithReasons(WindowHarness &h) {
  const fs::path unreadable = h.fixture().source("Broken download.mkv");
  h.model().dropFiles({h.source("Avatar 3D.m2ts", 9720), h.source("Holiday 2D.mp4", 600, false), unreadable});
  WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 2 && !h.model().isParsing(); });
  WindowHarness::waitFor([&] { return h.model().rejection(unreadable).has_value(); });
}

// `queue`, then a run at 42 %, ended with `outcome` when one is given.
std::function<void(WindowHarness &)> running(void (*queue)(WindowHarness &),
                                             std::optional<WindowHarness::Outcome> outcome = std::nullopt) {
  return [queue, outcome](WindowHarness &h) {
    queue(h);
    h.startRun(0.42);
    if (outcome)
      h.finish(*outcome);
  };
}

} // namespace

const std::vector<WindowState> &windowStates() {
  static const std::vector<WindowState> states = {
      {"empty", [](WindowHarness &) {}},
      {"file-queued", queueOne},
      {"converting-42", running(queueOne)},
      {"converting-resumed",
       [](WindowHarness &h) {
         queueOne(h);
         h.model().setOutputTarget(OutputTarget::visionPro); // chunks are a Vision Pro encode's
         h.startRun(0.69, pipeline::ResumedChunks{3, 5});
       }},
      {"complete", running(queueOne, WindowHarness::Outcome::succeed)},
      {"complete-with-warning",
       [](WindowHarness &h) {
         queueOne(h);
         h.startRun(0.42);
         h.model().appendLog("\u26a0\ufe0f Avatar 3D_SBS.mkv lasts 1:21:40.12 where the source's container says "
                             "2:42:00.00: the source is shorter than it claims (a copy or download that did not "
                             "finish, or a damaged end), only what is there is converted");
         h.finish(WindowHarness::Outcome::succeed);
       }},
      {"failed", running(queueOne, WindowHarness::Outcome::fail)},
      {"queue-of-three", queueThree},
      {"batch-converting", running(queueThree)},
      {"batch-complete", running(queueThree, WindowHarness::Outcome::succeed)},
      {"queue-with-reasons", queueWithReasons},
      {"batch-skipped-complete", running(queueWithReasons, WindowHarness::Outcome::succeed)},
      {"batch-opened-during-run",
       [](WindowHarness &h) {
         queueOne(h);
         h.startRun(0.42);
         h.model().addFiles({h.source("Hugo.mkv", 7560)});
         WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 2; });
       }},
      {"layout-given",
       [](WindowHarness &h) {
         const fs::path flat = h.source("Holiday half SBS.mp4", 600, false);
         h.model().dropFiles({h.source("Avatar 3D.m2ts", 9720), flat});
         WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 2 && !h.model().isParsing(); });
         h.model().setFileLayout(flat, {StereoLayout::halfSideBySide, true});
       }},
      {"small-screen-queue",
       [](WindowHarness &h) {
         h.window().resize(800, 600);
         queueThree(h);
       }},
  };
  return states;
}

QPalette darkPalette() {
  QPalette dark;
  const QColor window(0x2b, 0x2b, 0x2e), base(0x1e, 0x1e, 0x21), text(0xe8, 0xe8, 0xea);
  dark.setColor(QPalette::Window, window);
  dark.setColor(QPalette::WindowText, text);
  dark.setColor(QPalette::Base, base);
  dark.setColor(QPalette::AlternateBase, window);
  dark.setColor(QPalette::Text, text);
  dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
  dark.setColor(QPalette::ButtonText, text);
  dark.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa6));
  dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xf0));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4f));
  dark.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
  dark.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x5a));
  dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
  dark.setColor(QPalette::Shadow, Qt::black);
  dark.setColor(QPalette::ToolTipBase, window);
  dark.setColor(QPalette::ToolTipText, text);
  dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x84));
  dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x84));
  dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x84));
  return dark;
}

} // namespace kestrova::test
