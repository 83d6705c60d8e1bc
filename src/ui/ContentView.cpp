#include "ui/ContentView.h"

#include "ui/ActionArea.h"
#include "ui/Captions.h"
#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrova::ui {

namespace {

QString text(std::string_view value) {
  return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
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

QString statusText(const app::ConverterModel &model) {
  if (model.isConverting())
    return "Converting...";
  if (model.currentStage() == ConversionStage::complete)
    return "Conversion complete";
  if (model.errorMessage())
    return "Error: " + QString::fromStdString(*model.errorMessage());
  return "Ready";
}

QString hevcEncoderCaption(bool hardwareEncoder) {
  return hardwareEncoder ? "Hardware encoder (hevc_videotoolbox)" : "Software encoder (libx265)";
}

namespace {

// Centres `inner` in a row and caps its width, so that on a wide window the
// controls keep a readable line length instead of stretching edge to edge.
QWidget *centred(QWidget *inner, QWidget *parent) {
  auto *holder = qtChild<QWidget>(parent);
  auto *row = qtChild<QHBoxLayout>(holder);
  row->setContentsMargins(0, 0, 0, 0);
  inner->setMaximumWidth(ContentView::kMaxContentWidth);
  // The column takes nearly all the width until it reaches its cap; the
  // margins then share what is left, keeping it centred.
  row->addStretch(1);
  row->addWidget(inner, 1000);
  row->addStretch(1);
  return holder;
}

} // namespace

ContentView::ContentView(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QWidget(parent), model_(std::move(model)) {
  setWindowTitle("Kestrova");
  auto *outer = qtChild<QVBoxLayout>(this);
  outer->setSpacing(6);

  auto *scroll = qtChild<QScrollArea>(this);
  scroll->setObjectName("settingsScroll");
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto *content = qtChild<QWidget>(scroll);
  auto *column = qtChild<QVBoxLayout>(content);
  column->setSpacing(14);
  buildSourceArea(column);
  buildSettings(column);
  column->addStretch(1);
  scroll->setWidget(centred(content, scroll));
  outer->addWidget(scroll, 1);

  // Outside the scrolling area: whatever the window's height and however
  // long the queue, the buttons that act are on screen.
  actions_ = qtChild<ActionArea>(model_, this);
  outer->addWidget(centred(actions_, this));

  auto *statusBar = qtChild<QHBoxLayout>();
  statusLabel_ = qtChild<ElidedLabel>(this);
  statusLabel_->setObjectName("statusLabel");
  QFont small = statusLabel_->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  statusLabel_->setFont(small);
  statusLabel_->setForegroundRole(QPalette::PlaceholderText);
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
  disc->setObjectName("dropSymbol");
  disc->setAlignment(Qt::AlignCenter);
  zone->addWidget(disc);
  auto *title = headline("Drop 3D Video File", dropZone_);
  title->setAlignment(Qt::AlignCenter);
  zone->addWidget(title);
  auto *browse = actionButton("Browse...", "folder", "browseButton", dropZone_);
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
  keepSpaceWhenHidden(batchCaption_);
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
  keepSpaceWhenHidden(lockedCaption_);
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
  codecCaption_ = caption(hevcEncoderCaption(false), this, "codecCaption");
  keepSpaceWhenHidden(codecCaption_);
  column->addWidget(codecCaption_);
  targetPicker_ = qtChild<SegmentedPicker>("Output Target", enumOptions<OutputTarget>(), [this](int value) {
    model_->setOutputTarget(static_cast<OutputTarget>(value));
  });
  targetPicker_->setObjectName("targetPicker");
  column->addWidget(targetPicker_);
  targetCaption_ = caption("Creates spatial video playable on Apple Vision Pro", this, "targetCaption");
  keepSpaceWhenHidden(targetCaption_);
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
  auto *choose = actionButton("", "folder", "chooseDirectoryButton", this);
  choose->setToolTip("Choose Output Directory");
  connect(choose, &QPushButton::clicked, this, [this] { model_->chooseOutputDirectory(); });
  directoryRow->addWidget(choose);
  column->addLayout(directoryRow);
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
  actions_->refresh();
  statusLabel_->setFullText(statusText(m));

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
  auto converted = [&](const std::filesystem::path &file) {
    const auto &done = m.convertedSources();
    return std::find(done.begin(), done.end(), file) != done.end();
  };
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
    } else if (converted(queue[i])) {
      // The ticks stay after the run, until the queue changes or the next run.
      auto *done = qtChild<QLabel>(row);
      done->setPixmap(
          tintedSymbol("checkmark.circle.fill", presentationOf(ConversionStage::complete).color).pixmap(16));
      done->setObjectName("doneMark");
      line->addWidget(done);
    } else {
      line->addWidget(iconLabel("film", row, 16));
    }
    // A disc's entry bears the disc's name, which its analysis found.
    const auto analysed = m.fileInfoMap().find(queue[i]);
    const std::string shown = analysed != m.fileInfoMap().end() && !analysed->second.fileName.empty()
                                  ? analysed->second.fileName
                                  : queue[i].filename().string();
    auto *name = qtChild<QLabel>(QString::fromStdString(shown), row);
    name->setObjectName("fileName");
    line->addWidget(name, 1);
    if (!m.isConverting()) {
      auto *remove = actionButton("", "xmark.circle.fill", "removeButton", row);
      remove->setFlat(true);
      remove->setToolTip("Remove from Queue");
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

void ContentView::setHardwareHevcEncoder(bool hardware) {
  codecCaption_->setText(hevcEncoderCaption(hardware));
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
