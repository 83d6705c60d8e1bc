#pragma once

#include "app/ConverterModel.h"
#include "core/ConversionStage.h"

#include <QColor>
#include <QStackedWidget>
#include <memory>

class QLabel;
class QPushButton;

namespace kestrova::ui {

class StageProgressBar;

/// How a stage is shown: its symbol name and colour.
struct StagePresentation {
  const char *symbol;
  QColor color;
};
StagePresentation presentationOf(ConversionStage stage);

/// The batch's own progress beside the file's: "2 of 3 · 61 %", the files
/// before the current one counted whole.
QString batchProgressText(std::int64_t index, std::size_t count, double fileFraction);

/// The part of the window that must always be in reach: the Convert button,
/// or while a run goes the stage, its progress and Cancel, or after a run
/// its summary, "Show in Folder" and "Convert Another". The pages share one
/// height, so switching between them moves nothing.
class ActionArea : public QStackedWidget {
  Q_OBJECT
public:
  explicit ActionArea(std::shared_ptr<app::ConverterModel> model, QWidget *parent = nullptr);
  /// Shows the page and the numbers of the model's state.
  void refresh();

private:
  QWidget *buildIdlePage();
  QWidget *buildRunningPage();
  QWidget *buildCompletePage();

  std::shared_ptr<app::ConverterModel> model_;
  QLabel *stageIcon_ = nullptr;
  QLabel *stageLabel_ = nullptr;
  StageProgressBar *progressBar_ = nullptr;
  QLabel *etaLabel_ = nullptr;
  QLabel *batchProgress_ = nullptr;
  QLabel *percentLabel_ = nullptr;
  QLabel *summaryLabel_ = nullptr;
  QPushButton *convertButton_ = nullptr;
};

} // namespace kestrova::ui
