// A Blu-ray 3D film to Vision Pro and to full side by side in chunks, with
// the real tools: the chunked file equals the one-piece file, and a run
// killed midway is taken up again by the next run, which encodes only what
// is missing; so is a side-by-side film's.
#include "ChunkedRunFixture.h"

#include "support/NearlyFullDisk.h"

#include <algorithm>
#include <cmath>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

class ChunkedRun : public ChunkedRunFixture, public testing::WithParamInterface<Target> {
protected:
  const Target &target() const override { return GetParam(); }
};

TEST_P(ChunkedRun, EqualsTheOnePieceRun) {
  const fs::path one = dir_ / "one" / GetParam().file, chunked = dir_ / "chunked" / GetParam().file;
  const auto first = run(command("", "--output " + quote(one.parent_path().string())) + " 2>&1");
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(first.out.find("Chunked encode"), std::string::npos) << "a 5-second film is one chunk of 60 s";
  // Two jobs at once; 1-second chunks are five of 24 pictures.
  const auto second = run(command(std::string(", \"chunkSeconds\": ") + GetParam().chunkSeconds,
                                  "--jobs 2 --output " + quote(chunked.parent_path().string())) +
                          " 2>&1");
  ASSERT_EQ(second.status, 0) << second.out;
  EXPECT_NE(second.out.find(GetParam().chunks), std::string::npos) << second.out;
  const auto tracks = [](const fs::path &file) {
    return run("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height:stream_tags=language,"
               "stereo_mode:stream_disposition=default:chapter=start_time,end_time -of compact " +
               quote(file.string()))
        .out;
  };
  EXPECT_EQ(tracks(chunked), tracks(one));

  const MediaFacts a = probeMedia(one), b = probeMedia(chunked);
  EXPECT_EQ(a.videoFrames, kPairs);
  EXPECT_EQ(b.videoFrames, kPairs);
  EXPECT_NEAR(b.videoSeconds, a.videoSeconds, 0.001);
  EXPECT_NEAR(b.audioSeconds, a.audioSeconds, 0.001);
  EXPECT_NEAR(b.audioStart - b.videoStart, a.audioStart - a.videoStart, 0.001);
  EXPECT_NEAR(static_cast<double>(fs::file_size(chunked)), static_cast<double>(fs::file_size(one)),
              0.03 * static_cast<double>(fs::file_size(one)));
  const auto oneEyes = eyeQuality(one), chunkedEyes = eyeQuality(chunked);
  for (std::size_t eye = 0; eye < 2; ++eye) {
    EXPECT_GT(oneEyes[eye].whole, 30.0) << "eye " << eye;
    EXPECT_NEAR(chunkedEyes[eye].whole, oneEyes[eye].whole, 0.1) << "eye " << eye;
    // No dip at a chunk border: the last picture of a chunk and the first two
    // of the next stay within 1 dB of the film's median picture.
    auto pictures = chunkedEyes[eye].pictures;
    if (pictures.size() != std::size_t{kPairs})
      continue;
    std::nth_element(pictures.begin(), pictures.begin() + kPairs / 2, pictures.end());
    const double median = pictures[kPairs / 2];
    for (int border = GetParam().borderEvery; border < kPairs; border += GetParam().borderEvery)
      for (int at = border - 1; at <= border + 1; ++at)
        EXPECT_GT(chunkedEyes[eye].pictures[std::size_t(at)], median - 1.0)
            << "eye " << eye << ", picture " << at << ", median " << median;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(chunked.parent_path()), fs::directory_iterator()), 1)
      << "only the movie stays";
}

TEST_P(ChunkedRun, KilledRunIsTakenUpWhereItStopped) {
  const fs::path movie = killAndTakeUp();
  EXPECT_EQ(probeMedia(movie).videoFrames, kPairs);
  EXPECT_GT(eyeQuality(movie)[0].whole, 30.0);
}

// A side-by-side film's chunks are taken up the same way.
class PackedChunkedRun : public ChunkedRunFixture {
protected:
  const Target &target() const override { return kPacked; }
  void SetUp() override {
    ChunkedRunFixture::SetUp();
    if (IsSkipped())
      return;
    usePackedFilm();
  }
};

TEST_F(PackedChunkedRun, KilledRunIsTakenUpWhereItStopped) {
  EXPECT_EQ(probeMedia(killAndTakeUp()).videoFrames, kPairs);
}

// The output's disk stays full from the second finished chunk on: the run
// fails saying so and keeps what it finished; with room again, the next run
// takes up exactly as many chunks as the first said it kept.
class FullDiskChunkedRun : public ChunkedRunFixture {};

TEST_F(FullDiskChunkedRun, KeepsFinishedChunksForTheNextRun) {
  const fs::path out = dir_ / "out";
  kestrova::test::NearlyFullDisk disk(out, 40u << 20);
  if (!disk.mounted())
    GTEST_SKIP() << "needs root and loop mounts";
  const std::string settings = ", \"chunkSeconds\": 1", at = quote(out.string());
  const auto failed = run(command(settings, "--jobs 1 --output " + at, true) + " >" +
                          quote((dir_ / "full.log").string()) + " 2>&1 </dev/null & job=$!; i=0; until ls " + at +
                          "/Kestrova_*/chunks/chunk_001.hevc.frames >/dev/null 2>&1 || [ $i -ge 1200 ]; do sleep 0.1; "
                          "i=$((i+1)); done; n=0; while kill -0 $job 2>/dev/null; do n=$((n+1)); fallocate -l $(( "
                          "$(df --output=avail -B1 " +
                          at + " | tail -1) - 50000 )) " + at + "/more$n; sleep 0.1; done; wait $job; echo status=$?");
  const std::string log = kestrova::test::readFile(dir_ / "full.log");
  EXPECT_NE(failed.out.find("status=1"), std::string::npos) << failed.out << log;
  EXPECT_NE(log.find("not enough space on " + out.string()), std::string::npos) << log;
  const auto kept = log.find(" of 5 chunks are finished and kept in ");
  ASSERT_NE(kept, std::string::npos) << log;
  const char finished = log[kept - 1];
  EXPECT_TRUE(finished >= '2' && finished <= '4') << log;

  run("rm -f " + at + "/more*");
  const auto rerun = run(command(settings, "--jobs 1 --output " + at, true) + " 2>&1");
  ASSERT_EQ(rerun.status, 0) << rerun.out;
  EXPECT_NE(rerun.out.find(std::string("Resuming: ") + finished + " of 5 chunks done"), std::string::npos) << rerun.out;
  EXPECT_EQ(probeMedia(out / kVisionPro.file).videoFrames, kPairs);
}

INSTANTIATE_TEST_SUITE_P(Targets, ChunkedRun, testing::Values(kVisionPro, kSideBySide),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::bluray::test
