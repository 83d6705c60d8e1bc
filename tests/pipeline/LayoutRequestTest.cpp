#include "pipeline/LayoutRequest.h"
#include "core/Errors.h"

#include <gtest/gtest.h>
#include <variant>

namespace kestrova::pipeline {
namespace {

TEST(LayoutRequest, GivenLayoutsAndSwappedEyes) {
  using Mode = Stereo3DMode;
  struct Row {
    StereoLayout layout;
    bool swap;
    Mode detected;
    std::variant<Mode, std::string> read; // the mode, or words of the refusal
  };
  const auto half = Mode::EyeSize::half;
  const auto full = Mode::EyeSize::full;
  const Row rows[] = {
      {StereoLayout::automatic, false, Mode::mvcSeparateTracks(), Mode::mvcSeparateTracks()},
      {StereoLayout::automatic, true, Mode::mvcSingleTrack(false), Mode::mvcSingleTrack(true)},
      {StereoLayout::automatic, true, Mode::frameAlternate(true), Mode::frameAlternate(false)},
      {StereoLayout::automatic, true, Mode::mvcSeparateTracks(), Mode::mvcSeparateTracks(true)},
      {StereoLayout::automatic, true, Mode::topAndBottom(half), Mode::topAndBottom(half, true)},
      {StereoLayout::fullSideBySide, false, Mode::none(), Mode::sideBySide()},
      {StereoLayout::fullSideBySide, true, Mode::sideBySide(), Mode::sideBySide(full, true)},
      {StereoLayout::halfSideBySide, false, Mode::sideBySide(full, true), Mode::sideBySide(half, true)},
      {StereoLayout::halfSideBySide, true, Mode::none(), Mode::sideBySide(half, true)},
      {StereoLayout::fullTopAndBottom, false, Mode::topAndBottom(half, true), Mode::topAndBottom(full, true)},
      {StereoLayout::halfTopAndBottom, false, Mode::sideBySide(full, true), Mode::topAndBottom(half)},
      {StereoLayout::mvc, false, Mode::mvcSingleTrack(true), Mode::mvcSingleTrack(true)},
      {StereoLayout::mvc, true, Mode::none(), Mode::none().swapped()},
      {StereoLayout::mvc, false, Mode::sideBySide(), "holds no MVC (3D) view"},
      {StereoLayout::frameAlternate, false, Mode::frameAlternate(false), Mode::frameAlternate(false)},
      {StereoLayout::frameAlternate, true, Mode::mvcSingleTrack(true), Mode::frameAlternate(false)},
      {StereoLayout::frameAlternate, false, Mode::sideBySide(), "not supported yet"},
  };
  for (const auto &row : rows) {
    ConversionJob job;
    job.sourceURL = "/films/a.mkv";
    job.layout = row.layout;
    job.swapEyes = row.swap;
    SCOPED_TRACE(std::string(rawValue(row.layout)) + (row.swap ? " swapped, detected " : ", detected ") +
                 row.detected.text());
    if (const auto *mode = std::get_if<Mode>(&row.read)) {
      EXPECT_EQ(layoutForJob(job, row.detected), *mode);
      continue;
    }
    try {
      layoutForJob(job, row.detected);
      ADD_FAILURE() << "accepted";
    } catch (const SourceError &error) {
      EXPECT_NE(std::string(error.what()).find(std::get<std::string>(row.read)), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("/films/a.mkv"), std::string::npos) << error.what();
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
