#include "WindowStates.h"

#include "ui/AboutDialog.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>

using kestrova::test::WindowHarness;
namespace fs = std::filesystem;

namespace {

QString labelText(const WindowHarness &h, const char *name) {
  auto *label = h.find<QLabel>(name);
  return label ? label->text() : QString("<no %1>").arg(name);
}

bool shown(WindowHarness &h, const char *name) {
  auto *widget = h.find<QWidget>(name);
  return widget && widget->isVisibleTo(&h.window());
}

/// Clicks the option labelled `option` of the picker named `picker`.
void pick(WindowHarness &h, const char *picker, const QString &option) {
  for (auto *button : h.find<QWidget>(picker)->findChildren<QPushButton *>())
    if (button->text() == option) {
      button->click();
      return;
    }
  QFAIL(qPrintable("no option " + option));
}

void drop(QWidget *target, const QList<QUrl> &urls) {
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &dropped);
}

} // namespace

class ContentViewTest : public QObject {
  Q_OBJECT

private slots:
  void convertButtonFollowsSelectionAndTarget_data() {
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<bool>("visionCaption");
    QTest::newRow("no file, SBS") << false << "SBS 3D (MKV)"
                                  << "Convert to SBS 3D" << false;
    QTest::newRow("no file, Vision Pro") << false << "Apple Vision Pro (MV-HEVC)"
                                         << "Convert to MV-HEVC" << true;
    QTest::newRow("file, SBS") << true << "SBS 3D (MKV)"
                               << "Convert to SBS 3D" << false;
    QTest::newRow("file, Vision Pro") << true << "Apple Vision Pro (MV-HEVC)"
                                      << "Convert to MV-HEVC" << true;
  }
  void convertButtonFollowsSelectionAndTarget() {
    QFETCH(bool, withFile);
    QFETCH(QString, target);
    QFETCH(QString, buttonText);
    QFETCH(bool, visionCaption);
    WindowHarness h;
    if (withFile)
      h.model().dropFiles({h.source("movie.mkv")});
    pick(h, "targetPicker", target);
    auto *convert = h.find<QPushButton>("convertButton");
    QVERIFY(convert->isVisibleTo(&h.window()));
    QCOMPARE(convert->text(), buttonText);
    QCOMPARE(convert->isEnabled(), withFile);
    QCOMPARE(shown(h, "targetCaption"), visionCaption);
    // The picker stores the choice at once.
    QCOMPARE(h.model().outputTarget() == kestrova::OutputTarget::visionPro, visionCaption);
  }

  void codecCaptionOnlyForHevc() {
    WindowHarness h;
    QVERIFY(!shown(h, "codecCaption"));
    pick(h, "codecPicker", "H.265 (HEVC)");
    QVERIFY(shown(h, "codecCaption"));
    QCOMPARE(labelText(h, "codecCaption"), QString("Hardware accelerated via Apple Silicon"));
  }

