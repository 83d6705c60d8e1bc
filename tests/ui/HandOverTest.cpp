// One window per user: a second launch of the real program hands its files
// to the window that runs (here the test's own server) and ends.
#include "support/TestSupport.h"
#include "ui/WindowHandOver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Arguments = std::vector<std::string>;

// A socket file that nobody listens on, as a window that crashed leaves it.
void leaveStaleSocket(const QString &path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  QVERIFY(fd >= 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray bytes = path.toLocal8Bit();
  std::copy(bytes.begin(), bytes.end(), address.sun_path);
  QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
  ::close(fd);
}

} // namespace

class HandOverTest : public QObject {
  Q_OBJECT

private slots:
  void secondLaunchHandsItsFilesOver_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("handed"); // DIR/ stands for the launch's folder
    QTest::addColumn<bool>("staleSocket");
    QTest::newRow("Open With: a file named from its folder")
        << QStringList{"Film 3D.m2ts"} << QStringList{"DIR/Film 3D.m2ts"} << false;
    QTest::newRow("files and an output folder")
        << QStringList{"--input", "a.mkv", "b.mkv", "--output", "out"}
        << QStringList{"DIR/a.mkv", "DIR/b.mkv", "--output", "DIR/out"} << false;
    QTest::newRow("no file: the window only comes forward") << QStringList{} << QStringList{} << false;
    QTest::newRow("after a window that crashed") << QStringList{"a.mkv"} << QStringList{"DIR/a.mkv"} << true;
  }
  void secondLaunchHandsItsFilesOver() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, handed);
    QFETCH(bool, staleSocket);
    kestrova::test::TempDir runtime;
    const QString folder = QString::fromStdString(runtime.path().string());
    qputenv("XDG_RUNTIME_DIR", folder.toLocal8Bit());
    if (staleSocket)
      leaveStaleSocket(kestrova::ui::windowSocketPath());

    std::vector<kestrova::ui::HandedFiles> received;
    kestrova::ui::WindowServer window([&](const kestrova::ui::HandedFiles &given) { received.push_back(given); });
    QVERIFY(window.listen());

    QProcess second;
    second.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(environment);
    // Were the hand-over lost, the launch would open a window of its own:
    // timeout ends it then.
    second.start("timeout", QStringList{"60", KESTROVA_PROGRAM} + arguments);
    QElapsedTimer guard;
    guard.start();
    while (second.state() != QProcess::NotRunning && guard.elapsed() < 90'000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    Arguments expected;
    for (QString argument : handed)
      expected.push_back(argument.replace("DIR/", folder + "/").toStdString());
    QCOMPARE(received.size(), std::size_t{1});
    QCOMPARE(kestrova::ui::handOverMessage(received.front()), expected);
  }

  void nobodyAnswersWhenNoWindowRuns() {
    kestrova::test::TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
    QVERIFY(!kestrova::ui::handToRunningWindow({"a.mkv"}, std::nullopt, 1000));
    leaveStaleSocket(kestrova::ui::windowSocketPath());
    QVERIFY(!kestrova::ui::handToRunningWindow({"a.mkv"}, std::nullopt, 1000));
  }
};

QTEST_GUILESS_MAIN(HandOverTest)
#include "HandOverTest.moc"
