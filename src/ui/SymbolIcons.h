#pragma once

#include <QIcon>
#include <string_view>

namespace kestrova::ui {

/// The icon for one of the window's symbol names ("opticaldisc.fill",
/// "checkmark.circle.fill", ...): the first freedesktop theme icon of its row
/// that the current theme has, else a drawn stand-in, so something always
/// shows. An unknown name gets the drawn stand-in too.
QIcon symbolIcon(std::string_view symbol);

/// The freedesktop icon names tried for `symbol`, in order (empty when unknown).
QStringList themeNamesFor(std::string_view symbol);

} // namespace kestrova::ui
