// Renders the window in each of its main states into PNG files, so that a
// person can look at them: window_screenshots OUTPUT_FOLDER
#include "WindowStates.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <cstdio>

int main(int argc, char **argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  int failures = 0;
  for (const auto &state : kestrova::test::windowStates()) {
    kestrova::test::WindowHarness harness;
    harness.window().show();
    state.arrange(harness);
    kestrova::test::WindowHarness::waitFor([] { return true; });
    const QString file = folder + "/" + state.name + ".png";
    if (!harness.window().grab().save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      ++failures;
      continue;
    }
    std::printf("%s\n", qPrintable(file));
    if (QMessageBox *alert = harness.view()->errorAlert()) {
      const QString alertFile = folder + "/" + state.name + "-alert.png";
      if (alert->grab().save(alertFile))
        std::printf("%s\n", qPrintable(alertFile));
    }
  }
  return failures == 0 ? 0 : 1;
}
