#include "ui/LogWindow.h"

#include "ui/QtChild.h"
#include "ui/Widgets.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>

namespace kestrova::ui {

LogWindow::LogWindow(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QDialog(parent), model_(std::move(model)) {
  setObjectName("logWindow");
  setWindowTitle("Kestrova Log");
  resize(720, 480);
  auto *layout = qtChild<QVBoxLayout>(this);
  view_ = qtChild<QPlainTextEdit>(this);
  view_->setObjectName("logText");
  view_->setReadOnly(true);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setMaximumBlockCount(static_cast<int>(app::ConverterModel::kMaxLogLines));
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(view_, 1);
  auto *buttons = qtChild<QHBoxLayout>();
  auto *copy = qtChild<RingButton>("&Copy", this);
  copy->setObjectName("copyLogButton");
  auto *save = qtChild<RingButton>("&Save...", this);
  save->setObjectName("saveLogButton");
  auto *close = qtChild<RingButton>("Close", this);
  connect(copy, &QPushButton::clicked, this, [this] { copyAll(); });
  connect(save, &QPushButton::clicked, this, [this] { chooseFileAndSave(); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  buttons->addWidget(copy);
  buttons->addWidget(save);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  appendNewLines();
  subscription_ = model_->subscribe([this](app::ModelField field) {
    if (field == app::ModelField::logs)
      appendNewLines();
  });
}

LogWindow::~LogWindow() {
  model_->unsubscribe(subscription_);
}

void LogWindow::appendNewLines() {
  const auto &lines = model_->logs();
  const std::size_t total = model_->loggedLineCount();
  // The model keeps the last lines only; those before them are gone.
  const std::size_t firstKept = total - lines.size();
  std::size_t from = std::max(shownCount_, firstKept) - firstKept;
  QScrollBar *bar = view_->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  for (std::size_t i = from; i < lines.size(); ++i)
    view_->appendPlainText(QString::fromStdString(lines[i]));
  shownCount_ = total;
  if (following)
    bar->setValue(bar->maximum());
}

QString LogWindow::text() const {
  return view_->toPlainText();
}

void LogWindow::copyAll() const {
  QGuiApplication::clipboard()->setText(text() + "\n");
}

bool LogWindow::saveTo(const QString &path) {
  QSaveFile file(path);
  const QByteArray bytes = (text() + "\n").toUtf8();
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  if (isVisible())
    QMessageBox::warning(this, "Log Not Saved", QString("Cannot write %1: %2").arg(path, file.errorString()));
  return false;
}

void LogWindow::chooseFileAndSave() {
  const QString start = QDir::home().filePath("kestrova.log");
  const QString path = QFileDialog::getSaveFileName(this, "Save Log", start, "Log files (*.log *.txt)");
  if (!path.isEmpty())
    saveTo(path);
}

} // namespace kestrova::ui
