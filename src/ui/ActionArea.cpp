#include "ui/ActionArea.h"

#include "core/Log.h"
#include "ui/Captions.h"
#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kestrova::ui {

namespace {

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

QString stageName(ConversionStage stage, bool fromDisc) {
  switch (stage) {
  case ConversionStage::idle:
    return "Ready";
  case ConversionStage::demuxing:
    return fromDisc ? "Reading the disc" : "Reading the file";
  case ConversionStage::interleaving:
    return "Preparing both eyes";
  case ConversionStage::decoding:
    return "Decoding both eyes";
  case ConversionStage::encoding:
    return "Encoding side by side";
  case ConversionStage::encodingMVHEVC:
  case ConversionStage::convertingMVHEVC:
    return "Encoding for Vision Pro";
  case ConversionStage::complete:
    return "Complete";
  case ConversionStage::failed:
    return "Failed";
  }
  return {};
}

QString batchProgressText(std::int64_t index, std::size_t count, double batchFraction) {
  if (count == 0)
    return {};
  return QString("File %1 of %2 \u2014 %3 % of the batch")
      .arg(index + 1)
      .arg(count)
      .arg(wholePercent(std::clamp(batchFraction, 0.0, 1.0)));
}

QString resumeText(const pipeline::ResumedChunks &resumed) {
  return QString("Resuming: %1 of %2 chunks done").arg(resumed.done).arg(resumed.total);
}

QString warningsText(const std::vector<std::string> &warnings) {
  constexpr std::size_t kShown = 3;
  QStringList lines;
  for (std::size_t i = 0; i < std::min(warnings.size(), kShown); ++i)
    lines << QString::fromStdString(std::string(kWarningMark) + warnings[i]);
  if (warnings.size() > kShown)
    lines << QString("%1 more in the log (View \u25b8 Log)").arg(warnings.size() - kShown);
  return lines.join('\n');
}

QString runSummaryText(const QDateTime &start, const QDateTime &end, const QLocale &locale) {
  const qint64 seconds = std::max<qint64>(0, start.secsTo(end));
  const QString took = seconds < 60     ? QString("%1 s").arg(seconds)
                       : seconds < 3600 ? QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60)
                                        : QString("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
  return QString("Started %1 \u00b7 Finished %2 \u00b7 Took %3")
      .arg(locale.toString(start.time(), QLocale::ShortFormat), locale.toString(end.time(), QLocale::ShortFormat),
           took);
}

namespace {

QDateTime localDateTime(app::TimePoint when) {
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count());
}

bool isDiscSource(const app::ConverterModel &m) {
  if (m.sourceInfo())
    return m.sourceInfo()->stereoMode.kind() == Stereo3DMode::Kind::mvcSingleTrack ||
           m.sourceInfo()->stereoMode.kind() == Stereo3DMode::Kind::mvcSeparateTracks;
  return false;
}

} // namespace

