#pragma once

#include "app/ConverterModel.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kestrova::ui {

class ActionArea;
class ChunkSettings;
class DropZone;
class ElidedLabel;
class SegmentedPicker;
class StageProgressBar;

/// The status bar's text for the model's state.
QString statusText(const app::ConverterModel &model);

/// A source's 3D layout in plain words ("Side by side", "Blu-ray 3D (MVC)").
QString layoutText(const Stereo3DMode &mode);

/// What a queue row says of an analysed file: layout, picture size,
/// duration and the file it becomes ("Side by side · 1920×1080 · 00:01:00
/// → movie_SBS.mkv").
QString fileDetailText(const SourceFileInfo &info, const std::vector<std::string> &outputs);

/// What the codec caption says for H.265: the encoder that will run.
QString hevcEncoderCaption(bool hardwareEncoder);

/// The one window: renders the model's published state and calls its
/// operations. It holds no conversion logic; every change of the model
/// redraws it. The queue and the settings scroll; the action area and the
/// status bar below them stay in view at any window height.
class ContentView : public QWidget {
  Q_OBJECT
public:
  /// The widest the column of controls grows; wider windows centre it.
  static constexpr int kMaxContentWidth = 640;

  explicit ContentView(std::shared_ptr<app::ConverterModel> model, QWidget *parent = nullptr);
  ~ContentView() override;

  /// The "Conversion Failed" alert while it is shown, else null.
  QMessageBox *errorAlert() const { return errorAlert_; }
  DropZone *dropZone() const { return dropZone_; }
  /// Says under the H.265 option which encoder will do the work.
  void setHardwareHevcEncoder(bool hardware);

protected:
  // Files dropped anywhere on the window are taken as if dropped on the zone.
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragLeaveEvent(QDragLeaveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  void addFileRow(std::size_t index);
  /// The row's layout picker and "Swap eyes" box for `file` (shown as `name`).
  QHBoxLayout *layoutChoice(const std::filesystem::path &file, const QString &name, QWidget *row);
  void updateTabOrder();
  void buildSourceArea(QVBoxLayout *column);
  void buildSettings(QVBoxLayout *column);
  void refresh(app::ModelField field);
  void refreshFileList();
  void refreshSubtitlePicker(bool locked);
  void showErrorAlert(const QString &message);

  std::shared_ptr<app::ConverterModel> model_;
  int subscription_ = 0;
  bool failureAlerted_ = false;

  DropZone *dropZone_ = nullptr;
  QWidget *fileList_ = nullptr;
  QVBoxLayout *fileRows_ = nullptr;
  QLabel *fileHeader_ = nullptr;
  QLabel *batchCaption_ = nullptr;
  QLabel *lockedCaption_ = nullptr;
  SegmentedPicker *qualityPicker_ = nullptr;
  SegmentedPicker *codecPicker_ = nullptr;
  SegmentedPicker *targetPicker_ = nullptr;
  SegmentedPicker *durationPicker_ = nullptr;
  /// "None" and the selected file's subtitle tracks with their languages.
  QComboBox *subtitlePicker_ = nullptr;
  QStringList subtitleItems_;
  ChunkSettings *chunkSettings_ = nullptr;
  QLabel *codecCaption_ = nullptr;
  QLabel *targetCaption_ = nullptr;
  QLabel *outputDirectory_ = nullptr;
  QPushButton *browseButton_ = nullptr;
  QPushButton *chooseButton_ = nullptr;
  /// The running file's bar in its queue row.
  QPointer<StageProgressBar> rowProgress_;
  bool hardwareHevc_ = false;
  ActionArea *actions_ = nullptr;
  ElidedLabel *statusLabel_ = nullptr;
  QPointer<QMessageBox> errorAlert_;
};

} // namespace kestrova::ui
