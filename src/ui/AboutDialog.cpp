#include "ui/AboutDialog.h"

#include "ui/SymbolIcons.h"

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
                        "<p>Convert Blu-ray 3D to Apple Vision Pro spatial video</p>"
                        "<p><b>Licences</b><br>"
                        "Kestrova: not stated yet<br>"
                        "x265 (HEVC encoder, in MVHEVCConverter): GNU GPL version 2 or later<br>"
                        "edge264 (MVC decoder): BSD 3-clause<br>"
                        "JM reference decoder (ldecod): the ITU-T and ISO/IEC notices of its sources<br>"
                        "tsMuxeR (Blu-ray demultiplexer): Apache License 2.0</p>"
                        "<p>The full texts are in /usr/share/doc/kestrova/copyright.</p>")
      .arg(QString::fromUtf8(version && version[0] ? version : "1.0"));
}

QIcon applicationIcon() {
  ensureBuiltInResources();
  return QIcon::fromTheme(QStringLiteral("kestrova"), QIcon(QStringLiteral(":/kestrova.svg")));
}

void showAboutDialog(QWidget *parent) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("About Kestrova"), aboutText(applicationVersion()),
                  QMessageBox::Ok, parent);
  box.setObjectName("aboutBox");
  box.setIconPixmap(applicationIcon().pixmap(64, 64));
  box.exec();
}

} // namespace kestrova::ui
