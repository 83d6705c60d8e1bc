#include "WindowStates.h"

#include "ui/AboutDialog.h"
#include "ui/ActionArea.h"
#include "ui/QtPlatform.h"
#include "ui/SymbolIcons.h"
#include "ui/Widgets.h"

#include <QTimer>

#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>

using kestrova::test::WindowHarness;
namespace fs = std::filesystem;

namespace {

QString labelText(const WindowHarness &h, const char *name) {
  if (auto *elided = h.find<kestrova::ui::ElidedLabel>(name))
    return elided->fullText();
  auto *label = h.find<QLabel>(name);
  return label ? label->text() : QString("<no %1>").arg(name);
}

/// True when all of `widget` is drawn inside the window (not scrolled away,
/// not cut off at the window's edge).
bool wholeInWindow(QWidget *widget, QWidget *window) {
  if (!widget || !widget->isVisible())
    return false;
  QRect box(widget->mapTo(window, QPoint(0, 0)), widget->size());
  return window->rect().contains(box) && widget->visibleRegion().boundingRect().size() == widget->size();
}

/// The vertical position of a named widget in window coordinates.
int topOf(WindowHarness &h, const char *name) {
  return h.find<QWidget>(name)->mapTo(&h.window(), QPoint(0, 0)).y();
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
    QTest::addColumn<int>("withFile"); // 0 none, 1 a 3D file, 2 a file without 3D
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<bool>("visionCaption");
    QTest::newRow("no file, SBS") << 0 << "SBS 3D (MKV)"
                                  << "Convert to SBS 3D" << false;
    QTest::newRow("no file, Vision Pro") << 0 << "Apple Vision Pro (MV-HEVC)"
                                         << "Convert to MV-HEVC" << true;
    QTest::newRow("file, SBS") << 1 << "SBS 3D (MKV)"
                               << "Convert to SBS 3D" << false;
    QTest::newRow("file, Vision Pro") << 1 << "Apple Vision Pro (MV-HEVC)"
                                      << "Convert to MV-HEVC" << true;
    QTest::newRow("file without 3D") << 2 << "SBS 3D (MKV)"
                                     << "Convert to SBS 3D" << false;
  }
  void convertButtonFollowsSelectionAndTarget() {
    QFETCH(int, withFile);
    QFETCH(QString, target);
    QFETCH(QString, buttonText);
    QFETCH(bool, visionCaption);
    WindowHarness h;
    if (withFile > 0) {
      h.model().dropFiles({h.source("movie.mkv", 60, withFile == 1)});
      QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    }
    pick(h, "targetPicker", target);
    auto *convert = h.find<QPushButton>("convertButton");
    QVERIFY(convert->isVisibleTo(&h.window()));
    QCOMPARE(convert->text(), buttonText);
    QCOMPARE(convert->isEnabled(), withFile == 1);
    QCOMPARE(shown(h, "targetCaption"), visionCaption);
    // The picker stores the choice at once.
    QCOMPARE(h.model().outputTarget() == kestrova::OutputTarget::visionPro, visionCaption);
  }

  void captionsComeAndGoWithoutMovingAnything_data() {
    QTest::addColumn<QString>("picker");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("captionName");
    QTest::addColumn<QString>("captionText");
    QTest::newRow("H.265") << "codecPicker"
                           << "H.265 (HEVC)"
                           << "codecCaption"
                           << "Software encoder (libx265)";
    QTest::newRow("Vision Pro") << "targetPicker"
                                << "Apple Vision Pro (MV-HEVC)"
                                << "targetCaption"
                                << "Creates spatial video playable on Apple Vision Pro";
  }
  void captionsComeAndGoWithoutMovingAnything() {
    QFETCH(QString, picker);
    QFETCH(QString, option);
    QFETCH(QString, captionName);
    QFETCH(QString, captionText);
    WindowHarness h;
    h.window().show();
    const QByteArray name = captionName.toUtf8();
    QVERIFY(!shown(h, name.constData()));
    const int durationTop = topOf(h, "durationPicker"), convertTop = topOf(h, "convertButton");
    pick(h, picker.toUtf8().constData(), option);
    QCoreApplication::processEvents();
    QVERIFY(shown(h, name.constData()));
    QCOMPARE(labelText(h, name.constData()), captionText);
    QCOMPARE(topOf(h, "durationPicker"), durationTop);
    QCOMPARE(topOf(h, "convertButton"), convertTop);
  }

