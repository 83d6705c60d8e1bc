#include "ui/ActionArea.h"

#include "ui/Captions.h"
#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kestrova::ui {

namespace {

QString text(std::string_view value) {
  return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

long long wholePercent(double fraction) {
  double percent = std::trunc(fraction * 100);
  return std::isfinite(percent) ? static_cast<long long>(percent) : 0;
}

} // namespace

StagePresentation presentationOf(ConversionStage stage) {
  const QColor blue(0x1e, 0x6f, 0xe8), green(0x2e, 0xa0, 0x43), red(0xd9, 0x30, 0x25);
  switch (stage) {
  case ConversionStage::idle:
    return {"circle", blue};
  case ConversionStage::demuxing:
    return {"opticaldisc", blue};
  case ConversionStage::interleaving:
    return {"arrow.triangle.2.circlepath", blue};
  case ConversionStage::decoding:
    return {"play.rectangle", blue};
  case ConversionStage::encoding:
    return {"film", blue};
  case ConversionStage::encodingMVHEVC:
  case ConversionStage::convertingMVHEVC:
    return {"visionpro", blue};
  case ConversionStage::complete:
    return {"checkmark.circle.fill", green};
  case ConversionStage::failed:
    return {"xmark.circle.fill", red};
  }
  return {"circle", blue};
}

QString batchProgressText(std::int64_t index, std::size_t count, double fileFraction) {
  if (count == 0)
    return {};
  double overall = (static_cast<double>(index) + std::clamp(fileFraction, 0.0, 1.0)) / static_cast<double>(count);
  return QString("%1 of %2 \u00b7 %3 %").arg(index + 1).arg(count).arg(wholePercent(overall));
}

ActionArea::ActionArea(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QStackedWidget(parent), model_(std::move(model)) {
  setObjectName("actionArea");
  addWidget(buildIdlePage());
  addWidget(buildRunningPage());
  addWidget(buildCompletePage());
}

QWidget *ActionArea::buildIdlePage() {
  auto *page = qtChild<QWidget>(this);
  auto *layout = qtChild<QVBoxLayout>(page);
  layout->addStretch(1);
  convertButton_ = actionButton("Convert to SBS 3D", "play.fill", "convertButton", page);
  convertButton_->setDefault(true);
  convertButton_->setMinimumHeight(36);
  connect(convertButton_, &QPushButton::clicked, this, [this] { model_->startConversion(); });
  layout->addWidget(convertButton_);
  return page;
}

QWidget *ActionArea::buildRunningPage() {
  auto *page = qtChild<QWidget>(this);
  auto *layout = qtChild<QVBoxLayout>(page);
  auto *stageRow = qtChild<QHBoxLayout>();
  stageIcon_ = qtChild<QLabel>(page);
  stageLabel_ = headline("", page);
  stageLabel_->setObjectName("stageLabel");
  stageRow->addWidget(stageIcon_);
  stageRow->addWidget(stageLabel_, 1);
  layout->addLayout(stageRow);
  progressBar_ = qtChild<StageProgressBar>(page);
  progressBar_->setObjectName("progressBar");
  layout->addWidget(progressBar_);
  auto *numbers = qtChild<QHBoxLayout>();
  etaLabel_ = caption("", page, "etaLabel");
  batchProgress_ = caption("", page, "batchProgressLabel");
  keepSpaceWhenHidden(batchProgress_);
  percentLabel_ = caption("0%", page, "percentLabel");
  QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  digits.setPointSizeF(percentLabel_->font().pointSizeF());
  percentLabel_->setFont(digits);
  numbers->addWidget(etaLabel_, 1);
  numbers->addWidget(batchProgress_);
  numbers->addSpacing(12);
  numbers->addWidget(percentLabel_);
  layout->addLayout(numbers);
  auto *cancel = actionButton("Cancel", "xmark.circle", "cancelButton", page);
  connect(cancel, &QPushButton::clicked, this, [this] { model_->cancelConversion(); });
  layout->addWidget(cancel);
  return page;
}

QWidget *ActionArea::buildCompletePage() {
  auto *page = qtChild<QWidget>(this);
  auto *layout = qtChild<QVBoxLayout>(page);
  layout->addStretch(1);
  summaryLabel_ = caption("", page, "summaryLabel");
  keepSpaceWhenHidden(summaryLabel_);
  layout->addWidget(summaryLabel_);
  auto *buttons = qtChild<QHBoxLayout>();
  auto *reveal = actionButton("Show in Folder", "folder", "revealButton", page);
  connect(reveal, &QPushButton::clicked, this, [this] { model_->revealInFinder(); });
  auto *again = actionButton("Convert Another", "arrow.counterclockwise", "convertAnotherButton", page);
  connect(again, &QPushButton::clicked, this, [this] { model_->resetForNewConversion(); });
  buttons->addWidget(reveal);
  buttons->addWidget(again);
  layout->addLayout(buttons);
  return page;
}

void ActionArea::refresh() {
  const app::ConverterModel &m = *model_;
  if (m.isConverting()) {
    setCurrentIndex(1);
    StagePresentation look = presentationOf(m.currentStage());
    stageIcon_->setPixmap(tintedSymbol(look.symbol, look.color).pixmap(20, 20));
    stageLabel_->setText(text(rawValue(m.currentStage())));
    progressBar_->setFillColor(look.color);
    progressBar_->setFraction(m.progress());
    etaLabel_->setText(m.estimatedTimeRemaining() ? QString::fromStdString(*m.estimatedTimeRemaining()) : QString());
    const bool batch = m.isBatchMode();
    batchProgress_->setVisible(batch);
    batchProgress_->setText(batch ? batchProgressText(m.currentQueueIndex(), m.fileQueue().size(), m.progress())
                                  : QString());
    percentLabel_->setText(QString("%1%").arg(wholePercent(m.progress())));
  } else if (m.currentStage() == ConversionStage::complete) {
    setCurrentIndex(2);
    auto summary = m.conversionTimeSummary();
    summaryLabel_->setVisible(summary.has_value());
    summaryLabel_->setText(summary ? QString::fromStdString(*summary) : QString());
  } else {
    setCurrentIndex(0);
    convertButton_->setText(m.outputTarget() == OutputTarget::visionPro ? "Convert to MV-HEVC" : "Convert to SBS 3D");
    convertButton_->setEnabled(m.selectionConvertible());
  }
}

} // namespace kestrova::ui
