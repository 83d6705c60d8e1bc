// Renders the window in each of its main states, in a light and a dark
// palette, into PNG files, so that a person can look at them:
//   window_screenshots OUTPUT_FOLDER
#include "WindowStates.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>

int main(int argc, char **argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  // One style for every run, so that pictures from different machines compare.
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const std::pair<const char *, QPalette> palettes[] = {{"light", QApplication::style()->standardPalette()},
                                                        {"dark", kestrova::test::darkPalette()}};
  int failures = 0;
  for (const auto &[paletteName, palette] : palettes) {
    QApplication::setPalette(palette);
    for (const auto &state : kestrova::test::windowStates()) {
      kestrova::test::WindowHarness harness;
      harness.window().show();
      state.arrange(harness);
      // Rows made by the last change show once their posted events have run.
      for (int round = 0; round < 5; ++round)
        QCoreApplication::processEvents();
      const QString stem = folder + "/" + state.name + "-" + paletteName;
      if (!harness.window().grab().save(stem + ".png")) {
        std::fprintf(stderr, "cannot write %s.png\n", qPrintable(stem));
        ++failures;
        continue;
      }
      std::printf("%s.png\n", qPrintable(stem));
      if (QMessageBox *alert = harness.view()->errorAlert())
        if (alert->grab().save(stem + "-alert.png"))
          std::printf("%s-alert.png\n", qPrintable(stem));
    }
  }
  return failures == 0 ? 0 : 1;
}
