#pragma once

#include "ModelTestSupport.h"
#include "ui/ContentView.h"

#include <QMainWindow>
#include <QPalette>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::test {

/// The window over a model of doubles, in a scratch folder: the real Qt
/// main-thread executor, a settings file of its own, and a conversion that
/// the test steers (`gate` decides when it ends and how).
class WindowHarness {
public:
  /// How the steered conversion ends once the gate opens.
  enum class Outcome { succeed, fail };

  WindowHarness();
  ~WindowHarness();

  /// An SBS source the analysis double knows, of duration `seconds`; with
  /// `has3D` false the analysis finds no 3D in it.
  std::filesystem::path source(const std::string &name, double seconds = 5025, bool has3D = true);
  /// Processes Qt events until `done` holds; false after a minute (a hang
  /// guard, never a timing assertion).
  static bool waitFor(const std::function<bool()> &done);

  /// Starts the run; the conversion reports 0 (or that it takes up
  /// `resumed` chunks of an earlier run) and then `fraction` of "encoding"
  /// and then waits for finish().
  void startRun(double fraction, std::optional<pipeline::ResumedChunks> resumed = std::nullopt);
  /// Lets the waiting conversion end with `outcome` (a failure says
  /// `detail`), then waits for the run to end.
  void finish(Outcome outcome, std::string detail = "ffmpeg exited with code 1");

  /// The job of the last conversion started.
  ConversionJob lastJob() const;

  /// The named child widget of the window, or null.
  template <class T> T *find(const char *name) const { return window_->findChild<T *>(name); }

  app::ConverterModel &model() { return *model_; }
  const std::shared_ptr<app::ConverterModel> &sharedModel() const { return model_; }
  ui::ContentView *view() const { return view_; }
  QMainWindow &window() { return *window_; }
  ModelFixture &fixture() { return fixture_; }
  std::filesystem::path outputDirectory() const { return fixture_.dir / "out"; }

private:
  struct Gate;
  ModelFixture fixture_;
  std::shared_ptr<Gate> gate_;
  std::shared_ptr<app::ConverterModel> model_;
  std::unique_ptr<QMainWindow> window_;
  ui::ContentView *view_ = nullptr;
};

/// The states worth looking at, each made through the model's own
/// operations; `name` is also the screenshot's file name.
struct WindowState {
  const char *name;
  std::function<void(WindowHarness &harness)> arrange;
};
const std::vector<WindowState> &windowStates();

/// A dark palette like a desktop's dark theme, for the screenshots and the
/// symbol tests.
QPalette darkPalette();

} // namespace kestrova::test
