#include "ui/AboutDialog.h"

#include <QMessageBox>
#include <QString>

namespace kestrova::ui {

const char *applicationVersion() {
#ifdef KESTROVA_VERSION
  constexpr const char *version = KESTROVA_VERSION;
  return version[0] ? version : "1.0";
#else
  return "1.0";
#endif
}

QString aboutText(const char *version) {
  return QStringLiteral("<h3>Kestrova</h3><p>Version %1<br>Build 134</p>"
                        "<p>Convert Blu-ray 3D to Apple Vision Pro spatial video</p>")
      .arg(QString::fromUtf8(version && version[0] ? version : "1.0"));
}

void showAboutDialog(QWidget *parent) {
  QMessageBox::about(parent, QStringLiteral("About Kestrova"), aboutText(applicationVersion()));
}

} // namespace kestrova::ui
