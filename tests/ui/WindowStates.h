#pragma once

#include "ModelTestSupport.h"
#include "ui/ContentView.h"

#include <QMainWindow>
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

  /// An SBS source the analysis double knows, of duration `seconds`.
  std::filesystem::path source(const std::string &name, double seconds = 5025);
  /// Processes Qt events until `done` holds; false after a minute (a hang
  /// guard, never a timing assertion).
  static bool waitFor(const std::function<bool()> &done);

  /// Starts the run; the conversion reports `fraction` of "encoding" and
  /// then waits for finish().
  void startRun(double fraction);
  /// Lets the waiting conversion end with `outcome`, then waits for the run to end.
  void finish(Outcome outcome);

  /// The named child widget of the window, or null.
  template <class T> T *find(const char *name) const { return window_->findChild<T *>(name); }

  app::ConverterModel &model() { return *model_; }
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
  void (*arrange)(WindowHarness &harness);
};
const std::vector<WindowState> &windowStates();

} // namespace kestrova::test
