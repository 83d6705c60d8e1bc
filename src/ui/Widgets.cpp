#include "ui/Widgets.h"

#include "ui/QtChild.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleOption>
#include <QStylePainter>
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

std::vector<std::string> droppedPaths(const QMimeData *mime) {
  std::vector<std::string> paths;
  for (const QUrl &url : mime->urls())
    if (url.isLocalFile())
      paths.push_back(url.toLocalFile().toStdString());
  return paths;
}

void DropZone::dropEvent(QDropEvent *event) {
  setDragging(false);
  std::vector<std::string> paths = droppedPaths(event->mimeData());
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

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent) {
  // Ignored: the layout gives the label whatever width is left over, and a
  // long text can never push the window wider.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text) {
  full_ = text;
  elide();
}

QSize ElidedLabel::minimumSizeHint() const {
  return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
  QLabel::resizeEvent(event);
  elide();
}

void ElidedLabel::elide() {
  QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, contentsRect().width()));
  setText(shown);
  setToolTip(shown == full_ ? QString() : full_);
}

namespace {

void drawFocusRing(QWidget *widget, QPainter &painter) {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(widget->palette().color(QPalette::Highlight), 2));
  painter.drawRoundedRect(QRectF(widget->rect()).adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
}

} // namespace

void RingButton::paintEvent(QPaintEvent *event) {
  QPushButton::paintEvent(event);
  if (hasFocus()) {
    QPainter painter(this);
    drawFocusRing(this, painter);
  }
}

void RingButton::keyPressEvent(QKeyEvent *event) {
  // Outside dialogs Qt presses a focused button only with Space; a desktop
  // user expects Enter to do it too.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
    animateClick();
    event->accept();
    return;
  }
  QPushButton::keyPressEvent(event);
}

QSize SegmentButton::sizeHint() const {
  QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
  return {text.width() + 20, std::max(text.height() + 12, 28)};
}

void SegmentButton::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette &colors = palette();
  QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const bool checked = isChecked();
  QColor fill = checked ? colors.color(QPalette::Highlight) : colors.color(QPalette::Button);
  if (!checked && underMouse())
    fill = fill.lighter(108);
  painter.setPen(QPen(colors.color(QPalette::Mid), 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(box, 4, 4);
  painter.setPen(colors.color(checked ? QPalette::HighlightedText : QPalette::ButtonText));
  QFont font = this->font();
  font.setBold(checked);
  painter.setFont(font);
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
  if (hasFocus()) {
    // On the highlight fill the ring is drawn in the text colour so it shows.
    painter.setPen(QPen(colors.color(checked ? QPalette::HighlightedText : QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), 3, 3);
  }
}

SegmentedPicker::SegmentedPicker(const QString &title, const std::vector<std::pair<QString, int>> &options,
                                 std::function<void(int)> onPick, QWidget *parent)
    : QWidget(parent), group_(qtChild<QButtonGroup>(this)), title_(qtChild<QLabel>(title, this)), options_(options) {
  auto *column = qtChild<QVBoxLayout>(this);
  column->setContentsMargins(0, 0, 0, 0);
  title_->setObjectName("pickerTitle");
  QFont small = title_->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  title_->setFont(small);
  title_->setForegroundRole(QPalette::PlaceholderText);
  column->addWidget(title_);
  auto *row = qtChild<QHBoxLayout>();
  row->setSpacing(2);
  group_->setExclusive(true);
  for (std::size_t i = 0; i < options.size(); ++i) {
    auto *button = qtChild<SegmentButton>(options[i].first, this);
    button->setCheckable(true);
    button->installEventFilter(this);
    button->setObjectName("option:" + options[i].first);
    group_->addButton(button, static_cast<int>(i));
    row->addWidget(button);
  }
  column->addLayout(row);
  connect(group_, &QButtonGroup::idClicked, this, [this, onPick = std::move(onPick)](int id) {
    if (onPick)
      onPick(options_[static_cast<std::size_t>(id)].second);
    updateTabStop();
  });
  updateTabStop();
}

QAbstractButton *SegmentedPicker::tabStop() const {
  return group_->checkedButton() ? group_->checkedButton() : group_->button(0);
}

void SegmentedPicker::updateTabStop() {
  // Only the checked option takes Tab focus, so Tab into the picker lands
  // on the current choice (the first option when none is checked).
  QAbstractButton *stop = tabStop();
  for (QAbstractButton *button : group_->buttons())
    button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
  title_->setBuddy(stop);
}

bool SegmentedPicker::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  int key = static_cast<QKeyEvent *>(event)->key();
  int step = key == Qt::Key_Left || key == Qt::Key_Up ? -1 : key == Qt::Key_Right || key == Qt::Key_Down ? 1 : 0;
  auto *button = qobject_cast<QAbstractButton *>(watched);
  if (step == 0 || !button)
    return QWidget::eventFilter(watched, event);
  int next = group_->id(button) + step;
  if (QAbstractButton *target = group_->button(next)) {
    target->setFocus(Qt::TabFocusReason);
    target->click();
  }
  return true;
}

void SegmentedPicker::select(int value) {
  // An exclusive group cannot show "nothing checked"; lift it while clearing.
  group_->setExclusive(false);
  for (std::size_t i = 0; i < options_.size(); ++i)
    group_->button(static_cast<int>(i))->setChecked(options_[i].second == value);
  group_->setExclusive(true);
  updateTabStop();
}

QString SegmentedPicker::selectedLabel() const {
  QAbstractButton *checked = group_->checkedButton();
  return checked ? checked->text() : QString();
}

} // namespace kestrova::ui
