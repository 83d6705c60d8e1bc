#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>

namespace kestrova::ui {

/// Desktop notifications through org.freedesktop.Notifications. A
/// notification about written files offers "Show in Folder", which shows
/// them in the file manager.
class NotificationCenter : public QObject {
  Q_OBJECT
public:
  explicit NotificationCenter(QObject *parent = nullptr);
  /// Posts a notification titled `title`; with `results` it carries the
  /// "Show in Folder" action. Returns false, quietly, when there is no
  /// session bus or no notification service.
  bool post(const QString &title, const QString &body, const QStringList &results);

private slots:
  void actionInvoked(uint id, const QString &key);
  void closed(uint id, uint reason);

private:
  /// The files of each notification still shown that has the action.
  std::map<uint, QStringList> results_;
};

/// Shows `path` selected in the file manager through
/// org.freedesktop.FileManager1.ShowItems, else opens its folder with
/// xdg-open. Returns false, quietly, when neither is possible.
bool revealInFileManager(const QString &path);

} // namespace kestrova::ui
