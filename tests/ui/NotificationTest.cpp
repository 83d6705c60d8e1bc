// "Show in Folder" from a desktop notification, against a notification
// service and a file manager of the test's own on a private session bus.
#include "support/TestSupport.h"
#include "ui/DesktopIntegration.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QUrl>

/// The notification service: records what it is asked to show.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
  uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
              const QStringList &actions, const QVariantMap &, int) {
    bodies << summary + ": " + body;
    this->actions << actions;
    return ++lastId;
  }

public:
  QStringList bodies;
  QList<QStringList> actions;
  uint lastId = 40;
};

/// The file manager: records the files it is asked to show.
class FakeFileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
  void ShowItems(const QStringList &uris, const QString &) { shown << uris; }

public:
  QStringList shown;
};

class NotificationTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() {
    // A bus of the test's own; the notifier reaches it as the session bus.
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                               "--address=unix:path=" + QString::fromStdString((dir_ / "bus").string())});
    QVERIFY(bus_.waitForReadyRead(10'000));
    const QByteArray address = bus_.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    // The services answer on a thread of their own: the notifier's calls
    // block the test's thread until they are answered.
    servicesThread_.start();
    notifications_.moveToThread(&servicesThread_);
    fileManager_.moveToThread(&servicesThread_);
    QDBusConnection services = QDBusConnection::connectToBus(QString::fromLatin1(address), "services");
    QVERIFY(services.isConnected());
    QVERIFY(services.registerService("org.freedesktop.Notifications"));
    QVERIFY(
        services.registerObject("/org/freedesktop/Notifications", &notifications_, QDBusConnection::ExportAllSlots));
    QVERIFY(services.registerService("org.freedesktop.FileManager1"));
    QVERIFY(services.registerObject("/org/freedesktop/FileManager1", &fileManager_, QDBusConnection::ExportAllSlots));
  }
  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus("services");
    servicesThread_.quit();
    servicesThread_.wait();
    notifications_.moveToThread(thread());
    fileManager_.moveToThread(thread());
    bus_.terminate();
    bus_.waitForFinished(10'000);
  }

  void showInFolderOnlyForTheNotificationThatOffersIt_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<bool>("offered");
    QTest::newRow("a converted file") << QStringList{"/videos/out/movie_SBS.mkv"} << true;
    QTest::newRow("a failure") << QStringList{} << false;
  }
  void showInFolderOnlyForTheNotificationThatOffersIt() {
    QFETCH(QStringList, results);
    QFETCH(bool, offered);
    kestrova::ui::NotificationCenter center;
    fileManager_.shown.clear();
    QVERIFY(center.post("Kestrova", "Conversion complete", results));
    QCOMPARE(notifications_.actions.back().contains("Show in Folder"), offered);
    // The user clicks the action; a click on another program's notification
    // with the same action name shows nothing.
    invoke(notifications_.lastId + 100);
    invoke(notifications_.lastId);
    if (offered)
      QTRY_COMPARE(fileManager_.shown, QStringList{QUrl::fromLocalFile(results.front()).toString()});
    QTest::qWait(200);
    QCOMPARE(fileManager_.shown.size(), offered ? 1 : 0);
  }

private:
  static void invoke(uint id) {
    QDBusMessage signal =
        QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
    signal << id << QString("show-in-folder");
    QVERIFY(QDBusConnection("services").send(signal));
  }

  kestrova::test::TempDir dir_;
  QProcess bus_;
  QThread servicesThread_;
  FakeNotifications notifications_;
  FakeFileManager fileManager_;
};

QTEST_GUILESS_MAIN(NotificationTest)
#include "NotificationTest.moc"
