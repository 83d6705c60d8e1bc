#pragma once

#include <QIcon>
#include <QString>

class QWidget;

namespace kestrova::ui {

/// The application version shown in the about box: the project version when
/// the build has one, else "1.0".
const char *applicationVersion();

/// The about box's text: name, `version` (or "1.0" when it is empty or
/// absent), "Build 134", the credits and the licence of the program and of
/// each tool it ships.
QString aboutText(const char *version);

/// The program's icon: the installed theme icon "kestrova", else the copy
/// built into the program.
QIcon applicationIcon();

/// Shows "About Kestrova": the icon, name, version, "Build 134" and the credits.
void showAboutDialog(QWidget *parent);

} // namespace kestrova::ui
