#include "ui/DesktopIntegration.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QVariantMap>

namespace kestrova::ui {

namespace {

constexpr const char *kService = "org.freedesktop.Notifications";
constexpr const char *kPath = "/org/freedesktop/Notifications";
constexpr const char *kShowInFolder = "show-in-folder";

} // namespace

NotificationCenter::NotificationCenter(QObject *parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return;
  bus.connect(kService, kPath, kService, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
  bus.connect(kService, kPath, kService, "NotificationClosed", this, SLOT(closed(uint, uint)));
}

bool NotificationCenter::post(const QString &title, const QString &body, const QStringList &results) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return false;
  QDBusInterface notifications(kService, kPath, kService, bus);
  if (!notifications.isValid())
    return false;
  QStringList actions;
  if (!results.isEmpty())
    actions << kShowInFolder << "Show in Folder";
  QDBusReply<uint> reply = notifications.call("Notify", QStringLiteral("Kestrova"), uint(0), QStringLiteral("kestrova"),
                                              title, body, actions, QVariantMap(), int(-1));
  if (!reply.isValid())
    return false;
  if (!results.isEmpty())
    results_[reply.value()] = results;
  return true;
}

void NotificationCenter::actionInvoked(uint id, const QString &key) {
  auto found = results_.find(id);
  if (found == results_.end() || key != kShowInFolder)
    return;
  revealInFileManager(found->second.front());
}

void NotificationCenter::closed(uint id, uint) {
  results_.erase(id);
}

bool revealInFileManager(const QString &path) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusInterface fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                               "org.freedesktop.FileManager1", bus);
    if (fileManager.isValid()) {
      QDBusReply<void> reply =
          fileManager.call("ShowItems", QStringList{QUrl::fromLocalFile(path).toString()}, QString());
      if (reply.isValid())
        return true;
    }
  }
  QString folder = QFileInfo(path).isDir() ? path : QFileInfo(path).absolutePath();
  return QProcess::startDetached("xdg-open", {folder});
}

} // namespace kestrova::ui
