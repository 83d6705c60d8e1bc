#include "ui/DesktopIntegration.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QVariantMap>

namespace kestrova::ui {

bool postDesktopNotification(const QString &title, const QString &body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return false;
  QDBusInterface notifications("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", bus);
  if (!notifications.isValid())
    return false;
  QDBusReply<uint> reply = notifications.call("Notify", QStringLiteral("Kestrova"), uint(0), QStringLiteral("kestrova"),
                                              title, body, QStringList(), QVariantMap(), int(-1));
  return reply.isValid();
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
