#include "ui/Application.h"

#include "app/ConverterModel.h"
#include "app/DesktopDirectory.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/QtChild.h"
#include "ui/QtPlatform.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace kestrova::ui {

namespace {

// Qt aborts with a terse platform-plugin message when there is nothing to
// draw on; say what to do instead. An explicit QT_QPA_PLATFORM (offscreen,
// vnc...) is the user's own choice and is left to Qt.
bool hasDisplay() {
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char *value = std::getenv(name);
    if (value && *value)
      return true;
  }
  return false;
}

} // namespace

int runApplication(int argc, char **argv) {
  if (!hasDisplay()) {
    std::fputs("Kestrova: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
               "Without a display, run: kestrova --input <file> --auto-convert [--output <dir>]\n",
               stderr);
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("Kestrova");
  QApplication::setApplicationVersion(applicationVersion());
  QApplication::setDesktopFileName("kestrova");

  auto dialogs = std::make_shared<QtDialogs>();
  app::ModelEnvironment environment;
  environment.executor = std::make_shared<QtMainThreadExecutor>();
  environment.settings = std::make_shared<SettingsStore>(SettingsStore::defaultPath());
  environment.engine = std::make_shared<pipeline::PipelineEngine>();
  environment.clock = std::make_shared<app::SystemClock>();
  environment.notifier = std::make_shared<DBusNotifier>();
  environment.revealer = std::make_shared<DesktopRevealer>();
  environment.dialogs = dialogs;
  environment.desktopDirectory = app::userDesktopDirectory();
  environment.homeDirectory = app::userHomeDirectory().value_or("/");
  environment.arguments.assign(argv, argv + argc);
  auto model = app::ConverterModel::create(std::move(environment));

  QMainWindow window;
  window.setWindowTitle("Kestrova");
  window.setWindowIcon(QIcon::fromTheme("kestrova"));
  auto *view = qtChild<ContentView>(model, &window);
  window.setCentralWidget(view);
  dialogs->setParent(&window);
  QMenu *help = window.menuBar()->addMenu("&Help");
  help->addAction("About Kestrova", &window, [&window] { showAboutDialog(&window); });
  help->addAction("Quit", &application, &QApplication::quit);
  window.resize(560, 820);
  window.show();

  // The start-up sequence runs once the window is on screen.
  QTimer::singleShot(0, &window, [model] {
    model->loadSettings();
    model->requestNotificationPermission();
    model->handleCommandLineArguments();
  });
  std::weak_ptr<app::ConverterModel> weakModel = model;
  QObject::connect(&application, &QApplication::aboutToQuit, [weakModel] {
    if (auto live = weakModel.lock())
      live->applicationWillTerminate();
  });
  return QApplication::exec();
}

} // namespace kestrova::ui
