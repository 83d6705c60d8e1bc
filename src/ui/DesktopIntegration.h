#pragma once

#include <QString>

namespace kestrova::ui {

/// Posts a desktop notification titled `title` through
/// org.freedesktop.Notifications. Returns false, quietly, when there is no
/// session bus or no notification service.
bool postDesktopNotification(const QString &title, const QString &body);

/// Shows `path` selected in the file manager through
/// org.freedesktop.FileManager1.ShowItems, else opens its folder with
/// xdg-open. Returns false, quietly, when neither is possible.
bool revealInFileManager(const QString &path);

} // namespace kestrova::ui
