#pragma once

#include "app/ConverterModel.h"

#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace kestrova::ui {

/// What the hosts setting says: the file's path, or that only this computer works.
QString hostsText(const std::optional<std::filesystem::path> &hostsFile);

/// The settings of a long film's chunked encode: how many chunks this
/// computer encodes at once, the file naming further machines and whether
/// this computer leaves every chunk to them. Locked
/// during a run like every setting.
class ChunkSettings : public QWidget {
public:
  explicit ChunkSettings(std::shared_ptr<app::ConverterModel> model, QWidget *parent = nullptr);
  /// Shows the model's values; nothing can be changed while `locked`.
  void refresh(bool locked);
  /// The controls in Tab order.
  std::vector<QWidget *> tabStops() const;

private:
  std::shared_ptr<app::ConverterModel> model_;
  QSpinBox *jobs_ = nullptr;
  QLabel *hosts_ = nullptr;
  QPushButton *chooseHosts_ = nullptr;
  QPushButton *clearHosts_ = nullptr;
  QCheckBox *remoteOnly_ = nullptr;
};

} // namespace kestrova::ui
