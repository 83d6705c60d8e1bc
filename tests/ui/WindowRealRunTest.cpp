// The window converting a Blu-ray 3D disc to Vision Pro with the real tools,
// on an X display of its own (ctest runs it under xvfb-run): the progress it
// shows, recorded against the clock and the encoder's picture count. With
// KESTROVA_SCREENSHOT_OUT set it also takes the README's picture of the run
// into that folder.
#include "RealTools.h"

#include "app/ConverterModel.h"
#include "support/TestSupport.h"
#include "tools/Cancellation.h"
#include "tools/GroupSentinel.h"
#include "ui/ContentView.h"
#include "ui/QtChild.h"
#include "ui/QtPlatform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;

struct Timed {
  double seconds;
  double value; ///< a whole percent shown, or the encoder's pictures done as a fraction
};

TEST(WindowRealRun, BlurayToVisionProRisesWithThePicturesToTheEnd) {
  std::string whyNot;
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  if (!findRealSetup(tools, clips, whyNot, {.discImages = true, .display = true}))
    GTEST_SKIP() << whyNot;
  // Long enough that the encoder's start-up (its look-ahead fills before the
  // first picture comes out, about 7 s here) stays well under a tenth of the run.
  const fs::path disc = repeatedDisc(*tools, *clips, 12); // 288 pairs
  kestrova::test::TempDir dir;
  installProgram(dir / "install", *tools, Variant::fifo);
  // As the program starts: a pipe's reader that stops early is a write error, not a death.
  std::signal(SIGPIPE, SIG_IGN);
  tools::becomeChildSubreaper();
  tools::startGroupSentinel();
  int argc = 1;
  char name[] = "window_real_run";
  char *argv[] = {name, nullptr};
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));

  app::ModelEnvironment environment;
  environment.executor = std::make_shared<ui::QtMainThreadExecutor>();
  environment.settings = std::make_shared<SettingsStore>(dir / "settings.json");
  environment.engine = std::make_shared<pipeline::PipelineEngine>(
      tools::ToolLocator(tools::BundlePaths::forPrefix((dir / "install").string())));
  environment.startFiles = {disc};
  environment.startOutputDirectory = dir / "home/Videos/Kestrova Output";
  auto model = app::ConverterModel::create(std::move(environment));
  QMainWindow window;
  window.setCentralWidget(ui::qtChild<ui::ContentView>(model, &window));
  window.resize(600, 940);
  window.show();
  model->loadSettings();
  model->setOutputTarget(OutputTarget::visionPro);
  model->setDebugLimitSeconds(0);
  model->handleCommandLineArguments();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isParsing() && model->fileInfoMap().size() == 1; }, 60'000));

  // What the window shows after each change of the model (the view redraws
  // first: it subscribed first), and the encoder's picture counts.
  auto *percent = window.findChild<QLabel *>("percentLabel");
  QElapsedTimer clock;
  std::vector<Timed> shown, pictures;
  std::string all;
  const std::regex pictureLine(R"(Frame (\d+)/(\d+) )");
  const int watching = model->subscribe([&](app::ModelField field) {
    if (field == app::ModelField::logs) {
      all += model->logs().back() + "\n";
      if (std::smatch m; std::regex_search(model->logs().back(), m, pictureLine))
        pictures.push_back({clock.elapsed() / 1000.0, std::stod(m[1]) / std::stod(m[2])});
    }
    const double value = percent->text().chopped(1).toInt();
    if (model->isConverting() && (shown.empty() || shown.back().value != value))
      shown.push_back({clock.elapsed() / 1000.0, value});
  });
  clock.start();
  QTest::mouseClick(window.findChild<QPushButton *>("convertButton"), Qt::LeftButton);
  const char *pictureFolder = std::getenv("KESTROVA_SCREENSHOT_OUT");
  bool pictured = pictureFolder == nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        // Rows rebuilt by the last change show once the event loop comes round.
        const auto *row = window.findChild<QWidget *>("fileRow0");
        if (!pictured && model->isConverting() && !shown.empty() && shown.back().value >= 40 && row && row->isVisible())
          pictured = window.grab().save(QString::fromLocal8Bit(pictureFolder) + "/window-real-run.png");
        return !model->isConverting();
      },
      1'200'000));
  const double runSeconds = clock.elapsed() / 1000.0;
  model->unsubscribe(watching);
  ASSERT_EQ(model->currentStage(), ConversionStage::complete) << all;
  ASSERT_TRUE(model->lastOutputURL() && fs::exists(*model->lastOutputURL())) << all;
  EXPECT_NE(all.find("in one encode"), std::string::npos) << all;
  EXPECT_TRUE(pictured);
  ASSERT_GE(shown.size(), 10u) << all;
  double longest = std::max(shown.front().seconds, runSeconds - shown.back().seconds);
  for (std::size_t i = 1; i < shown.size(); ++i) {
    EXPECT_GE(shown[i].value, shown[i - 1].value) << "went back at " << shown[i].seconds << " s\n" << all;
    longest = std::max(longest, shown[i].seconds - shown[i - 1].seconds);
  }
  // The value follows the encoder's pictures (reading the disc is a sliver of the run).
  auto next = shown.begin();
  double last = 0;
  for (const auto &count : pictures) {
    for (; next != shown.end() && next->seconds <= count.seconds; ++next)
      last = next->value;
    EXPECT_NEAR(last, 100 * count.value, 8.0) << "at " << count.seconds << " s\n" << all;
  }
  EXPECT_EQ(shown.back().value, 100) << all;
  std::printf("run %.1f s, %zu values, longest hold %.1f s\n", runSeconds, shown.size(), longest);
  EXPECT_LE(longest, runSeconds / 10) << "a plateau of " << longest << " s in a run of " << runSeconds << " s\n" << all;
}

} // namespace
} // namespace kestrova::bluray::test
