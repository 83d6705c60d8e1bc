#include "ui/Captions.h"

#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QLabel>

namespace kestrova::ui {

QLabel *headline(const QString &value, QWidget *parent) {
  auto *label = qtChild<QLabel>(value, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

QLabel *caption(const QString &value, QWidget *parent, const char *name) {
  auto *label = qtChild<QLabel>(value, parent);
  label->setObjectName(name);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  label->setFont(font);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QLabel *iconLabel(const char *symbol, QWidget *parent, int size) {
  auto *label = qtChild<QLabel>(parent);
  label->setPixmap(symbolIcon(symbol, parent->palette()).pixmap(size, size));
  return label;
}

QPushButton *actionButton(const QString &label, const char *symbol, const char *name, QWidget *parent) {
  auto *button = qtChild<RingButton>(symbolIcon(symbol, parent->palette()), label, parent);
  button->setObjectName(name);
  return button;
}

void keepSpaceWhenHidden(QWidget *widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

} // namespace kestrova::ui