  void fileListHeaderAndCaptions_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("browse");
    QTest::addColumn<QString>("header");
    QTest::newRow("one file") << QStringList{"Avatar.m2ts"} << false << "Source File";
    QTest::newRow("one file chosen with Browse") << QStringList{"Avatar.m2ts"} << true << "Source File";
    QTest::newRow("three files") << QStringList{"a.mkv", "b.m2ts", "c.mov"} << false << "Files (3)";
  }
  void fileListHeaderAndCaptions() {
    QFETCH(QStringList, names);
    QFETCH(bool, browse);
    QFETCH(QString, header);
    WindowHarness h;
    QVERIFY(!shown(h, "fileHeader"));
    std::vector<fs::path> files;
    for (const QString &name : names)
      files.push_back(h.source(name.toStdString(), 3 * 3600 + 2 * 60 + 1));
    if (browse) {
      h.fixture().dialogs->files = files;
      h.find<QPushButton>("browseButton")->click();
    } else {
      h.model().addFiles(files);
    }
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

  void progressStartsFromZeroWithNoTimeLeftYet_data() {
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("fromZero");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0.0 << true << "0%";
    QTest::newRow("42.9 %") << 0.429 << true << "42%";
    QTest::newRow("99.99 %") << 0.9999 << true << "99%";
    QTest::newRow("whole") << 1.0 << true << "100%";
    // A step that begins at 85 % because the steps before it do not apply.
    QTest::newRow("step that begins far in") << 0.85 << false << "0%";
  }
  void progressStartsFromZeroWithNoTimeLeftYet() {
    QFETCH(double, fraction);
    QFETCH(bool, fromZero);
    QFETCH(QString, text);
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(fraction, fromZero);
    QCOMPARE(labelText(h, "percentLabel"), text);
    // One report gives no rate, so there is nothing honest to say yet.
    QCOMPARE(labelText(h, "etaLabel"), QString());
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
    QCOMPARE(labelText(h, "batchProgressLabel"), QString("1 of 3 \u00b7 3 %"));
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(!shown(h, "batchCaption"));
    // The ticks of the converted files stay once the batch is over.
    QCOMPARE(h.view()->findChildren<QLabel *>("doneMark").size(), 3);
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
        << QStringList{"notes.txt"} << 0
        << "Error: Unsupported file format. Please use MKV, M2TS, MP4, MOV, a Blu-ray disc folder or its ISO image.";
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

  void actionsStayInReachOnASmallScreen_data() {
    QTest::addColumn<bool>("afterBatch");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("three files queued") << false << QStringList{"convertButton"};
    QTest::newRow("after a batch") << true << QStringList{"revealButton", "convertAnotherButton"};
  }
  void actionsStayInReachOnASmallScreen() {
    QFETCH(bool, afterBatch);
    QFETCH(QStringList, buttons);
    WindowHarness h;
    h.window().resize(800, 600);
    h.window().show();
    h.model().dropFiles({h.source("a.mkv"), h.source("b.m2ts"), h.source("c.mov")});
    QVERIFY(WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 3 && !h.model().isParsing(); }));
    if (afterBatch) {
      h.startRun(0.5);
      h.finish(WindowHarness::Outcome::succeed);
    }
    QCoreApplication::processEvents();
    for (const QString &name : buttons)
      QVERIFY2(wholeInWindow(h.find<QWidget>(name.toUtf8().constData()), &h.window()), qPrintable(name));
    QVERIFY(wholeInWindow(h.find<QWidget>("statusLabel"), &h.window()));
  }

  void longStatusTextIsCutNotWidened() {
    WindowHarness h;
    h.window().show();
    QCoreApplication::processEvents();
    const int width = h.window().width();
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::fail, std::string(300, 'x') + " in the encoder's last words");
    h.view()->errorAlert()->close();
    QCoreApplication::processEvents();
    auto *status = h.find<kestrova::ui::ElidedLabel>("statusLabel");
    QCOMPARE(h.window().width(), width);
    QVERIFY(status->text().endsWith(QChar(0x2026)));
    QCOMPARE(status->toolTip(), "Error: " + QString::fromStdString(*h.model().errorMessage()));
  }

  void existingOutputIsReplacedOnlyWhenTheUserSaysSo_data() {
    QTest::addColumn<bool>("replace");
    QTest::newRow("keep") << false;
    QTest::newRow("replace") << true;
  }
  void existingOutputIsReplacedOnlyWhenTheUserSaysSo() {
    QFETCH(bool, replace);
    WindowHarness h;
    fs::path source = h.source("movie.mkv");
    fs::create_directories(h.outputDirectory());
    const fs::path earlier = h.outputDirectory() / "movie_SBS.mkv";
    kestrova::test::writeFile(earlier, "earlier result");
    h.fixture().dialogs->replace = replace;
    h.model().dropFiles({source});
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    h.find<QPushButton>("convertButton")->click();
    QCOMPARE(h.fixture().dialogs->askedToReplace.size(), 1u);
    QCOMPARE(h.fixture().dialogs->askedToReplace[0], std::vector<fs::path>{earlier});
    QCOMPARE(h.model().isConverting(), replace);
    if (replace) {
      QVERIFY(WindowHarness::waitFor([&] { return h.model().currentStage() == kestrova::ConversionStage::encoding; }));
      QVERIFY(h.lastJobReplaces());
      h.finish(WindowHarness::Outcome::succeed);
    }
    QCOMPARE(kestrova::test::readFile(earlier) == "earlier result", !replace);
  }

  void replaceQuestionDefaultsToKeeping_data() {
    QTest::addColumn<bool>("clickReplace");
    QTest::newRow("Enter keeps the files") << false;
    QTest::newRow("Replace replaces") << true;
  }
  void replaceQuestionDefaultsToKeeping() {
    QFETCH(bool, clickReplace);
    kestrova::ui::QtDialogs dialogs;
    QString shownText;
    QTimer::singleShot(0, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      QVERIFY(box);
      shownText = box->text();
      if (clickReplace) {
        for (QAbstractButton *button : box->buttons())
          if (button->text() == "Replace")
            button->click();
      } else
        QTest::keyClick(box, Qt::Key_Return);
    });
    QCOMPARE(dialogs.confirmReplace({"/videos/out/movie_SBS.mkv"}), clickReplace);
    QVERIFY(shownText.contains("movie_SBS.mkv"));
    QVERIFY(shownText.contains("/videos/out"));
  }

  void symbolsShowOnADarkPalette_data() {
    QTest::addColumn<QString>("symbol");
    for (const QString &symbol : kestrova::ui::symbolNames())
      QTest::newRow(qPrintable(symbol)) << symbol;
  }
  void symbolsShowOnADarkPalette() {
    QFETCH(QString, symbol);
    const QPalette dark = kestrova::test::darkPalette();
    const QColor background = dark.color(QPalette::Window);
    QImage image = kestrova::ui::symbolIcon(symbol.toStdString(), dark).pixmap(24, 24).toImage();
    QImage onBackground(image.size(), QImage::Format_ARGB32);
    onBackground.fill(background);
    QPainter(&onBackground).drawImage(0, 0, image);
    int differing = 0;
    for (int y = 0; y < onBackground.height(); ++y)
      for (int x = 0; x < onBackground.width(); ++x) {
        QColor c = onBackground.pixelColor(x, y);
        if (std::abs(c.lightness() - background.lightness()) > 60)
          ++differing;
      }
    QVERIFY2(differing >= 8, qPrintable(QString("%1 pixels stand out").arg(differing)));
  }

  void stateSymbolsCarryTheStateColour_data() {
    QTest::addColumn<int>("stage");
    QTest::newRow("encoding, blue") << static_cast<int>(kestrova::ConversionStage::encoding);
    QTest::newRow("complete, green") << static_cast<int>(kestrova::ConversionStage::complete);
    QTest::newRow("failed, red") << static_cast<int>(kestrova::ConversionStage::failed);
  }
  void stateSymbolsCarryTheStateColour() {
    QFETCH(int, stage);
    auto look = kestrova::ui::presentationOf(static_cast<kestrova::ConversionStage>(stage));
    QImage image = kestrova::ui::tintedSymbol(look.symbol, look.color).pixmap(24, 24).toImage();
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (QColor c = image.pixelColor(x, y); c.alpha() == 255) {
          ++opaque;
          QCOMPARE(c.rgb(), look.color.rgb());
        }
    QVERIFY(opaque > 0);
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
