#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QMimeData;

namespace kestrova::ui {

/// The local files among a drag's URLs.
std::vector<std::string> droppedPaths(const QMimeData *mime);

/// The dashed drop target for file URLs. Calls `onDrop` with the local paths
/// of a drop; highlights while a drag with URLs hovers over it (or, through
/// setDragging, over the rest of the window).
class DropZone : public QFrame {
  Q_OBJECT
public:
  explicit DropZone(QWidget *parent = nullptr);
  std::function<void(const std::vector<std::string> &paths)> onDrop;
  bool isDragging() const { return dragging_; }
  void setDragging(bool dragging);

protected:
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragLeaveEvent(QDragLeaveEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  void paintEvent(QPaintEvent *event) override;

private:
  bool dragging_ = false;
};

/// A rounded track with a rounded fill from the left, `fraction` of its width.
class StageProgressBar : public QWidget {
  Q_OBJECT
public:
  explicit StageProgressBar(QWidget *parent = nullptr);
  void setFraction(double fraction);
  void setFillColor(QColor color);
  double fraction() const { return fraction_; }
  QSize sizeHint() const override { return {200, 8}; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  double fraction_ = 0;
  QColor fill_;
};

/// One line of text cut with "…" to the width it is given, never widening
/// its window; the whole text is its tooltip when it does not fit.
class ElidedLabel : public QLabel {
  Q_OBJECT
public:
  explicit ElidedLabel(QWidget *parent = nullptr);
  void setFullText(const QString &text);
  const QString &fullText() const { return full_; }
  QSize minimumSizeHint() const override;

protected:
  void resizeEvent(QResizeEvent *event) override;

private:
  void elide();
  QString full_;
};

/// A push button that draws a focus ring even when flat, so every Tab stop
/// shows where the keyboard is, and that Enter presses when it has focus.
class RingButton : public QPushButton {
  Q_OBJECT
public:
  using QPushButton::QPushButton;

protected:
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
};

/// One option of a segmented control: the checked one filled in the
/// highlight colour, the others in the button colour.
class SegmentButton : public QPushButton {
  Q_OBJECT
public:
  using QPushButton::QPushButton;
  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent *event) override;
};

/// A titled row of mutually exclusive buttons (a segmented control). It is
/// one Tab stop, on the checked option; the arrow keys move along it.
class SegmentedPicker : public QWidget {
  Q_OBJECT
public:
  /// `options` are (label, value) pairs; `onPick` gets the value of a click.
  SegmentedPicker(const QString &title, const std::vector<std::pair<QString, int>> &options,
                  std::function<void(int value)> onPick, QWidget *parent = nullptr);
  /// Checks the option with `value`; none when no option has it.
  void select(int value);
  /// The checked option's label, or an empty text.
  QString selectedLabel() const;
  /// The option Tab lands on (and the title's mnemonic moves to).
  QAbstractButton *tabStop() const;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void updateTabStop();
  QButtonGroup *group_;
  QLabel *title_;
  std::vector<std::pair<QString, int>> options_;
};

} // namespace kestrova::ui
