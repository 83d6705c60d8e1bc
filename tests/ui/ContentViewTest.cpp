#include "WindowStates.h"
#include "WindowTestSteps.h"

#include "ui/ActionArea.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>

using kestrova::test::WindowHarness;
using namespace kestrova::test;
namespace fs = std::filesystem;

class ContentViewTest : public QObject {
  Q_OBJECT

private slots:
  void convertButtonFollowsSelectionAndTarget_data() {
    QTest::addColumn<int>("withFile"); // 0 none, 1 a 3D file, 2 a file without 3D
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("visionCaption");
    QTest::newRow("no file, SBS") << 0 << "SBS 3D (MKV)" << false;
    QTest::newRow("file, Vision Pro") << 1 << "Apple Vision Pro (MV-HEVC)" << true;
    QTest::newRow("file without 3D") << 2 << "SBS 3D (MKV)" << false;
  }
  void convertButtonFollowsSelectionAndTarget() {
    QFETCH(int, withFile);
    QFETCH(QString, target);
    QFETCH(bool, visionCaption);
    WindowHarness h;
    if (withFile > 0) {
      h.model().dropFiles({h.source("movie.mkv", 60, withFile == 1)});
      QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    }
    pick(h, "targetPicker", target);
    auto *convert = h.find<QPushButton>("convertButton");
    QVERIFY(convert->isVisibleTo(&h.window()));
    QCOMPARE(convert->isEnabled(), withFile == 1);
    QCOMPARE(shown(h, "targetCaption"), visionCaption);
    QCOMPARE(h.find<QWidget>("codecPicker")->isEnabled(), !visionCaption); // Vision Pro is always HEVC
    // The picker stores the choice at once.
    QCOMPARE(h.model().outputTarget() == kestrova::OutputTarget::visionPro, visionCaption);
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
    QStringList shownNames, details, expected;
    for (auto *label : h.view()->findChildren<QLabel *>("fileName"))
      shownNames << label->text();
    for (auto *label : h.view()->findChildren<QLabel *>("fileDetail"))
      details << label->text();
    for (const QString &name : names)
      expected << "Side by side \u00b7 3840\u00d71080 \u00b7 03:02:01 \u2192 " + QFileInfo(name).completeBaseName() +
                      "_SBS." + QFileInfo(name).suffix();
    QCOMPARE(shownNames, names);
    QCOMPARE(details, expected);
    QCOMPARE(h.view()->findChildren<QPushButton *>("removeButton").size(), names.size());
  }

  void aFilesLayoutAndEyeSwapReachItsConversion() {
    WindowHarness h;
    const fs::path flat = h.source("flat.mkv", 60, false);
    h.model().dropFiles({flat});
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    QVERIFY(!h.find<QPushButton>("convertButton")->isEnabled());
    QVERIFY(h.find<QWidget>("fileRow0")->findChild<QLabel *>("rowReason"));
    auto *picker = h.find<QComboBox>("layoutPicker");
    const int half = picker->findText("Half top and bottom");
    QVERIFY(half > 0);
    picker->setCurrentIndex(half);
    emit picker->activated(half);
    QCoreApplication::processEvents();
    h.find<QCheckBox>("swapEyes")->setChecked(true);
    QCoreApplication::processEvents();
    QVERIFY(h.find<QWidget>("fileRow0")->findChild<QLabel *>("rowReason") == nullptr);
    QVERIFY(h.find<QPushButton>("convertButton")->isEnabled());
    QCOMPARE(labelText(h, "statusLabel"), QString("Ready"));
    h.startRun(0.5);
    QVERIFY(!h.find<QComboBox>("layoutPicker")->isEnabled() && !h.find<QCheckBox>("swapEyes")->isEnabled());
    QCOMPARE(h.lastJob().layout, kestrova::StereoLayout::halfTopAndBottom);
    QVERIFY(h.lastJob().swapEyes);
    h.finish(WindowHarness::Outcome::succeed);
  }

