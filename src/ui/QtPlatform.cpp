#include "ui/QtPlatform.h"

#include "app/OutputConflicts.h"

#include "ui/DesktopIntegration.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStringList>

namespace kestrova::ui {

namespace {

// The folder itself or, when it does not exist yet (an output folder made by
// the first run), the nearest one above it that does.
QString existingFolder(const std::optional<std::filesystem::path> &folder) {
  if (!folder)
    return {};
  std::filesystem::path candidate = *folder;
  std::error_code error;
  while (!candidate.empty() && !std::filesystem::is_directory(candidate, error) && candidate != candidate.parent_path())
    candidate = candidate.parent_path();
  return QString::fromStdString(candidate.string());
}

} // namespace

QtMainThreadExecutor::QtMainThreadExecutor() : context_(std::make_unique<QObject>()) {}

QtMainThreadExecutor::~QtMainThreadExecutor() = default;

void QtMainThreadExecutor::post(std::function<void()> work) {
  // A queued call against the context object runs on its (the GUI) thread,
  // in posting order, and is discarded if the object is gone by then.
  QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

DBusNotifier::DBusNotifier() : center_(std::make_unique<NotificationCenter>()) {}

DBusNotifier::~DBusNotifier() = default;

void DBusNotifier::post(const app::Notification &notification) {
  QStringList results;
  for (const auto &file : notification.results)
    results << QString::fromStdString(file.string());
  center_->post(QString::fromStdString(notification.title), QString::fromStdString(notification.body), results);
}

void DBusNotifier::requestPermission(std::function<void(const std::string &)> onError) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() ||
      !bus.interface()->isServiceRegistered("org.freedesktop.Notifications").value()) {
    if (onError)
      onError("no desktop notification service on the session bus");
  }
}

void DesktopRevealer::reveal(const std::vector<std::filesystem::path> &files) {
  if (!files.empty())
    revealInFileManager(QString::fromStdString(files.front().string()));
}

std::vector<std::filesystem::path> QtDialogs::openFiles(const app::OpenFilesRequest &request) {
  QStringList patterns;
  for (const auto &extension : request.extensions) {
    patterns << "*." + QString::fromStdString(extension);
    patterns << "*." + QString::fromStdString(extension).toUpper();
  }
  // Without extensions every file is offered (a hosts file has no fixed name).
  QString filter = patterns.isEmpty() ? QString() : "3D video (" + patterns.join(' ') + ")";
  const QString start = existingFolder(request.startDirectory);
  QStringList chosen;
  if (request.multipleSelection)
    chosen = QFileDialog::getOpenFileNames(parent_, QString::fromStdString(request.title), start, filter);
  else if (QString one = QFileDialog::getOpenFileName(parent_, QString::fromStdString(request.title), start, filter);
           !one.isEmpty())
    chosen << one;
  std::vector<std::filesystem::path> paths;
  for (const QString &path : chosen)
    paths.emplace_back(path.toStdString());
  return paths;
}

std::optional<std::filesystem::path> QtDialogs::chooseDirectory(const app::ChooseDirectoryRequest &request) {
  QFileDialog::Options options = QFileDialog::ShowDirsOnly;
  const QString start = existingFolder(request.startDirectory);
  QString directory = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(request.title), start, options);
  if (directory.isEmpty())
    return std::nullopt;
  return std::filesystem::path(directory.toStdString());
}

bool QtDialogs::confirmReplace(const std::vector<std::filesystem::path> &existing) {
  app::ReplaceQuestion question = app::replaceQuestion(existing);
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(question.title), QString::fromStdString(question.text),
                  QMessageBox::NoButton, parent_);
  box.setObjectName("replaceQuestion");
  QPushButton *replace = box.addButton(QString::fromStdString(question.confirm), QMessageBox::DestructiveRole);
  // Keeping the files is the default: Enter never replaces anything.
  box.setDefaultButton(box.addButton(QMessageBox::Cancel));
  box.exec();
  return box.clickedButton() == replace;
}

} // namespace kestrova::ui
