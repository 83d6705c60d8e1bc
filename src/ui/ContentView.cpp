#include "ui/ContentView.h"

#include "ui/ActionArea.h"
#include "ui/Captions.h"
#include "ui/ChunkSettings.h"
#include "ui/QtChild.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
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

QString layoutText(const Stereo3DMode &mode) {
  switch (mode.kind()) {
  case Stereo3DMode::Kind::mvcSingleTrack:
  case Stereo3DMode::Kind::mvcSeparateTracks:
    return "Blu-ray 3D (MVC)";
  case Stereo3DMode::Kind::frameAlternate:
    return "Frame alternate";
  case Stereo3DMode::Kind::sideBySide:
    return mode.eyeSize() == Stereo3DMode::EyeSize::half ? "Half side by side" : "Side by side";
  case Stereo3DMode::Kind::topAndBottom:
    return mode.eyeSize() == Stereo3DMode::EyeSize::half ? "Half top and bottom" : "Top and bottom";
  case Stereo3DMode::Kind::none:
    return "No 3D found";
  }
  return {};
}

QString fileDetailText(const SourceFileInfo &info, const std::vector<std::string> &outputs) {
  QStringList parts{layoutText(info.stereoMode)};
  if (info.videoWidth > 0 && info.videoHeight > 0)
    parts << QString("%1\u00d7%2").arg(info.videoWidth).arg(info.videoHeight);
  else if (!info.resolution.empty())
    parts << QString::fromStdString(info.resolution);
  parts << QString::fromStdString(info.durationText());
  QString detail = parts.join(" \u00b7 ");
  if (!outputs.empty())
    detail += " \u2192 " + QString::fromStdString(outputs.back());
  return detail;
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

/// Why a file of the queue failed or cannot be converted, if it did or
/// cannot: what its last run said, or, before any run, why it is refused.
std::optional<std::string> fileProblem(const app::ConverterModel &m, const std::filesystem::path &file, bool running) {
  const auto outcome = m.fileOutcomes().find(file);
  if (outcome != m.fileOutcomes().end())
    return outcome->second.kind != app::FileOutcome::Kind::converted ? std::optional(outcome->second.reason)
                                                                     : std::nullopt;
  return running ? std::nullopt : m.rejection(file);
}

/// A file row's line of why it failed, indented under its name, in the colour of a failure.
QLabel *problemCaption(const std::string &problem, QWidget *row) {
  auto *reason = caption(QString::fromStdString(problem), row, "rowReason");
  reason->setIndent(24);
  reason->setWordWrap(true);
  reason->setForegroundRole(QPalette::WindowText);
  QPalette colours = reason->palette();
  colours.setColor(QPalette::WindowText, presentationOf(ConversionStage::failed).color);
  reason->setPalette(colours);
  return reason;
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
  // The scroll area itself is no Tab stop: it would take focus and show none.
  scroll->setFocusPolicy(Qt::NoFocus);
  setAcceptDrops(true);
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
  browseButton_->setFocus();
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
  browseButton_ = actionButton("&Browse...", "folder", "browseButton", dropZone_);
  browseButton_->setFlat(true);
  browseButton_->setCursor(Qt::PointingHandCursor);
  zone->addWidget(browseButton_, 0, Qt::AlignCenter);
  connect(browseButton_, &QPushButton::clicked, this, [this] { model_->browseForFiles(); });
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

  qualityPicker_ = qtChild<SegmentedPicker>("&Quality Preset", enumOptions<QualityPreset>(), [this](int value) {
    model_->setQualityPreset(static_cast<QualityPreset>(value));
  });
  qualityPicker_->setObjectName("qualityPicker");
  column->addWidget(qualityPicker_);
  codecPicker_ = qtChild<SegmentedPicker>("Video Co&dec", enumOptions<OutputCodec>(), [this](int value) {
    model_->setOutputCodec(static_cast<OutputCodec>(value));
  });
  codecPicker_->setObjectName("codecPicker");
  column->addWidget(codecPicker_);
  codecCaption_ = caption(hevcEncoderCaption(false), this, "codecCaption");
  keepSpaceWhenHidden(codecCaption_);
  column->addWidget(codecCaption_);
  targetPicker_ = qtChild<SegmentedPicker>("Output &Target", enumOptions<OutputTarget>(), [this](int value) {
    model_->setOutputTarget(static_cast<OutputTarget>(value));
  });
  targetPicker_->setObjectName("targetPicker");
  column->addWidget(targetPicker_);
  targetCaption_ = caption("Creates spatial video playable on Apple Vision Pro", this, "targetCaption");
  keepSpaceWhenHidden(targetCaption_);
  column->addWidget(targetCaption_);
  durationPicker_ = qtChild<SegmentedPicker>("Duration &Limit", durationOptions(),
                                             [this](int value) { model_->setDebugLimitSeconds(value); });
  durationPicker_->setObjectName("durationPicker");
  column->addWidget(durationPicker_);
  auto *subtitleRow = qtChild<QHBoxLayout>();
  auto *subtitleTitle = qtChild<QLabel>("&Subtitles burned in", this);
  subtitleRow->addWidget(subtitleTitle);
  subtitlePicker_ = qtChild<QComboBox>(this);
  subtitlePicker_->setObjectName("subtitlePicker");
  subtitleTitle->setBuddy(subtitlePicker_);
  connect(subtitlePicker_, &QComboBox::activated, this, [this](int index) { model_->setSubtitleTrack(index); });
  subtitleRow->addWidget(subtitlePicker_, 1);
  column->addLayout(subtitleRow);
  chunkSettings_ = qtChild<ChunkSettings>(model_, this);
  column->addWidget(chunkSettings_);

  auto *directoryRow = qtChild<QHBoxLayout>();
  auto *directoryColumn = qtChild<QVBoxLayout>();
  auto *directoryTitle = qtChild<QLabel>("&Output Directory", this);
  directoryColumn->addWidget(directoryTitle);
  outputDirectory_ = caption("Not selected", this, "outputDirectoryLabel");
  outputDirectory_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  directoryColumn->addWidget(outputDirectory_);
  directoryRow->addLayout(directoryColumn, 1);
  chooseButton_ = actionButton("", "folder", "chooseDirectoryButton", this);
  chooseButton_->setToolTip("Choose Output Directory");
  directoryTitle->setBuddy(chooseButton_);
  connect(chooseButton_, &QPushButton::clicked, this, [this] { model_->chooseOutputDirectory(); });
  directoryRow->addWidget(chooseButton_);
  column->addLayout(directoryRow);
}

void ContentView::refresh(app::ModelField field) {
  using app::ModelField;
  const app::ConverterModel &m = *model_;
  // Rebuilding the rows is the only costly part of a redraw; progress and log
  // changes arrive many times a second and leave the rows alone.
  if (field != ModelField::progress && field != ModelField::logs && field != ModelField::estimatedTimeRemaining)
    refreshFileList();
  if (rowProgress_)
    rowProgress_->setFraction(m.progress());
  // The settings are locked during a run: shown, but not to be changed.
  const bool locked = m.isConverting();
  lockedCaption_->setVisible(locked);
  const bool visionPro = m.outputTarget() == OutputTarget::visionPro;
  for (QWidget *setting : {static_cast<QWidget *>(qualityPicker_), static_cast<QWidget *>(targetPicker_),
                           static_cast<QWidget *>(durationPicker_), static_cast<QWidget *>(chooseButton_)})
    setting->setEnabled(!locked);
  // Vision Pro files are always HEVC: the codec choice does not apply.
  codecPicker_->setEnabled(!locked && !visionPro);
  qualityPicker_->select(static_cast<int>(m.qualityPreset()));
  codecPicker_->select(static_cast<int>(m.outputCodec()));
  targetPicker_->select(static_cast<int>(m.outputTarget()));
  durationPicker_->select(static_cast<int>(m.debugLimitSeconds()));
  refreshSubtitlePicker(locked);
  chunkSettings_->refresh(locked);
  codecCaption_->setVisible(visionPro || m.outputCodec() == OutputCodec::h265);
  codecCaption_->setText(visionPro ? QString("Vision Pro files are always H.265 (MV-HEVC)")
                                   : hevcEncoderCaption(hardwareHevc_));
  targetCaption_->setVisible(visionPro);
  outputDirectory_->setText(m.outputDirectory() ? QString::fromStdString(m.outputDirectory()->string())
                                                : QString("Not selected"));
  const int actionPage = actions_->currentIndex();
  actions_->refresh();
  if (actions_->currentIndex() != actionPage)
    updateTabOrder();
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

void ContentView::refreshSubtitlePicker(bool locked) {
  const app::ConverterModel &m = *model_;
  QStringList items{"None"};
  if (m.sourceInfo())
    for (std::size_t i = 0; i < m.sourceInfo()->subtitleLanguages.size(); ++i) {
      const auto &forced = m.sourceInfo()->subtitleForced;
      items << QString("%1: %2%3")
                   .arg(i + 1)
                   .arg(QString::fromStdString(m.sourceInfo()->subtitleLanguages[i]),
                        i < forced.size() && forced[i] ? QString(" (forced)") : QString());
    }
  if (items != subtitleItems_) {
    subtitleItems_ = items;
    subtitlePicker_->clear();
    subtitlePicker_->addItems(items);
  }
  subtitlePicker_->setCurrentIndex(std::min(m.subtitleTrack(), static_cast<int>(items.size()) - 1));
  subtitlePicker_->setEnabled(!locked && items.size() > 1);
  subtitlePicker_->setToolTip(items.size() > 1 ? QString("Burned into both eyes at the depth the disc gives them")
                                               : QString("The source has no subtitle track"));
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
  rowProgress_.clear();
  for (std::size_t i = 0; i < queue.size(); ++i)
    addFileRow(i);
  updateTabOrder();
}

void ContentView::addFileRow(std::size_t i) {
  const app::ConverterModel &m = *model_;
  const std::filesystem::path &file = m.fileQueue()[i];
  const auto index = static_cast<std::int64_t>(i);
  const bool running = m.isConverting() && index == m.currentQueueIndex();
  const auto outcome = m.fileOutcomes().find(file);
  const std::optional<std::string> problem = fileProblem(m, file, running);

  auto *row = qtChild<QWidget>(fileList_);
  row->setObjectName(QString("fileRow%1").arg(i));
  auto *rowColumn = qtChild<QVBoxLayout>(row);
  rowColumn->setContentsMargins(0, 0, 0, 0);
  rowColumn->setSpacing(2);
  auto *line = qtChild<QHBoxLayout>();
  auto mark = [&](ConversionStage look, const char *name) {
    auto *label = qtChild<QLabel>(row);
    label->setPixmap(tintedSymbol(presentationOf(look).symbol, presentationOf(look).color).pixmap(16));
    label->setObjectName(name);
    line->addWidget(label);
  };
  if (outcome != m.fileOutcomes().end() && outcome->second.kind == app::FileOutcome::Kind::converted)
    mark(ConversionStage::complete, "doneMark"); // the ticks stay until the queue changes or the next run
  else if (problem && !running)
    mark(ConversionStage::failed, "problemMark");
  else
    line->addWidget(iconLabel("film", row, 16));
  // A disc's entry bears the disc's name, which its analysis found.
  const auto analysed = m.fileInfoMap().find(file);
  const std::string shown = analysed != m.fileInfoMap().end() && !analysed->second.fileName.empty()
                                ? analysed->second.fileName
                                : file.filename().string();
  auto *name = qtChild<QLabel>(QString::fromStdString(shown), row);
  name->setObjectName("fileName");
  line->addWidget(name, 1);
  if (!m.isConverting()) {
    auto *remove = actionButton("", "xmark.circle.fill", "removeButton", row);
    remove->setFlat(true);
    remove->setToolTip("Remove from Queue");
    remove->setAccessibleName("Remove " + name->text() + " from the queue");
    connect(remove, &QPushButton::clicked, this, [this, index] { model_->removeFromQueue(index); });
    line->addWidget(remove);
  }
  rowColumn->addLayout(line);
  if (running) {
    rowProgress_ = qtChild<StageProgressBar>(row);
    rowProgress_->setObjectName("rowProgress");
    rowProgress_->setFixedHeight(4);
    rowProgress_->setFillColor(presentationOf(ConversionStage::encoding).color);
    rowProgress_->setFraction(m.progress());
    rowColumn->addWidget(rowProgress_);
  }
  if (auto info = m.fileInfoMap().find(file); info != m.fileInfoMap().end()) {
    auto *detail = caption(fileDetailText(info->second, m.plannedOutputNames(file)), row, "fileDetail");
    detail->setIndent(24);
    detail->setWordWrap(true);
    rowColumn->addWidget(detail);
  }
  rowColumn->addLayout(layoutChoice(file, name->text(), row));
  if (problem && !running)
    rowColumn->addWidget(problemCaption(*problem, row));
  fileRows_->addWidget(row);
}

QHBoxLayout *ContentView::layoutChoice(const std::filesystem::path &file, const QString &name, QWidget *row) {
  const app::ConverterModel &m = *model_;
  const app::FileLayout given = m.fileLayout(file);
  auto *choice = qtChild<QHBoxLayout>();
  choice->setContentsMargins(24, 0, 0, 0);
  auto *picker = qtChild<QComboBox>(row);
  picker->setObjectName("layoutPicker");
  picker->setAccessibleName("3D layout of " + name);
  picker->setToolTip("How this file holds its two eyes; Automatic takes what the file says");
  for (StereoLayout value : allCases<StereoLayout>())
    picker->addItem(text(rawValue(value)), static_cast<int>(value));
  picker->setCurrentIndex(picker->findData(static_cast<int>(given.layout)));
  auto *swap = qtChild<QCheckBox>("Swap eyes", row);
  swap->setObjectName("swapEyes");
  swap->setAccessibleName("Swap the eyes of " + name);
  swap->setChecked(given.swapEyes);
  // Like the settings, a file's layout is locked while a run is going.
  picker->setEnabled(!m.isConverting());
  swap->setEnabled(!m.isConverting());
  connect(picker, &QComboBox::activated, this, [this, file, picker](int index) {
    app::FileLayout chosen = model_->fileLayout(file);
    chosen.layout = static_cast<StereoLayout>(picker->itemData(index).toInt());
    model_->setFileLayout(file, chosen);
  });
  connect(swap, &QCheckBox::toggled, this, [this, file](bool on) {
    app::FileLayout chosen = model_->fileLayout(file);
    chosen.swapEyes = on;
    model_->setFileLayout(file, chosen);
  });
  choice->addWidget(picker);
  choice->addWidget(swap);
  choice->addStretch(1);
  return choice;
}

void ContentView::updateTabOrder() {
  // Tab starts at Browse, walks each queue row (remove, layout, eye swap),
  // the settings in the order they are shown, then the buttons that act.
  std::vector<QWidget *> chain{browseButton_};
  for (int i = 0; i < fileRows_->count(); ++i) {
    if (QWidget *row = fileRows_->itemAt(i)->widget()) {
      for (auto *remove : row->findChildren<QPushButton *>("removeButton"))
        chain.push_back(remove);
      for (const char *name : {"layoutPicker", "swapEyes"})
        if (auto *control = row->findChild<QWidget *>(name))
          chain.push_back(control);
    }
  }
  for (SegmentedPicker *picker : {qualityPicker_, codecPicker_, targetPicker_, durationPicker_})
    chain.push_back(picker->tabStop());
  chain.push_back(subtitlePicker_);
  for (QWidget *control : chunkSettings_->tabStops())
    chain.push_back(control);
  chain.push_back(chooseButton_);
  for (QPushButton *button : actions_->findChildren<QPushButton *>())
    chain.push_back(button);
  for (std::size_t i = 1; i < chain.size(); ++i)
    QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void ContentView::dragEnterEvent(QDragEnterEvent *event) {
  if (event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
    dropZone_->setDragging(true);
  }
}

void ContentView::dragLeaveEvent(QDragLeaveEvent *) {
  dropZone_->setDragging(false);
}

void ContentView::dropEvent(QDropEvent *event) {
  dropZone_->setDragging(false);
  std::vector<std::string> paths = droppedPaths(event->mimeData());
  event->acceptProposedAction();
  if (!paths.empty())
    dropZone_->onDrop(paths);
}

void ContentView::setHardwareHevcEncoder(bool hardware) {
  hardwareHevc_ = hardware;
  refresh(app::ModelField::outputCodec);
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
