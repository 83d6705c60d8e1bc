#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <string_view>

namespace kestrova::ui {

/// The icon for one of the window's symbol names ("opticaldisc.fill",
/// "checkmark.circle.fill", ...): the first freedesktop theme icon of its row
/// that the current theme has, else the symbol shipped with the program in
/// the palette's text colour, so it reads on light and dark themes alike.
/// An unknown name gets the shipped "circle".
QIcon symbolIcon(std::string_view symbol, const QPalette &palette);

/// The shipped symbol in `color`, whatever the theme has: the stage and
/// outcome symbols carry their meaning in their colour.
QIcon tintedSymbol(std::string_view symbol, const QColor &color);

/// The freedesktop icon names tried for `symbol`, in order (empty when unknown).
QStringList themeNamesFor(std::string_view symbol);

/// Makes the symbols and the program icon built into the program readable
/// under ":/"; safe to call any number of times.
void ensureBuiltInResources();

/// Every symbol name the window uses.
QStringList symbolNames();

} // namespace kestrova::ui