ActionArea::ActionArea(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QStackedWidget(parent), model_(std::move(model)) {
  setObjectName("actionArea");
  addWidget(buildIdlePage());
  addWidget(buildRunningPage());
  addWidget(buildCompletePage());
  connect(this, &QStackedWidget::currentChanged, this, [this] { updateGeometry(); });
  // Between progress reports the remaining time is looked at again, so a
  // step that reports nothing for a while does not leave it frozen.
  auto *estimate = qtChild<QTimer>(this);
  estimate->setInterval(1000);
  connect(estimate, &QTimer::timeout, this, [this] {
    if (model_->isConverting())
      model_->refreshEstimate();
  });
  estimate->start();
}

QSize ActionArea::sizeHint() const {
  return currentWidget() ? currentWidget()->sizeHint() : QStackedWidget::sizeHint();
}

QSize ActionArea::minimumSizeHint() const {
  return currentWidget() ? currentWidget()->minimumSizeHint() : QStackedWidget::minimumSizeHint();
}

QPushButton *ActionArea::firstButton() const {
  switch (currentIndex()) {
  case 1:
    return cancelButton_;
  case 2:
    return revealButton_;
  default:
    return convertButton_;
  }
}

QWidget *ActionArea::buildIdlePage() {
  auto *page = qtChild<QWidget>(this);
  auto *layout = qtChild<QVBoxLayout>(page);
  convertButton_ = actionButton("&Convert to SBS 3D", "play.fill", "convertButton", page);
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
  fileLabel_ = caption("", page, "runningFileLabel");
  stageRow->addWidget(fileLabel_);
  layout->addLayout(stageRow);
  // Shown when the run takes up an earlier run's finished chunks.
  resumeLabel_ = caption("", page, "resumeLabel");
  resumeLabel_->hide();
  layout->addWidget(resumeLabel_);
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
  cancelButton_ = actionButton("C&ancel", "xmark.circle", "cancelButton", page);
  connect(cancelButton_, &QPushButton::clicked, this, [this] { model_->cancelConversion(); });
  layout->addWidget(cancelButton_);
  return page;
}

QWidget *ActionArea::buildCompletePage() {
  auto *page = qtChild<QWidget>(this);
  auto *layout = qtChild<QVBoxLayout>(page);
  summaryLabel_ = caption("", page, "summaryLabel");
  keepSpaceWhenHidden(summaryLabel_);
  layout->addWidget(summaryLabel_);
  warningsLabel_ = caption("", page, "warningsLabel");
  warningsLabel_->setWordWrap(true);
  layout->addWidget(warningsLabel_);
  auto *buttons = qtChild<QHBoxLayout>();
  revealButton_ = actionButton("&Show in Folder", "folder", "revealButton", page);
  connect(revealButton_, &QPushButton::clicked, this, [this] { model_->revealInFinder(); });
  auto *again = actionButton("Convert A&nother", "arrow.counterclockwise", "convertAnotherButton", page);
  connect(again, &QPushButton::clicked, this, [this] { model_->resetForNewConversion(); });
  buttons->addWidget(revealButton_);
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
    stageLabel_->setText(stageName(m.currentStage(), isDiscSource(m)));
    fileLabel_->setText(m.sourceFileURL() ? QString::fromStdString(m.sourceFileURL()->filename().string()) : QString());
    progressBar_->setFillColor(look.color);
    progressBar_->setFraction(m.progress());
    resumeLabel_->setVisible(m.resumedChunks().has_value());
    resumeLabel_->setText(m.resumedChunks() ? resumeText(*m.resumedChunks()) : QString());
    etaLabel_->setText(m.estimatedTimeRemaining() ? QString::fromStdString(*m.estimatedTimeRemaining()) : QString());
    const bool batch = m.isBatchMode();
    batchProgress_->setVisible(batch);
    batchProgress_->setText(batch ? batchProgressText(m.currentQueueIndex(), m.runFileCount(), m.batchFraction())
                                  : QString());
    percentLabel_->setText(QString("%1%").arg(wholePercent(m.progress())));
  } else if (m.currentStage() == ConversionStage::complete) {
    setCurrentIndex(2);
    const bool timed = m.conversionStartTime() && m.conversionEndTime();
    summaryLabel_->setVisible(timed);
    summaryLabel_->setText(timed ? runSummaryText(localDateTime(*m.conversionStartTime()),
                                                  localDateTime(*m.conversionEndTime()), QLocale::system())
                                 : QString());
    warningsLabel_->setVisible(!m.runWarnings().empty());
    warningsLabel_->setText(warningsText(m.runWarnings()));
  } else {
    setCurrentIndex(0);
    convertButton_->setText(m.outputTarget() == OutputTarget::visionPro ? "&Convert to MV-HEVC" : "&Convert to SBS 3D");
    convertButton_->setEnabled(m.selectionConvertible());
  }
}

} // namespace kestrova::ui
