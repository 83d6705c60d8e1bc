#pragma once

#include "app/ConverterModel.h"
#include "core/ConversionStage.h"

#include <QColor>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace kestrova::ui {

class DropZone;
class SegmentedPicker;
class StageProgressBar;

/// How a stage is shown: its symbol name and colour.
struct StagePresentation {
  const char *symbol;
  QColor color;
};
StagePresentation presentationOf(ConversionStage stage);

/// The status bar's text for the model's state.
QString statusText(const app::ConverterModel &model);

/// The one window: renders the model's published state and calls its
/// operations. It holds no conversion logic; every change of the model
/// redraws it.
class ContentView : public QWidget {
  Q_OBJECT
public:
  explicit ContentView(std::shared_ptr<app::ConverterModel> model, QWidget *parent = nullptr);
  ~ContentView() override;

  /// The "Conversion Failed" alert while it is shown, else null.
  QMessageBox *errorAlert() const { return errorAlert_; }
  DropZone *dropZone() const { return dropZone_; }

private:
  void buildSourceArea(QVBoxLayout *column);
  void buildSettings(QVBoxLayout *column);
  void buildActionArea(QVBoxLayout *column);
  void refresh(app::ModelField field);
  void refreshFileList();
  void refreshActionArea();
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
  QLabel *codecCaption_ = nullptr;
  QLabel *targetCaption_ = nullptr;
  QLabel *outputDirectory_ = nullptr;
  QStackedWidget *actions_ = nullptr;
  QLabel *stageIcon_ = nullptr;
  QLabel *stageLabel_ = nullptr;
  StageProgressBar *progressBar_ = nullptr;
  QLabel *etaLabel_ = nullptr;
  QLabel *percentLabel_ = nullptr;
  QLabel *summaryLabel_ = nullptr;
  QPushButton *convertButton_ = nullptr;
  QLabel *statusLabel_ = nullptr;
  QPointer<QMessageBox> errorAlert_;
};

} // namespace kestrova::ui
