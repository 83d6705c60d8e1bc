#include "ui/Widgets.h"

#include "ui/QtChild.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kestrova::ui {

DropZone::DropZone(QWidget *parent) : QFrame(parent) {
  setAcceptDrops(true);
  setMinimumHeight(140);
}

void DropZone::setDragging(bool dragging) {
  dragging_ = dragging;
  update();
}

void DropZone::dragEnterEvent(QDragEnterEvent *event) {
  if (event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
    setDragging(true);
  }
}

void DropZone::dragLeaveEvent(QDragLeaveEvent *) {
  setDragging(false);
}

void DropZone::dropEvent(QDropEvent *event) {
  setDragging(false);
  std::vector<std::string> paths;
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile())
      paths.push_back(url.toLocalFile().toStdString());
  event->acceptProposedAction();
  if (onDrop && !paths.empty())
    onDrop(paths);
}

void DropZone::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor accent = palette().color(QPalette::Highlight);
  QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
  if (dragging_) {
    QColor faint = accent;
    faint.setAlphaF(0.1);
    painter.setBrush(faint);
  }
  QPen pen(dragging_ ? accent : QColor(Qt::gray), 2, Qt::DashLine);
  painter.setPen(pen);
  painter.drawRoundedRect(box, 12, 12);
}

StageProgressBar::StageProgressBar(QWidget *parent) : QWidget(parent), fill_(Qt::blue) {
  setMinimumHeight(8);
}

void StageProgressBar::setFraction(double fraction) {
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  update();
}

void StageProgressBar::setFillColor(QColor color) {
  fill_ = color;
  update();
}

void StageProgressBar::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  QColor track(Qt::gray);
  track.setAlphaF(0.2);
  painter.setBrush(track);
  QRectF box = rect();
  double radius = box.height() / 2;
  painter.drawRoundedRect(box, radius, radius);
  painter.setBrush(fill_);
  painter.drawRoundedRect(QRectF(box.left(), box.top(), box.width() * fraction_, box.height()), radius, radius);
}

SegmentedPicker::SegmentedPicker(const QString &title, const std::vector<std::pair<QString, int>> &options,
                                 std::function<void(int)> onPick, QWidget *parent)
    : QWidget(parent), group_(qtChild<QButtonGroup>(this)), options_(options) {
  auto *column = qtChild<QVBoxLayout>(this);
  column->setContentsMargins(0, 0, 0, 0);
  auto *titleLabel = qtChild<QLabel>(title, this);
  titleLabel->setObjectName("pickerTitle");
  QFont small = titleLabel->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  titleLabel->setFont(small);
  titleLabel->setForegroundRole(QPalette::PlaceholderText);
  column->addWidget(titleLabel);
  auto *row = qtChild<QHBoxLayout>();
  row->setSpacing(0);
  group_->setExclusive(true);
  for (std::size_t i = 0; i < options.size(); ++i) {
    auto *button = qtChild<QPushButton>(options[i].first, this);
    button->setCheckable(true);
    button->setObjectName("option:" + options[i].first);
    group_->addButton(button, static_cast<int>(i));
    row->addWidget(button);
  }
  column->addLayout(row);
  connect(group_, &QButtonGroup::idClicked, this, [this, onPick = std::move(onPick)](int id) {
    if (onPick)
      onPick(options_[static_cast<std::size_t>(id)].second);
  });
}

void SegmentedPicker::select(int value) {
  // An exclusive group cannot show "nothing checked"; lift it while clearing.
  group_->setExclusive(false);
  for (std::size_t i = 0; i < options_.size(); ++i)
    group_->button(static_cast<int>(i))->setChecked(options_[i].second == value);
  group_->setExclusive(true);
}

QString SegmentedPicker::selectedLabel() const {
  QAbstractButton *checked = group_->checkedButton();
  return checked ? checked->text() : QString();
}

} // namespace kestrova::ui
