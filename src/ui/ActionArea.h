#pragma once

#include "app/ConverterModel.h"
#include "core/ConversionStage.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QStackedWidget>
#include <memory>
#include <string>
#include <vector>

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

/// The stage in plain words ("Decoding both eyes"); `fromDisc` names the
/// first step for a Blu-ray source.
QString stageName(ConversionStage stage, bool fromDisc);

/// The batch line: "File 2 of 3 — 61 % of the batch".
QString batchProgressText(std::int64_t index, std::size_t count, double batchFraction);

/// "Resuming: 3 of 5 chunks done".
QString resumeText(const pipeline::ResumedChunks &resumed);

/// A finished run's warnings, "⚠️ " and one a line, the first three of them
/// and then how many more the log holds.
QString warningsText(const std::vector<std::string> &warnings);

/// "Started 14:05 · Finished 14:07 · Took 2 min 12 s", the times in the
/// format of `locale`.
QString runSummaryText(const QDateTime &start, const QDateTime &end, const QLocale &locale);

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
  /// The height of the page shown, so that no empty band sits above a
  /// shorter page's buttons.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

private:
  QWidget *buildIdlePage();
  QWidget *buildRunningPage();
  QWidget *buildCompletePage();

  std::shared_ptr<app::ConverterModel> model_;
  QLabel *stageIcon_ = nullptr;
  QLabel *stageLabel_ = nullptr;
  StageProgressBar *progressBar_ = nullptr;
  QLabel *etaLabel_ = nullptr;
  QLabel *resumeLabel_ = nullptr;
  QLabel *batchProgress_ = nullptr;
  QLabel *percentLabel_ = nullptr;
  QLabel *summaryLabel_ = nullptr;
  QLabel *warningsLabel_ = nullptr;
  QLabel *fileLabel_ = nullptr;
  QPushButton *convertButton_ = nullptr;
  QPushButton *cancelButton_ = nullptr;
  QPushButton *revealButton_ = nullptr;

public:
  /// The button of the page shown that Tab reaches first.
  QPushButton *firstButton() const;
};

} // namespace kestrova::ui
