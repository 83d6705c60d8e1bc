#include "ui/ContentView.h"

#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>
#include <fmt/format.h>

namespace kestrova::ui {

namespace {

QString text(std::string_view value) {
  return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

QLabel *iconLabel(const char *symbol, QWidget *parent, int size = 18) {
  auto *label = qtChild<QLabel>(parent);
  label->setPixmap(symbolIcon(symbol).pixmap(size, size));
  return label;
}

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

QPushButton *button(const QString &label, const char *symbol, const char *name, QWidget *parent) {
  auto *b = qtChild<QPushButton>(symbolIcon(symbol), label, parent);
  b->setObjectName(name);
  return b;
}

template <class E> std::vector<std::pair<QString, int>> enumOptions() {
  std::vector<std::pair<QString, int>> options;
  for (E value : allCases<E>())
    options.emplace_back(text(rawValue(value)), static_cast<int>(value));
  return options;
}

std::vector<std::pair<QString, int>> durationOptions() {
  return {{"2 min", 120}, {"5 min", 300}, {"Full movie", 0}};
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

QString statusText(const app::ConverterModel &model) {
  if (model.isConverting())
    return "Converting...";
  if (model.currentStage() == ConversionStage::complete)
    return "Conversion complete";
  if (model.errorMessage())
    return "Error: " + QString::fromStdString(*model.errorMessage());
  return "Ready";
}

ContentView::ContentView(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QWidget(parent), model_(std::move(model)) {
  setWindowTitle("Kestrova");
  auto *outer = qtChild<QVBoxLayout>(this);
  auto *scroll = qtChild<QScrollArea>(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto *content = qtChild<QWidget>(scroll);
  auto *column = qtChild<QVBoxLayout>(content);
  column->setSpacing(14);
  buildSourceArea(column);
  buildSettings(column);
  buildActionArea(column);
  column->addStretch(1);
  scroll->setWidget(content);
  outer->addWidget(scroll, 1);

  auto *statusBar = qtChild<QHBoxLayout>();
  statusLabel_ = caption("Ready", this, "statusLabel");
  auto *build = caption("Build 134", this, "buildLabel");
  QFont tiny = build->font();
  tiny.setPointSizeF(tiny.pointSizeF() * 0.85);
  build->setFont(tiny);
  statusBar->addWidget(statusLabel_, 1);
  statusBar->addWidget(build);
  outer->addLayout(statusBar);

  // Observers run on the main thread after each change; the view is owned
  // by Qt and unsubscribes in its destructor, so the capture stays valid.
  subscription_ = model_->subscribe([this](app::ModelField field) { refresh(field); });
  // A failure that happened before the window existed is not announced.
  failureAlerted_ = model_->currentStage() == ConversionStage::failed;
  refresh(app::ModelField::fileQueue);
}

ContentView::~ContentView() {
  model_->unsubscribe(subscription_);
}

void ContentView::buildSourceArea(QVBoxLayout *column) {
  dropZone_ = qtChild<DropZone>(this);
  dropZone_->setObjectName("dropZone");
  auto *zone = qtChild<QVBoxLayout>(dropZone_);
  zone->setAlignment(Qt::AlignCenter);
  auto *disc = iconLabel("opticaldisc.fill", dropZone_, 40);
  disc->setAlignment(Qt::AlignCenter);
  zone->addWidget(disc);
  auto *title = headline("Drop 3D Video File", dropZone_);
  title->setAlignment(Qt::AlignCenter);
  zone->addWidget(title);
  auto *browse = button("Browse...", "folder", "browseButton", dropZone_);
  browse->setFlat(true);
  browse->setCursor(Qt::PointingHandCursor);
  zone->addWidget(browse, 0, Qt::AlignCenter);
  connect(browse, &QPushButton::clicked, this, [this] { model_->browseForFiles(); });
  dropZone_->onDrop = [this](const std::vector<std::string> &paths) {
    model_->dropFiles(std::vector<std::filesystem::path>(paths.begin(), paths.end()));
  };
  column->addWidget(dropZone_);

  fileList_ = qtChild<QWidget>(this);
  auto *list = qtChild<QVBoxLayout>(fileList_);
  list->setContentsMargins(0, 0, 0, 0);
  auto *header = qtChild<QHBoxLayout>();
  header->addWidget(iconLabel("film.stack", fileList_));
  fileHeader_ = headline("Source File", fileList_);
  fileHeader_->setObjectName("fileHeader");
  header->addWidget(fileHeader_);
  header->addStretch(1);
  batchCaption_ = caption("", fileList_, "batchCaption");
  header->addWidget(batchCaption_);
  list->addLayout(header);
  fileRows_ = qtChild<QVBoxLayout>();
  list->addLayout(fileRows_);
  column->addWidget(fileList_);
}

void ContentView::buildSettings(QVBoxLayout *column) {
  auto *header = qtChild<QHBoxLayout>();
  header->addWidget(iconLabel("gearshape.fill", this));
  header->addWidget(headline("Output Settings", this));
  lockedCaption_ = caption("Locked during conversion", this, "lockedCaption");
  header->addWidget(lockedCaption_);
  header->addStretch(1);
  column->addLayout(header);

  qualityPicker_ = qtChild<SegmentedPicker>("Quality Preset", enumOptions<QualityPreset>(), [this](int value) {
    model_->setQualityPreset(static_cast<QualityPreset>(value));
  });
  qualityPicker_->setObjectName("qualityPicker");
  column->addWidget(qualityPicker_);
  codecPicker_ = qtChild<SegmentedPicker>("Video Codec", enumOptions<OutputCodec>(), [this](int value) {
    model_->setOutputCodec(static_cast<OutputCodec>(value));
  });
  codecPicker_->setObjectName("codecPicker");
  column->addWidget(codecPicker_);
  codecCaption_ = caption("Hardware accelerated via Apple Silicon", this, "codecCaption");
  column->addWidget(codecCaption_);
  targetPicker_ = qtChild<SegmentedPicker>("Output Target", enumOptions<OutputTarget>(), [this](int value) {
    model_->setOutputTarget(static_cast<OutputTarget>(value));
  });
  targetPicker_->setObjectName("targetPicker");
  column->addWidget(targetPicker_);
  targetCaption_ = caption("Creates spatial video playable on Apple Vision Pro", this, "targetCaption");
  column->addWidget(targetCaption_);
  durationPicker_ = qtChild<SegmentedPicker>("Duration Limit", durationOptions(),
                                             [this](int value) { model_->setDebugLimitSeconds(value); });
  durationPicker_->setObjectName("durationPicker");
  column->addWidget(durationPicker_);

  auto *directoryRow = qtChild<QHBoxLayout>();
  auto *directoryColumn = qtChild<QVBoxLayout>();
  directoryColumn->addWidget(qtChild<QLabel>("Output Directory", this));
  outputDirectory_ = caption("Not selected", this, "outputDirectoryLabel");
  outputDirectory_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  directoryColumn->addWidget(outputDirectory_);
  directoryRow->addLayout(directoryColumn, 1);
  auto *choose = button("", "folder", "chooseDirectoryButton", this);
  connect(choose, &QPushButton::clicked, this, [this] { model_->chooseOutputDirectory(); });
  directoryRow->addWidget(choose);
  column->addLayout(directoryRow);
}

void ContentView::buildActionArea(QVBoxLayout *column) {
  actions_ = qtChild<QStackedWidget>(this);
  actions_->setObjectName("actionArea");

  auto *idle = qtChild<QWidget>(actions_);
  auto *idleLayout = qtChild<QVBoxLayout>(idle);
  convertButton_ = button("Convert to SBS 3D", "play.fill", "convertButton", idle);
  convertButton_->setDefault(true);
  convertButton_->setMinimumHeight(36);
  connect(convertButton_, &QPushButton::clicked, this, [this] { model_->startConversion(); });
  idleLayout->addWidget(convertButton_);
  actions_->addWidget(idle);

  auto *running = qtChild<QWidget>(actions_);
  auto *runningLayout = qtChild<QVBoxLayout>(running);
  auto *stageRow = qtChild<QHBoxLayout>();
  stageIcon_ = qtChild<QLabel>(running);
  stageLabel_ = headline("", running);
  stageLabel_->setObjectName("stageLabel");
  stageRow->addWidget(stageIcon_);
  stageRow->addWidget(stageLabel_, 1);
  runningLayout->addLayout(stageRow);
  progressBar_ = qtChild<StageProgressBar>(running);
  progressBar_->setObjectName("progressBar");
  runningLayout->addWidget(progressBar_);
  auto *numbers = qtChild<QHBoxLayout>();
  etaLabel_ = caption("", running, "etaLabel");
  percentLabel_ = caption("0%", running, "percentLabel");
  percentLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  numbers->addWidget(etaLabel_, 1);
  numbers->addWidget(percentLabel_);
  runningLayout->addLayout(numbers);
  auto *cancel = button("Cancel", "xmark.circle", "cancelButton", running);
  connect(cancel, &QPushButton::clicked, this, [this] { model_->cancelConversion(); });
  runningLayout->addWidget(cancel);
  actions_->addWidget(running);

  auto *complete = qtChild<QWidget>(actions_);
  auto *completeLayout = qtChild<QVBoxLayout>(complete);
  summaryLabel_ = caption("", complete, "summaryLabel");
  completeLayout->addWidget(summaryLabel_);
  auto *buttons = qtChild<QHBoxLayout>();
  auto *reveal = button("Reveal in Finder", "folder", "revealButton", complete);
  connect(reveal, &QPushButton::clicked, this, [this] { model_->revealInFinder(); });
  auto *again = button("Convert Another", "arrow.counterclockwise", "convertAnotherButton", complete);
  connect(again, &QPushButton::clicked, this, [this] { model_->resetForNewConversion(); });
  buttons->addWidget(reveal);
  buttons->addWidget(again);
  completeLayout->addLayout(buttons);
  actions_->addWidget(complete);

  column->addWidget(actions_);
}

void ContentView::refresh(app::ModelField field) {
  using app::ModelField;
  const app::ConverterModel &m = *model_;
  // Rebuilding the rows is the only costly part of a redraw; progress and log
  // changes arrive many times a second and leave the rows alone.
  if (field != ModelField::progress && field != ModelField::logs && field != ModelField::estimatedTimeRemaining)
    refreshFileList();
  lockedCaption_->setVisible(m.isConverting());
  qualityPicker_->select(static_cast<int>(m.qualityPreset()));
  codecPicker_->select(static_cast<int>(m.outputCodec()));
  targetPicker_->select(static_cast<int>(m.outputTarget()));
  durationPicker_->select(static_cast<int>(m.debugLimitSeconds()));
  codecCaption_->setVisible(m.outputCodec() == OutputCodec::h265);
  targetCaption_->setVisible(m.outputTarget() == OutputTarget::visionPro);
  outputDirectory_->setText(m.outputDirectory() ? QString::fromStdString(m.outputDirectory()->string())
                                                : QString("Not selected"));
  refreshActionArea();
  statusLabel_->setText(statusText(m));

  // The alert belongs to the change into the failed stage. The model sets
  // the stage and the message one after the other, in either order, so the
  // alert waits for both and opens once per failure.
  if (m.currentStage() != ConversionStage::failed) {
    failureAlerted_ = false;
  } else if (!failureAlerted_ && m.errorMessage()) {
    failureAlerted_ = true;
    showErrorAlert(QString::fromStdString(*m.errorMessage()));
  }
}

void ContentView::refreshFileList() {
  const app::ConverterModel &m = *model_;
  const auto &queue = m.fileQueue();
  fileList_->setVisible(!queue.empty());
  fileHeader_->setText(queue.size() == 1 ? QString("Source File") : QString("Files (%1)").arg(queue.size()));
  bool batchActive = m.isBatchMode() && m.isConverting();
  batchCaption_->setVisible(batchActive);
  batchCaption_->setText(QString("Converting %1 of %2").arg(m.currentQueueIndex() + 1).arg(queue.size()));

  while (std::unique_ptr<QLayoutItem> item{fileRows_->takeAt(0)}) {
    if (QWidget *widget = item->widget()) {
      // The click that led here may have come from a button in this row, so
      // the row is only detached now (hidden, out of the window) and deleted
      // once control is back in the event loop.
      widget->hide();
      widget->setParent(nullptr);
      widget->deleteLater();
    }
  }
  for (std::size_t i = 0; i < queue.size(); ++i) {
    auto *row = qtChild<QWidget>(fileList_);
    row->setObjectName(QString("fileRow%1").arg(i));
    auto *rowColumn = qtChild<QVBoxLayout>(row);
    rowColumn->setContentsMargins(0, 0, 0, 0);
    auto *line = qtChild<QHBoxLayout>();
    auto index = static_cast<std::int64_t>(i);
    if (m.isConverting() && index == m.currentQueueIndex()) {
      auto *spinner = qtChild<QProgressBar>(row);
      spinner->setObjectName("spinner");
      spinner->setRange(0, 0);
      spinner->setFixedSize(18, 10);
      spinner->setTextVisible(false);
      line->addWidget(spinner);
    } else if (m.isConverting() && index < m.currentQueueIndex()) {
      auto *done = iconLabel("checkmark.circle.fill", row, 16);
      done->setObjectName("doneMark");
      line->addWidget(done);
    } else {
      line->addWidget(iconLabel("film", row, 16));
    }
    auto *name = qtChild<QLabel>(QString::fromStdString(queue[i].filename().string()), row);
    name->setObjectName("fileName");
    line->addWidget(name, 1);
    if (!m.isConverting()) {
      auto *remove = qtChild<QPushButton>(symbolIcon("xmark.circle.fill"), "", row);
      remove->setObjectName("removeButton");
      remove->setFlat(true);
      connect(remove, &QPushButton::clicked, this, [this, index] { model_->removeFromQueue(index); });
      line->addWidget(remove);
    }
    rowColumn->addLayout(line);
    if (auto info = m.fileInfoMap().find(queue[i]); info != m.fileInfoMap().end()) {
      auto *duration = caption(QString::fromStdString(info->second.durationText()), row, "durationCaption");
      duration->setIndent(24);
      rowColumn->addWidget(duration);
    }
    fileRows_->addWidget(row);
  }
}

void ContentView::refreshActionArea() {
  const app::ConverterModel &m = *model_;
  if (m.isConverting()) {
    actions_->setCurrentIndex(1);
    StagePresentation look = presentationOf(m.currentStage());
    stageIcon_->setPixmap(symbolIcon(look.symbol).pixmap(20, 20));
    stageLabel_->setText(text(rawValue(m.currentStage())));
    progressBar_->setFillColor(look.color);
    progressBar_->setFraction(m.progress());
    etaLabel_->setText(m.estimatedTimeRemaining() ? QString::fromStdString(*m.estimatedTimeRemaining()) : QString());
    double percent = std::trunc(m.progress() * 100);
    percentLabel_->setText(QString("%1%").arg(std::isfinite(percent) ? static_cast<long long>(percent) : 0));
  } else if (m.currentStage() == ConversionStage::complete) {
    actions_->setCurrentIndex(2);
    auto summary = m.conversionTimeSummary();
    summaryLabel_->setVisible(summary.has_value());
    summaryLabel_->setText(summary ? QString::fromStdString(*summary) : QString());
  } else {
    actions_->setCurrentIndex(0);
    convertButton_->setText(m.outputTarget() == OutputTarget::visionPro ? "Convert to MV-HEVC" : "Convert to SBS 3D");
    convertButton_->setEnabled(m.sourceFileURL().has_value());
  }
}

void ContentView::showErrorAlert(const QString &message) {
  if (errorAlert_)
    errorAlert_->close();
  // Window-modal and opened without a nested event loop, so the model keeps
  // being served while the alert is up.
  auto *alert = qtChild<QMessageBox>(QMessageBox::Critical, "Conversion Failed", message, QMessageBox::Ok, this);
  alert->setObjectName("errorAlert");
  alert->setAttribute(Qt::WA_DeleteOnClose);
  alert->open();
  errorAlert_ = alert;
}

} // namespace kestrova::ui
