#pragma once

#include <QColor>
#include <QFrame>
#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QButtonGroup;
class QLabel;

namespace kestrova::ui {

/// The dashed drop target for file URLs. Calls `onDrop` with the local paths
/// of a drop; highlights while a drag with URLs hovers over it.
class DropZone : public QFrame {
  Q_OBJECT
public:
  explicit DropZone(QWidget *parent = nullptr);
  std::function<void(const std::vector<std::string> &paths)> onDrop;
  bool isDragging() const { return dragging_; }

protected:
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragLeaveEvent(QDragLeaveEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  void paintEvent(QPaintEvent *event) override;

private:
  void setDragging(bool dragging);
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

/// A titled row of mutually exclusive buttons (a segmented control).
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

private:
  QButtonGroup *group_;
  std::vector<std::pair<QString, int>> options_;
};

} // namespace kestrova::ui
