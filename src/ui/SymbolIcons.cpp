#include "ui/SymbolIcons.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <array>

// The resources live in a static library, where nothing else would pull
// their registration into the program.
static void registerBuiltInResources() {
  Q_INIT_RESOURCE(kestrova);
}

namespace kestrova::ui {

void ensureBuiltInResources() {
  static const bool registered = (registerBuiltInResources(), true);
  (void)registered;
}

namespace {

struct SymbolRow {
  std::string_view symbol;
  std::array<const char *, 3> themeNames; // tried in order; nullptr ends the list
};

// One table for every symbol the window shows; each has a shipped SVG of
// the same name under :/symbols.
constexpr SymbolRow kSymbols[] = {
    {"circle", {"media-record", nullptr, nullptr}},
    {"opticaldisc", {"media-optical", "drive-optical", nullptr}},
    {"opticaldisc.fill", {"media-optical", "drive-optical", nullptr}},
    {"arrow.triangle.2.circlepath", {"view-refresh", "media-playlist-repeat", nullptr}},
    {"play.rectangle", {"video-x-generic", "media-playback-start", nullptr}},
    {"film", {"video-x-generic", "applications-multimedia", nullptr}},
    {"film.stack", {"folder-videos", "video-x-generic", nullptr}},
    {"visionpro", {"video-display", "applications-multimedia", nullptr}},
    {"checkmark.circle.fill", {"emblem-ok", "dialog-ok", "object-select"}},
    {"xmark.circle.fill", {"dialog-error", "process-stop", "window-close"}},
    {"xmark.circle", {"process-stop", "dialog-cancel", "window-close"}},
    {"folder", {"folder", "folder-open", nullptr}},
    {"play.fill", {"media-playback-start", nullptr, nullptr}},
    {"arrow.counterclockwise", {"edit-undo", "view-refresh", nullptr}},
    {"gearshape.fill", {"preferences-system", "configure", nullptr}},
};

const SymbolRow *find(std::string_view symbol) {
  for (const auto &row : kSymbols)
    if (row.symbol == symbol)
      return &row;
  return nullptr;
}

// Renders the monochrome SVG at each size a label or button asks for and
// recolours every drawn pixel, keeping the edges' coverage.
QIcon shipped(std::string_view symbol, const QColor &color) {
  ensureBuiltInResources();
  const QString name = find(symbol) ? QString::fromLatin1(symbol.data(), static_cast<qsizetype>(symbol.size()))
                                    : QStringLiteral("circle");
  QSvgRenderer renderer(QStringLiteral(":/symbols/%1.svg").arg(name));
  QIcon icon;
  for (int size : {16, 18, 20, 24, 32, 40, 48, 64}) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
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

QStringList symbolNames() {
  QStringList names;
  for (const auto &row : kSymbols)
    names << QString::fromLatin1(row.symbol.data(), static_cast<qsizetype>(row.symbol.size()));
  return names;
}

QIcon symbolIcon(std::string_view symbol, const QPalette &palette) {
  for (const QString &name : themeNamesFor(symbol))
    if (QIcon::hasThemeIcon(name))
      return QIcon::fromTheme(name);
  return shipped(symbol, palette.color(QPalette::WindowText));
}

QIcon tintedSymbol(std::string_view symbol, const QColor &color) {
  return shipped(symbol, color);
}

} // namespace kestrova::ui