  void fileListHeaderAndCaptions_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("header");
    QTest::newRow("one file") << QStringList{"Avatar.m2ts"} << "Source File";
    QTest::newRow("three files") << QStringList{"a.mkv", "b.m2ts", "c.mov"} << "Files (3)";
  }
  void fileListHeaderAndCaptions() {
    QFETCH(QStringList, names);
    QFETCH(QString, header);
    WindowHarness h;
    QVERIFY(!shown(h, "fileHeader"));
    std::vector<fs::path> files;
    for (const QString &name : names)
      files.push_back(h.source(name.toStdString(), 3 * 3600 + 2 * 60 + 1));
    h.model().addFiles(files);
    QVERIFY(WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == files.size(); }));
    QCOMPARE(labelText(h, "fileHeader"), header);
    QStringList shownNames, durations;
    for (auto *label : h.view()->findChildren<QLabel *>("fileName"))
      shownNames << label->text();
    for (auto *label : h.view()->findChildren<QLabel *>("durationCaption"))
      durations << label->text();
    QCOMPARE(shownNames, names);
    QCOMPARE(durations, QStringList(names.size(), "03:02:01"));
    QCOMPARE(h.view()->findChildren<QPushButton *>("removeButton").size(), names.size());
  }

  void percentageIsTruncated_data() {
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0.0 << "0%";
    QTest::newRow("42.9 %") << 0.429 << "42%";
    QTest::newRow("99.99 %") << 0.9999 << "99%";
    QTest::newRow("whole") << 1.0 << "100%";
  }
  void percentageIsTruncated() {
    QFETCH(double, fraction);
    QFETCH(QString, text);
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(fraction);
    QCOMPARE(labelText(h, "percentLabel"), text);
    h.finish(WindowHarness::Outcome::succeed);
  }

  void runningStateLocksTheHeaderButNotThePickers() {
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.42);
    QCOMPARE(labelText(h, "stageLabel"), QString("Encoding SBS 3D..."));
    QVERIFY(shown(h, "cancelButton"));
    QVERIFY(!shown(h, "convertButton"));
    QVERIFY(shown(h, "lockedCaption"));
    QCOMPARE(labelText(h, "statusLabel"), QString("Converting..."));
    QVERIFY(h.view()->findChildren<QPushButton *>("removeButton").isEmpty());
    QCOMPARE(h.view()->findChildren<QWidget *>("spinner").size(), 1);
    // A setting changed mid-run is stored at once, for later files.
    pick(h, "codecPicker", "H.265 (HEVC)");
    QCOMPARE(h.model().outputCodec(), kestrova::OutputCodec::h265);
    QCOMPARE(h.fixture().storedSettings().value("outputCodec", std::string()), std::string("H.265 (HEVC)"));
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(!shown(h, "lockedCaption"));
  }

  void batchCaptionCountsFiles() {
    WindowHarness h;
    h.model().dropFiles({h.source("a.mkv"), h.source("b.mkv"), h.source("c.mkv")});
    h.startRun(0.1);
    QVERIFY(shown(h, "batchCaption"));
    QCOMPARE(labelText(h, "batchCaption"), QString("Converting 1 of 3"));
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(!shown(h, "batchCaption"));
  }

  void completeStateShowsSummaryAndResultButtons() {
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::succeed);
    QCOMPARE(h.model().currentStage(), kestrova::ConversionStage::complete);
    QVERIFY(shown(h, "summaryLabel"));
    QVERIFY(!labelText(h, "summaryLabel").isEmpty());
    QVERIFY(!shown(h, "convertButton"));
    QCOMPARE(labelText(h, "statusLabel"), QString("Conversion complete"));
    h.find<QPushButton>("revealButton")->click();
    QCOMPARE(h.fixture().revealer->revealed.size(), 1u);
    h.find<QPushButton>("convertAnotherButton")->click();
    QVERIFY(shown(h, "convertButton"));
    QCOMPARE(labelText(h, "statusLabel"), QString("Ready"));
  }

  void failureOpensTheAlertOnce() {
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::fail);
    QMessageBox *alert = h.view()->errorAlert();
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QString("Conversion Failed"));
    QVERIFY(h.model().errorMessage());
    const QString message = QString::fromStdString(*h.model().errorMessage());
    QCOMPARE(alert->text(), message);
    QCOMPARE(labelText(h, "statusLabel"), "Error: " + message);
    QVERIFY(shown(h, "convertButton"));
    // Later redraws of the same failed state do not open a second alert.
    alert->button(QMessageBox::Ok)->click();
    h.model().appendLog("another line");
    QVERIFY(WindowHarness::waitFor([&] { return h.view()->errorAlert() == nullptr; }));
  }

  void dropsQueueFilesOrExplainTheRefusal_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("queued");
    QTest::addColumn<QString>("status");
    QTest::newRow("three files") << QStringList{"a.mkv", "b.m2ts", "c.mp4"} << 3 << "Ready";
    QTest::newRow("one film") << QStringList{"a.MKV"} << 1 << "Ready";
    QTest::newRow("one unsupported file")
        << QStringList{"notes.txt"} << 0 << "Error: Unsupported file format. Please use MKV, M2TS, MP4, or MOV.";
  }
  void dropsQueueFilesOrExplainTheRefusal() {
    QFETCH(QStringList, names);
    QFETCH(int, queued);
    QFETCH(QString, status);
    WindowHarness h;
    QList<QUrl> urls;
    for (const QString &name : names)
      urls << QUrl::fromLocalFile(QString::fromStdString(h.source(name.toStdString()).string()));
    auto *zone = h.view()->dropZone();
    drop(zone, urls);
    QVERIFY(!zone->isDragging());
    QCOMPARE(static_cast<int>(h.model().fileQueue().size()), queued);
    QCOMPARE(labelText(h, "statusLabel"), status);
  }

  void everySymbolDrawsSomething_data() {
    QTest::addColumn<QString>("symbol");
    for (const char *symbol :
         {"circle", "opticaldisc", "opticaldisc.fill", "arrow.triangle.2.circlepath", "play.rectangle", "film",
          "film.stack", "visionpro", "checkmark.circle.fill", "xmark.circle.fill", "xmark.circle", "folder",
          "play.fill", "arrow.counterclockwise", "gearshape.fill", "no.such.symbol"})
      QTest::newRow(symbol) << QString(symbol);
  }
  void everySymbolDrawsSomething() {
    QFETCH(QString, symbol);
    QIcon icon = kestrova::ui::symbolIcon(symbol.toStdString());
    QVERIFY(!icon.pixmap(16, 16).isNull());
    QCOMPARE(kestrova::ui::themeNamesFor(symbol.toStdString()).isEmpty(), symbol == "no.such.symbol");
  }

  void aboutTextNamesVersionAndBuild_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("project version") << "0.9.2"
                                     << "Version 0.9.2";
    QTest::newRow("no version") << ""
                                << "Version 1.0";
  }
  void aboutTextNamesVersionAndBuild() {
    QFETCH(QString, version);
    QFETCH(QString, shown);
    const QByteArray bytes = version.toUtf8();
    const QString text = kestrova::ui::aboutText(bytes.constData());
    QVERIFY(text.contains("Kestrova"));
    QVERIFY(text.contains(shown));
    QVERIFY(text.contains("Build 134"));
    QVERIFY(text.contains("Convert Blu-ray 3D to Apple Vision Pro spatial video"));
  }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
