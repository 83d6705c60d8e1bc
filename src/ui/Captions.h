#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace kestrova::ui {

/// A bold label.
QLabel *headline(const QString &value, QWidget *parent);
/// A small label in the secondary text colour, named `name`.
QLabel *caption(const QString &value, QWidget *parent, const char *name);
/// A label showing `symbol` at `size` pixels in the parent's text colour.
QLabel *iconLabel(const char *symbol, QWidget *parent, int size = 18);
/// A button with a symbol, named `name`, with a focus ring even when flat.
QPushButton *actionButton(const QString &label, const char *symbol, const char *name, QWidget *parent);
/// Hiding `widget` leaves its space empty, so what follows does not move.
void keepSpaceWhenHidden(QWidget *widget);

} // namespace kestrova::ui
