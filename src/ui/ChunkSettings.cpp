#include "ui/ChunkSettings.h"

#include "ui/Captions.h"
#include "ui/QtChild.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kestrova::ui {

QString hostsText(const std::optional<std::filesystem::path> &hostsFile) {
  return hostsFile ? QString::fromStdString(hostsFile->string()) : QString("None: this computer only");
}

ChunkSettings::ChunkSettings(std::shared_ptr<app::ConverterModel> model, QWidget *parent)
    : QWidget(parent), model_(std::move(model)) {
  auto *column = qtChild<QVBoxLayout>(this);
  column->setContentsMargins(0, 0, 0, 0);
  const QString why = "A Blu-ray 3D film longer than two minutes going to Vision Pro is cut into chunks of about a "
                      "minute, encoded at once and joined";

  auto *jobsRow = qtChild<QHBoxLayout>();
  auto *jobsTitle = qtChild<QLabel>("Chunks encoded at once on this computer (&jobs)", this);
  jobs_ = qtChild<QSpinBox>(this);
  jobs_->setObjectName("jobsPicker");
  jobs_->setRange(0, 64);
  jobs_->setSpecialValueText("Automatic");
  jobs_->setKeyboardTracking(false);
  jobs_->setToolTip(why + "; Automatic chooses from the cores and the free memory");
  jobsTitle->setBuddy(jobs_);
  connect(jobs_, &QSpinBox::valueChanged, this, [this](int value) { model_->setChunkJobs(value); });
  jobsRow->addWidget(jobsTitle, 1);
  jobsRow->addWidget(jobs_);
  column->addLayout(jobsRow);

  auto *hostsRow = qtChild<QHBoxLayout>();
  auto *hostsColumn = qtChild<QVBoxLayout>();
  auto *hostsTitle = qtChild<QLabel>("Other &machines (GNU parallel ssh login file)", this);
  hostsColumn->addWidget(hostsTitle);
  hosts_ = caption(hostsText(std::nullopt), this, "hostsFileLabel");
  hosts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  hosts_->setToolTip(why + "; the machines listed need the same Kestrova version");
  hostsColumn->addWidget(hosts_);
  hostsRow->addLayout(hostsColumn, 1);
  chooseHosts_ = actionButton("", "folder", "chooseHostsButton", this);
  chooseHosts_->setToolTip("Choose Hosts File");
  hostsTitle->setBuddy(chooseHosts_);
  connect(chooseHosts_, &QPushButton::clicked, this, [this] { model_->chooseHostsFile(); });
  clearHosts_ = actionButton("", "xmark.circle.fill", "clearHostsButton", this);
  clearHosts_->setToolTip("This Computer Only");
  connect(clearHosts_, &QPushButton::clicked, this, [this] { model_->setHostsFile(std::nullopt); });
  hostsRow->addWidget(chooseHosts_);
  hostsRow->addWidget(clearHosts_);
  column->addLayout(hostsRow);

  remoteOnly_ = qtChild<QCheckBox>("&Leave this computer out: the other machines encode every chunk", this);
  remoteOnly_->setObjectName("remoteOnlyBox");
  remoteOnly_->setToolTip("This computer still reads the film, cuts it and joins the chunks");
  connect(remoteOnly_, &QCheckBox::toggled, this, [this](bool on) { model_->setRemoteOnly(on); });
  column->addWidget(remoteOnly_);
}

void ChunkSettings::refresh(bool locked) {
  const app::ConverterModel &m = *model_;
  {
    const QSignalBlocker quiet(jobs_);
    jobs_->setValue(m.chunkJobs());
  }
  {
    const QSignalBlocker quiet(remoteOnly_);
    remoteOnly_->setChecked(m.remoteOnly());
  }
  hosts_->setText(hostsText(m.hostsFile()));
  remoteOnly_->setEnabled(!locked && m.hostsFile().has_value());
  jobs_->setEnabled(!locked);
  chooseHosts_->setEnabled(!locked);
  clearHosts_->setEnabled(!locked && m.hostsFile().has_value());
}

std::vector<QWidget *> ChunkSettings::tabStops() const {
  return {jobs_, chooseHosts_, clearHosts_, remoteOnly_};
}

} // namespace kestrova::ui
