#include "ui/SymbolIcons.h"

#include <QPainter>
#include <QPixmap>
#include <array>

namespace kestrova::ui {
namespace {

struct SymbolRow {
  std::string_view symbol;
  std::array<const char *, 3> themeNames; // tried in order; nullptr ends the list
  QChar glyph;                            // drawn when no theme icon exists
};

// One table for every symbol the window shows.
constexpr SymbolRow kSymbols[] = {
    {"circle", {"media-record", "emblem-default", nullptr}, u'\u25CB'},
    {"opticaldisc", {"media-optical", "drive-optical", nullptr}, u'\u25CE'},
    {"opticaldisc.fill", {"media-optical", "drive-optical", nullptr}, u'\u25C9'},
    {"arrow.triangle.2.circlepath", {"view-refresh", "media-playlist-repeat", nullptr}, u'\u21BB'},
    {"play.rectangle", {"video-x-generic", "media-playback-start", nullptr}, u'\u25B6'},
    {"film", {"video-x-generic", "applications-multimedia", nullptr}, u'\u25A4'},
    {"film.stack", {"folder-videos", "video-x-generic", nullptr}, u'\u25A5'},
    {"visionpro", {"video-display", "applications-multimedia", nullptr}, u'\u25D1'},
    {"checkmark.circle.fill", {"emblem-ok", "dialog-ok", "object-select"}, u'\u2714'},
    {"xmark.circle.fill", {"dialog-error", "process-stop", "window-close"}, u'\u2716'},
    {"xmark.circle", {"process-stop", "dialog-cancel", "window-close"}, u'\u2715'},
    {"folder", {"folder", "folder-open", nullptr}, u'\u25A1'},
    {"play.fill", {"media-playback-start", nullptr, nullptr}, u'\u25B6'},
    {"arrow.counterclockwise", {"edit-undo", "view-refresh", nullptr}, u'\u21BA'},
    {"gearshape.fill", {"preferences-system", "configure", nullptr}, u'\u2699'},
};

const SymbolRow *find(std::string_view symbol) {
  for (const auto &row : kSymbols)
    if (row.symbol == symbol)
      return &row;
  return nullptr;
}

QIcon drawn(QChar glyph) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QFont font = painter.font();
  font.setPixelSize(24);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QString(glyph));
  return QIcon(pixmap);
}

} // namespace

QStringList themeNamesFor(std::string_view symbol) {
  QStringList names;
  if (const SymbolRow *row = find(symbol))
    for (const char *name : row->themeNames)
      if (name)
        names << QString::fromLatin1(name);
  return names;
}

QIcon symbolIcon(std::string_view symbol) {
  const SymbolRow *row = find(symbol);
  if (!row)
    return drawn(u'?');
  for (const QString &name : themeNamesFor(symbol))
    if (QIcon::hasThemeIcon(name))
      return QIcon::fromTheme(name);
  return drawn(row->glyph);
}

} // namespace kestrova::ui
