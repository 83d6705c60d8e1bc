#include "ui/Application.h"

#include "app/ConverterModel.h"
#include "app/UserDirectories.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/LogWindow.h"
#include "ui/QtChild.h"
#include "ui/QtPlatform.h"
#include "ui/WindowHandOver.h"

#include "pipeline/EncoderTable.h"
#include "tools/StopSignals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
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

// The main window remembers where it was and how big, and the first time
// opens at a size that fits the screen it is on.
class MainWindow : public QMainWindow {
public:
  MainWindow() {
    QSettings place("Kestrova", "window");
    if (!restoreGeometry(place.value("geometry").toByteArray()))
      resize(firstSize(screen() ? screen()->availableGeometry().size() : QSize(1024, 768)));
  }

protected:
  void closeEvent(QCloseEvent *event) override {
    QSettings("Kestrova", "window").setValue("geometry", saveGeometry());
    QMainWindow::closeEvent(event);
  }
};

void addMenus(QMainWindow &window, const std::shared_ptr<app::ConverterModel> &model) {
  QMenu *file = window.menuBar()->addMenu("&File");
  QAction *open = file->addAction("&Open...", &window, [model] { model->browseForFiles(); });
  file->addAction("Open &Disc Folder...", &window, [model] { model->browseForDiscFolder(); });
  open->setShortcut(QKeySequence::Open);
  file->addSeparator();
  QAction *quit = file->addAction("&Quit", &window, [&window] { window.close(); });
  quit->setShortcut(QKeySequence::Quit);
  QMenu *view = window.menuBar()->addMenu("&View");
  QAction *log = view->addAction("&Log", &window, [&window, model] {
    // One log window, made on first use and kept (hidden when closed).
    auto *logWindow = window.findChild<LogWindow *>("logWindow");
    if (!logWindow)
      logWindow = qtChild<LogWindow>(model, &window);
    logWindow->show();
    logWindow->raise();
    logWindow->activateWindow();
  });
  log->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  QMenu *help = window.menuBar()->addMenu("&Help");
  help->addAction("&About Kestrova", &window, [&window] { showAboutDialog(&window); });
}

// The window's model, wired to this desktop: settings file, notifications,
// file manager, the main thread's event loop.
std::shared_ptr<app::ConverterModel> makeModel(std::shared_ptr<QtDialogs> dialogs,
                                               std::vector<std::filesystem::path> files,
                                               std::optional<std::filesystem::path> outputDirectory) {
  app::ModelEnvironment environment;
  environment.executor = std::make_shared<QtMainThreadExecutor>();
  environment.settings = std::make_shared<SettingsStore>(SettingsStore::defaultPath());
  environment.engine = std::make_shared<pipeline::PipelineEngine>();
  environment.clock = std::make_shared<app::SystemClock>();
  environment.notifier = std::make_shared<DBusNotifier>();
  environment.revealer = std::make_shared<DesktopRevealer>();
  environment.dialogs = std::move(dialogs);
  environment.videosDirectory = app::userVideosDirectory();
  environment.startFiles = std::move(files);
  environment.startOutputDirectory = std::move(outputDirectory);
  return app::ConverterModel::create(std::move(environment));
}

} // namespace

QSize firstSize(QSize available) {
  // Room for the window frame and a panel; never more than the screen has.
  const QSize preferred(600, 860);
  return preferred.boundedTo(QSize(available.width() - 40, available.height() - 60)).expandedTo(QSize(360, 320));
}

int runApplication(int argc, char **argv, std::vector<std::filesystem::path> files,
                   std::optional<std::filesystem::path> outputDirectory) {
  if (!hasDisplay()) {
    std::fputs("Kestrova: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
               "Without a display, run: kestrova --auto-convert [OPTION...] FILE...\n",
               stderr);
    return 1;
  }
  // A closed terminal, SIGTERM or Ctrl-C quit the window as its Quit item
  // does: the conversion is cancelled and its tools end. Blocked before Qt
  // starts any thread, so only the watcher takes them.
  tools::blockStopSignals();
  QApplication application(argc, argv);
  QApplication::setApplicationName("Kestrova");
  QApplication::setApplicationVersion(applicationVersion());
  QApplication::setDesktopFileName("kestrova");
  QApplication::setWindowIcon(applicationIcon());
  // One window per user: a second launch (Open With) gives its files to the
  // window that runs and ends.
  if (handToRunningWindow(files, outputDirectory))
    return 0;

  auto dialogs = std::make_shared<QtDialogs>();
  auto model = makeModel(dialogs, std::move(files), std::move(outputDirectory));

  MainWindow window;
  window.setWindowTitle("Kestrova");
  window.setWindowIcon(applicationIcon());
  auto *view = qtChild<ContentView>(model, &window);
  window.setCentralWidget(view);
  dialogs->setParent(&window);
  addMenus(window, model);
  window.show();

  WindowServer handOver([model, &window](const HandedFiles &handed) {
    model->openFiles(handed.files, handed.outputDirectory);
    window.showNormal();
    window.raise();
    window.activateWindow();
  });
  if (!handOver.listen())
    std::fprintf(stderr, "Kestrova: cannot listen on %s; a second launch opens a second window\n",
                 qPrintable(windowSocketPath()));

  // The start-up sequence runs once the window is on screen.
  QTimer::singleShot(0, &window, [model, view] {
    if (auto ffmpeg = model->pipelineEngine().findTool("ffmpeg"))
      view->setHardwareHevcEncoder(pipeline::EncoderTable::probe(*ffmpeg).hasVideoToolbox());
    model->loadSettings();
    model->requestNotificationPermission();
    model->handleCommandLineArguments();
  });
  std::weak_ptr<app::ConverterModel> weakModel = model;
  QObject::connect(&application, &QApplication::aboutToQuit, [weakModel] {
    if (auto live = weakModel.lock())
      live->applicationWillTerminate();
  });
  tools::StopSignalWatcher stopSignals([&application](int sig) {
    QMetaObject::invokeMethod(
        &application, [sig] { QApplication::exit(128 + sig); }, Qt::QueuedConnection);
  });
  return QApplication::exec();
}

} // namespace kestrova::ui
