// The window's desktop habits: keyboard, choosers, symbols on a dark
// palette, the log window, times in the locale's format.
#include "WindowStates.h"
#include "WindowTestSteps.h"

#include "ui/ActionArea.h"
#include "ui/LogWindow.h"
#include "ui/QtPlatform.h"
#include "ui/SymbolIcons.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>

using kestrova::test::WindowHarness;
using namespace kestrova::test;
namespace fs = std::filesystem;

class WindowHabitsTest : public QObject {
  Q_OBJECT

private slots:
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

  void keyboardStartsAtBrowseAndEnterPresses() {
    WindowHarness h;
    h.model().addFiles({h.source("a.mkv"), h.source("b.mkv")});
    QVERIFY(WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == 2 && !h.model().isParsing(); }));
    h.window().show();
    QVERIFY(QTest::qWaitForWindowActive(&h.window()));
    QCoreApplication::processEvents(); // the rows made last show now
    auto *browse = h.find<QPushButton>("browseButton");
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(browse));
    // Tab from Browse: each row's remove button, layout and eye swap, then the first setting.
    QWidget *current = browse;
    QStringList stops;
    for (int i = 0; i < 8; ++i) {
      QTest::keyClick(current, Qt::Key_Tab);
      current = QApplication::focusWidget();
      QVERIFY(current);
      stops << current->objectName();
    }
    QCOMPARE(stops, (QStringList{"removeButton", "layoutPicker", "swapEyes", "removeButton", "layoutPicker", "swapEyes",
                                 "option:Balanced", "option:H.264"}));
    // Enter presses the focused button (outside a dialog too).
    h.fixture().dialogs->files = {h.source("c.mkv"), h.source("d.mkv")};
    browse->setFocus();
    QTest::keyClick(browse, Qt::Key_Return);
    QVERIFY(WindowHarness::waitFor([&] { return h.model().fileQueue().size() == 4; }));
  }

  void choosersOpenWhereTheValueIs() {
    WindowHarness h;
    const fs::path film = h.fixture().dir / "films" / "a.mkv";
    kestrova::test::writeFile(film, "x");
    h.fixture().dialogs->files = {film};
    h.model().browseForFiles();
    h.model().browseForFiles();
    QVERIFY(h.fixture().dialogs->lastOpen.startDirectory == film.parent_path());
    h.model().chooseOutputDirectory();
    QVERIFY(h.fixture().dialogs->lastChoose.startDirectory == h.outputDirectory());
    // A new window starts where the last one chose files.
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    kestrova::test::ModelFixture later;
    later.environment.settings = std::make_shared<kestrova::SettingsStore>(h.fixture().dir / "settings.json");
    auto model = later.make();
    model->loadSettings();
    QVERIFY(model->openStartDirectory() == film.parent_path());
  }

  void logWindowFollowsTheRunsAndSaves() {
    WindowHarness h;
    h.model().appendLog("before the window");
    kestrova::ui::LogWindow log(h.sharedModel());
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::succeed);
    const QString text = log.text();
    QVERIFY(text.contains("before the window"));
    QVERIFY(text.contains("Conversion complete"));
    // Every line once, in order.
    QCOMPARE(text.count("before the window"), 1);
    const QString saved = QString::fromStdString((h.fixture().dir / "run.log").string());
    QVERIFY(log.saveTo(saved));
    QCOMPARE(QString::fromStdString(kestrova::test::readFile(saved.toStdString())), text + "\n");
    QVERIFY(!log.saveTo(QString::fromStdString((h.fixture().dir / "missing" / "run.log").string())));
  }

  void summaryTimesFollowTheLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("started");
    QTest::addColumn<bool>("twelveHour");
    QTest::newRow("English (US)") << "en_US"
                                  << "Started 2:05" << true;
    QTest::newRow("German") << "de_DE"
                            << "Started 14:05" << false;
  }
  void summaryTimesFollowTheLocale() {
    QFETCH(QString, locale);
    QFETCH(QString, started);
    QFETCH(bool, twelveHour);
    const QDateTime start(QDate(2026, 1, 5), QTime(14, 5, 7));
    const QString shown = kestrova::ui::runSummaryText(start, start.addSecs(132), QLocale(locale));
    QVERIFY2(shown.startsWith(started), qPrintable(shown));
    QCOMPARE(shown.contains("PM"), twelveHour);
    QVERIFY2(shown.endsWith("Took 2 min 12 s"), qPrintable(shown));
  }
};

QTEST_MAIN(WindowHabitsTest)
#include "WindowHabitsTest.moc"