  void runningStateLocksEverySetting_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("key");
    QTest::newRow("quality") << "qualityPicker"
                             << "qualityPreset";
    QTest::newRow("codec") << "codecPicker"
                           << "outputCodec";
    QTest::newRow("target") << "targetPicker"
                            << "outputTarget";
    QTest::newRow("duration") << "durationPicker"
                              << "durationLimit";
    QTest::newRow("output folder") << "chooseDirectoryButton"
                                   << "outputDirectory";
    QTest::newRow("local jobs") << "jobsPicker"
                                << "jobs";
    QTest::newRow("hosts file") << "chooseHostsButton"
                                << "hosts";
    QTest::newRow("this computer left out") << "remoteOnlyBox"
                                            << "remoteOnly";
  }
  void runningStateLocksEverySetting() {
    QFETCH(QString, control);
    QFETCH(QString, key);
    WindowHarness h;
    h.fixture().dialogs->directory = h.fixture().dir / "elsewhere";
    h.model().setHostsFile(h.fixture().dir / "machines");
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.42);
    QVERIFY(shown(h, "lockedCaption") && !shown(h, "resumeLabel"));
    QVERIFY(h.view()->findChildren<QPushButton *>("removeButton").isEmpty());
    QWidget *widget = h.find<QWidget>(control.toUtf8().constData());
    QVERIFY(!widget->isEnabled());
    const nlohmann::json before = h.fixture().storedSettings();
    // Whatever reaches the model during the run (a shortcut, a stray
    // click) changes nothing and stores nothing.
    h.model().setQualityPreset(kestrova::QualityPreset::high);
    h.model().setOutputCodec(kestrova::OutputCodec::h265);
    h.model().setOutputTarget(kestrova::OutputTarget::visionPro);
    h.model().setDebugLimitSeconds(0);
    h.model().chooseOutputDirectory();
    h.model().setChunkJobs(3);
    h.fixture().dialogs->files = {h.fixture().dir / "hosts"};
    h.model().chooseHostsFile();
    h.model().setRemoteOnly(true);
    QVERIFY(h.fixture().storedSettings().value(key.toStdString(), nlohmann::json()) ==
            before.value(key.toStdString(), nlohmann::json()));
    QVERIFY(h.model().outputDirectory() == h.outputDirectory());
    QCOMPARE(h.model().outputTarget(), kestrova::OutputTarget::sbs3D);
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(!shown(h, "lockedCaption"));
    QVERIFY(widget->isEnabled());
  }

  void chunkSettingsAreStoredAndReachTheRun_data() {
    QTest::addColumn<QList<int>>("jobsTyped");
    QTest::addColumn<QString>("hostsClicks"); // the hosts buttons clicked, in order
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("hosts");
    QTest::addColumn<bool>("leaveOut"); // the box to leave this computer out ticked
    QTest::newRow("three jobs, hosts file chosen, this computer left out")
        << QList<int>{3} << "choose" << 3 << true << true;
    QTest::newRow("back to automatic, hosts file cleared") << QList<int>{3, 0} << "choose clear" << 0 << false << false;
  }
  void chunkSettingsAreStoredAndReachTheRun() {
    QFETCH(QList<int>, jobsTyped);
    QFETCH(QString, hostsClicks);
    QFETCH(int, jobs);
    QFETCH(bool, hosts);
    QFETCH(bool, leaveOut);
    WindowHarness h;
    const fs::path hostsFile = h.fixture().dir / "machines";
    h.fixture().dialogs->files = {hostsFile};
    for (int typed : jobsTyped)
      h.find<QSpinBox>("jobsPicker")->setValue(typed);
    for (const QString &button : hostsClicks.split(' ', Qt::SkipEmptyParts))
      h.find<QPushButton>(button == "choose" ? "chooseHostsButton" : "clearHostsButton")->click();
    QCOMPARE(labelText(h, "hostsFileLabel").startsWith(QString::fromStdString(hostsFile.string())), hosts);
    // Without other machines there is nothing to leave this computer out for.
    auto *box = h.find<QCheckBox>("remoteOnlyBox");
    QCOMPARE(box->isEnabled(), hosts);
    if (leaveOut)
      box->click();
    const nlohmann::json stored = h.fixture().storedSettings();
    QCOMPARE(stored.value("jobs", 0), jobs);
    QCOMPARE(stored.value("hosts", std::string()), hosts ? hostsFile.string() : std::string());
    h.model().dropFiles({h.source("movie.m2ts")});
    h.startRun(0.5);
    QCOMPARE(h.lastJob().chunking.jobs, jobs);
    QCOMPARE(h.lastJob().chunking.hosts, hosts ? hostsFile : fs::path());
    QCOMPARE(h.lastJob().chunking.remoteOnly, leaveOut);
    QCOMPARE(stored.value("remoteOnly", false), leaveOut);
  }

  void aResumedRunSaysHowFarTheEarlierRunGot() {
    WindowHarness h;
    h.model().dropFiles({h.source("movie.m2ts")});
    h.startRun(0.69, kestrova::pipeline::ResumedChunks{3, 5});
    QCOMPARE(labelText(h, "resumeLabel"), QString("Resuming: 3 of 5 chunks done"));
    QVERIFY(shown(h, "resumeLabel") && labelText(h, "percentLabel") == "69%");
  }

  void subtitlePickerStartsAtTheFirstForcedTrack_data() {
    QTest::addColumn<QList<bool>>("forced"); // of the tracks eng, fra, deu
    QTest::addColumn<int>("picked");         // the item the user picks; -1: none
    QTest::addColumn<QString>("shownItem");
    QTest::addColumn<QString>("track");
    QTest::newRow("nothing forced") << QList<bool>{false, false, false} << -1 << "None"
                                    << "none";
    QTest::newRow("second and third forced") << QList<bool>{false, true, true} << -1 << "2: fra (forced)"
                                             << "2";
    QTest::newRow("forced, but the user picks none") << QList<bool>{true, false, false} << 0 << "None"
                                                     << "none";
  }
  void subtitlePickerStartsAtTheFirstForcedTrack() {
    QFETCH(QList<bool>, forced);
    QFETCH(int, picked);
    QFETCH(QString, shownItem);
    QFETCH(QString, track);
    WindowHarness h;
    const fs::path file = h.source("film.mkv");
    {
      std::lock_guard lock(*h.fixture().analysesMutex);
      (*h.fixture().analyses)[file].subtitleLanguages = {"eng", "fra", "deu"};
      (*h.fixture().analyses)[file].subtitleForced = std::vector<bool>(forced.begin(), forced.end());
    }
    h.model().dropFiles({file});
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing() && h.model().sourceInfo(); }));
    auto *picker = h.find<QComboBox>("subtitlePicker");
    if (picked >= 0) {
      picker->setCurrentIndex(picked);
      emit picker->activated(picked);
    }
    QCOMPARE(picker->currentText(), shownItem);
    h.startRun(0.5);
    QCOMPARE(QString::fromStdString(h.lastJob().subtitles.track), track);
  }

  void filesOpenedDuringARunJoinIt_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("queuedBefore");
    QTest::newRow("Open during one file's run") << "open" << 1;
    QTest::newRow("drop on the drop zone during a batch") << "drop zone" << 2;
    QTest::newRow("drop on the settings during one file's run") << "drop settings" << 1;
  }
  void filesOpenedDuringARunJoinIt() {
    QFETCH(QString, how);
    QFETCH(int, queuedBefore);
    WindowHarness h;
    std::vector<fs::path> first{h.source("a.mkv"), h.source("b.mkv")};
    first.resize(static_cast<std::size_t>(queuedBefore));
    h.model().dropFiles(first);
    h.startRun(0.3);
    const fs::path added = h.source("late.mkv");
    if (how == "open") {
      h.fixture().dialogs->files = {added};
      h.model().browseForFiles();
    } else {
      const char *target = how == "drop zone" ? "dropZone" : "statusLabel";
      drop(h.find<QWidget>(target), {QUrl::fromLocalFile(QString::fromStdString(added.string()))});
    }
    // The running file stays the running one; the new file waits after it.
    QCOMPARE(h.model().fileQueue().size(), first.size() + 1);
    QCOMPARE(h.model().fileQueue().front(), first.front());
    QCOMPARE(h.model().fileQueue().back(), added);
    QCOMPARE(h.model().currentQueueIndex(), 0);
    QCOMPARE(labelText(h, "batchProgressLabel").left(11), QString("File 1 of %1").arg(first.size() + 1));
    h.finish(WindowHarness::Outcome::succeed);
    for (const auto &file : h.model().fileQueue()) {
      QVERIFY2(fs::exists(h.outputDirectory() / (file.stem().string() + "_SBS.mkv")), file.c_str());
      QCOMPARE(h.model().fileOutcomes().at(file).kind, kestrova::app::FileOutcome::Kind::converted);
    }
    QCOMPARE(h.view()->findChildren<QLabel *>("doneMark").size(), static_cast<qsizetype>(first.size() + 1));
  }

  // What a run warned of (a source cut short, a track left out) is on the
  // finished page, not only in the log window; the next run starts clean.
  void finishedRunShowsItsWarnings_data() {
    QTest::addColumn<int>("warnings");
    QTest::addColumn<QString>("shownText");
    QTest::newRow("none") << 0 << QString();
    QTest::newRow("one") << 1 << QString("\u26a0\ufe0f warning 1");
    QTest::newRow("five")
        << 5
        << QString("\u26a0\ufe0f warning 1\n\u26a0\ufe0f warning 2\n\u26a0\ufe0f warning 3\n2 more in the "
                   "log (View \u25b8 Log)");
  }
  void finishedRunShowsItsWarnings() {
    QFETCH(int, warnings);
    QFETCH(QString, shownText);
    WindowHarness h;
    h.model().dropFiles({h.source("first.mkv")});
    h.model().appendLog("\u26a0\ufe0f said before the run");
    h.startRun(0.5);
    for (int i = 1; i <= warnings; ++i)
      h.model().appendLog("\u26a0\ufe0f warning " + std::to_string(i));
    h.model().appendLog("not a warning \u26a0\ufe0f");
    h.finish(WindowHarness::Outcome::succeed);
    QCOMPARE(shown(h, "warningsLabel"), warnings > 0);
    QCOMPARE(labelText(h, "warningsLabel"), shownText);
    h.find<QPushButton>("convertAnotherButton")->click();
    h.model().dropFiles({h.source("second.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(!shown(h, "warningsLabel"));
  }

  void fileOpenedOnTheCompletePageIsQueuedReady_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Open") << "open";
    QTest::newRow("Convert Another, then Open") << "another";
    QTest::newRow("drop") << "drop";
    QTest::newRow("hand-over from a second launch") << "hand-over";
  }
  void fileOpenedOnTheCompletePageIsQueuedReady() {
    QFETCH(QString, how);
    WindowHarness h;
    h.model().dropFiles({h.source("first.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::succeed);
    QVERIFY(shown(h, "convertAnotherButton") && shown(h, "summaryLabel") && !shown(h, "convertButton"));
    h.find<QPushButton>("revealButton")->click();
    QCOMPARE(h.fixture().revealer->revealed.size(), 1u);
    const fs::path next = h.source("next.mkv");
    if (how == "another")
      h.find<QPushButton>("convertAnotherButton")->click();
    if (how == "open" || how == "another") {
      h.fixture().dialogs->files = {next};
      h.find<QPushButton>("browseButton")->click();
    } else if (how == "drop") {
      drop(h.view(), {QUrl::fromLocalFile(QString::fromStdString(next.string()))});
    } else {
      h.model().openFiles({next}, std::nullopt);
    }
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    QCOMPARE(h.model().fileQueue(), std::vector<fs::path>{next});
    QCOMPARE(labelText(h, "statusLabel"), QString("Ready"));
    auto *convert = h.find<QPushButton>("convertButton");
    QVERIFY(convert->isVisibleTo(&h.window()) && convert->isEnabled());
    QVERIFY(h.view()->findChildren<QLabel *>("doneMark").isEmpty());
  }

  void queueRowsSayWhyAFileIsNotConverted_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("reason"); // what the row's words name
    QTest::newRow("no 3D in the file") << "no 3D"
                                       << "3D";
    QTest::newRow("unreadable file") << "unreadable"
                                     << "broken.mkv";
    QTest::newRow("skipped by a batch") << "skipped"
                                        << "Skipped";
    QTest::newRow("failed in a batch") << "failed"
                                       << "ffmpeg";
  }
  void queueRowsSayWhyAFileIsNotConverted() {
    QFETCH(QString, situation);
    QFETCH(QString, reason);
    WindowHarness h;
    const fs::path good = h.source("good.mkv");
    fs::path bad =
        situation == "unreadable" ? h.fixture().source("broken.mkv") : h.source("flat.mkv", 60, situation == "failed");
    h.model().addFiles({good, bad});
    QVERIFY(WindowHarness::waitFor(
        [&] { return h.model().fileInfoMap().size() + (situation == "unreadable") == 2 && !h.model().isParsing(); }));
    if (situation == "skipped" || situation == "failed") {
      h.startRun(0.5);
      h.finish(situation == "failed" ? WindowHarness::Outcome::fail : WindowHarness::Outcome::succeed);
    }
    auto *badRow = h.find<QWidget>("fileRow1");
    QVERIFY(badRow);
    auto *why = badRow->findChild<QLabel *>("rowReason");
    QVERIFY(why);
    QVERIFY2(why->text().contains(reason), qPrintable(why->text()));
    QVERIFY(badRow->findChild<QLabel *>("problemMark"));
    QCOMPARE(h.find<QWidget>("fileRow0")->findChild<QLabel *>("rowReason") == nullptr, situation != "failed");
  }

  void batchLineAndNotificationCount_data() {
    QTest::addColumn<QList<double>>("minutes"); // each file's duration; negative: no 3D
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("notification");
    QTest::newRow("two equal files") << QList<double>{10, 10} << 0.26 << "File 1 of 2 \u2014 13 % of the batch"
                                     << "Batch complete: 2 files converted";
    QTest::newRow("a short file before a long one")
        << QList<double>{10, 90} << 0.5 << "File 1 of 2 \u2014 5 % of the batch"
        << "Batch complete: 2 files converted";
    QTest::newRow("one converted, one skipped")
        << QList<double>{10, -10} << 0.0 << "File 1 of 2 \u2014 0 % of the batch"
        << "Batch complete: 1 file converted, 1 skipped";
  }
  void batchLineAndNotificationCount() {
    QFETCH(QList<double>, minutes);
    QFETCH(double, fraction);
    QFETCH(QString, line);
    QFETCH(QString, notification);
    WindowHarness h;
    std::vector<fs::path> files;
    for (int i = 0; i < minutes.size(); ++i)
      files.push_back(h.source(std::to_string(i) + ".mkv", std::abs(minutes[i]) * 60, minutes[i] > 0));
    h.model().addFiles(files);
    QVERIFY(WindowHarness::waitFor([&] { return h.model().fileInfoMap().size() == files.size(); }));
    h.startRun(fraction);
    QCOMPARE(labelText(h, "batchProgressLabel"), line);
    h.finish(WindowHarness::Outcome::succeed);
    QCOMPARE(QString::fromStdString(h.fixture().notifier->posted.back().body), notification);
  }

  void failureOpensTheAlertOnce() {
    WindowHarness h;
    h.model().dropFiles({h.source("movie.mkv")});
    h.startRun(0.5);
    h.finish(WindowHarness::Outcome::fail);
    QMessageBox *alert = h.view()->errorAlert();
    QVERIFY(alert && h.model().errorMessage());
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
    QTest::newRow("one unsupported file") << QStringList{"notes.txt"} << 0 << "Error: ";
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
    QVERIFY(labelText(h, "statusLabel").startsWith(status));
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
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("output");
    const int detected = static_cast<int>(kestrova::StereoLayout::automatic);
    QTest::newRow("keep") << false << "movie.mkv" << detected << "movie_SBS.mkv";
    QTest::newRow("replace") << true << "movie.mkv" << detected << "movie_SBS.mkv";
    // the chosen layout names the output: half-size eyes are encoded into Matroska
    QTest::newRow("chosen layout") << false << "movie.mp4" << static_cast<int>(kestrova::StereoLayout::halfSideBySide)
                                   << "movie_SBS.mkv";
  }
  void existingOutputIsReplacedOnlyWhenTheUserSaysSo() {
    QFETCH(bool, replace);
    QFETCH(QString, source);
    QFETCH(int, layout);
    QFETCH(QString, output);
    WindowHarness h;
    const fs::path file = h.source(source.toStdString());
    fs::create_directories(h.outputDirectory());
    const fs::path earlier = h.outputDirectory() / output.toStdString();
    kestrova::test::writeFile(earlier, "earlier result");
    h.fixture().dialogs->replace = replace;
    h.model().dropFiles({file});
    QVERIFY(WindowHarness::waitFor([&] { return !h.model().isParsing(); }));
    h.model().setFileLayout(file, {static_cast<kestrova::StereoLayout>(layout), false});
    h.find<QPushButton>("convertButton")->click();
    QCOMPARE(h.fixture().dialogs->askedToReplace.size(), 1u);
    QCOMPARE(h.fixture().dialogs->askedToReplace[0], std::vector<fs::path>{earlier});
    QCOMPARE(h.model().isConverting(), replace);
    if (replace) {
      QVERIFY(WindowHarness::waitFor([&] { return h.model().currentStage() == kestrova::ConversionStage::encoding; }));
      QVERIFY(h.lastJob().replaceExisting);
      h.finish(WindowHarness::Outcome::succeed);
    }
    QCOMPARE(kestrova::test::readFile(earlier) == "earlier result", !replace);
  }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
