#pragma once

#include "app/ConverterModel.h"

#include <QDialog>
#include <memory>

class QPlainTextEdit;

namespace kestrova::ui {

/// The log of the current run and the runs since the window opened
/// (View → Log): read-only, following new lines as they come, with Copy and
/// Save. It stays open beside the main window.
class LogWindow : public QDialog {
  Q_OBJECT
public:
  explicit LogWindow(std::shared_ptr<app::ConverterModel> model, QWidget *parent = nullptr);
  ~LogWindow() override;

  /// The text shown, one line per log line.
  QString text() const;
  /// Writes the log to `path`; false (and a message box when shown) when
  /// the file cannot be written.
  bool saveTo(const QString &path);
  /// Puts the whole log on the clipboard.
  void copyAll() const;

private:
  void appendNewLines();
  void chooseFileAndSave();

  std::shared_ptr<app::ConverterModel> model_;
  int subscription_ = 0;
  QPlainTextEdit *view_ = nullptr;
  /// How many of the model's lines (counted from the first ever) are shown.
  std::size_t shownCount_ = 0;
};

} // namespace kestrova::ui
