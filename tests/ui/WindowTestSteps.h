#pragma once

// Small steps the window's widget tests take: finding what a widget shows,
// clicking an option, dropping files.
#include "WindowStates.h"
#include "ui/Widgets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

namespace kestrova::test {

/// The text of the named label (an elided label's whole text).
inline QString labelText(const WindowHarness &h, const char *name) {
  if (auto *elided = h.find<kestrova::ui::ElidedLabel>(name))
    return elided->fullText();
  auto *label = h.find<QLabel>(name);
  return label ? label->text() : QString("<no %1>").arg(name);
}

/// True when all of `widget` is drawn inside the window (not scrolled away,
/// not cut off at the window's edge).
inline bool wholeInWindow(QWidget *widget, QWidget *window) {
  if (!widget || !widget->isVisible())
    return false;
  QRect box(widget->mapTo(window, QPoint(0, 0)), widget->size());
  return window->rect().contains(box) && widget->visibleRegion().boundingRect().size() == widget->size();
}

/// Whether the named widget is shown in the window.
inline bool shown(WindowHarness &h, const char *name) {
  auto *widget = h.find<QWidget>(name);
  return widget && widget->isVisibleTo(&h.window());
}

/// Clicks the option labelled `option` of the picker named `picker`.
inline void pick(WindowHarness &h, const char *picker, const QString &option) {
  for (auto *button : h.find<QWidget>(picker)->findChildren<QPushButton *>())
    if (button->text() == option) {
      button->click();
      return;
    }
  QFAIL(qPrintable("no option " + option));
}

/// Drags `urls` onto `target` and drops them there.
inline void drop(QWidget *target, const QList<QUrl> &urls) {
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &dropped);
}

} // namespace kestrova::test
