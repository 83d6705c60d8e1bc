// Which machines may take a run's chunk jobs, by their `kestrova --version`
// answer; which machine encoded a chunk, read from GNU parallel's own job
// logs (recorded runs, see tests/fakes/recordings).
#include "pipeline/ChunkHosts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

namespace fs = std::filesystem;

constexpr const char *kSsh = "ssh -F /tmp/jl/ssh_config -p 24222 root@127.0.0.1";

std::string recording(const char *name) {
  return test::readFile(fs::path(KESTROVA_TOOL_RECORDINGS) / name);
}

TEST(ChunkMachines, AMachineTakesPartWithThisKestrovaAndTheDecoderTheChunksNeed) {
  test::TempDir dir;
  // This installation's answer, and another one's that lacks edge264.
  for (const char *program : {"with/bin/kestrova", "without/bin/kestrova"})
    test::writeFile(dir / program, "");
  test::writeFile(dir / "with/share/kestrova/tools/edge264-pipe", "");
  test::writeFile(dir / "with/share/kestrova/tools/ldecod-pipe", "");
  test::writeFile(dir / "without/share/kestrova/tools/ldecod-pipe", "");
  const auto answer = [&dir](const char *install) {
    return versionAnswer("Kestrova 1.0 (Build 134)",
                         tools::ToolLocator(tools::BundlePaths::forPrefix((dir / install).string()),
                                            tools::SystemPrograms{"/bin/bash", "/bin/false"}, {}));
  };
  const std::string version = answer("with"), without = answer("without");
  struct Row {
    std::string answer;
    bool needsFastDecoder;
    HostFit fit;
  };
  const Row rows[] = {
      {version, true, HostFit::takesPart},
      {without, false, HostFit::takesPart},
      {without, true, HostFit::noFastDecoder},
      {"Kestrova 1.0 (Build 134)\n", true, HostFit::noFastDecoder}, // an answer that names no decoder
      {"Kestrova 1.0 (Build 133)\nMVC decoders: edge264-pipe", false, HostFit::otherKestrova},
  };
  for (const auto &row : rows)
    EXPECT_EQ(hostFit(row.answer, version, row.needsFastDecoder), row.fit) << row.answer;
}

TEST(ChunkMachines, TheLastJobThatEndedWellNamesTheMachine) {
  struct Row {
    std::string jobLog, chunk;
    std::optional<std::string> machine;
  };
  const std::string twoLogins = recording("parallel-20221122-joblog-two-logins.tsv");
  const std::string retried = recording("parallel-20221122-joblog-retried.tsv");
  const std::string failed = "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"
                             "1\tb\t1.0\t1.0\t4\t0\t255\t0\tkestrova --encode-chunk a/chunk_000.264 a/chunk_000.hevc\n";
  const Row rows[] = {
      {twoLogins, "chunk_001.hevc", kSsh},
      {twoLogins, "chunk_000.hevc", ":"},
      {twoLogins, "chunk_009.hevc", std::nullopt},
      {twoLogins, "hunk_001.hevc", std::nullopt}, // a name inside another is not it
      {retried, "chunk_001.hevc", ":"},           // the failed tries on the ssh login are not logged
      {failed, "chunk_000.hevc", std::nullopt},   // a job that failed wrote nothing to blame
      {"", "chunk_000.hevc", std::nullopt},
  };
  for (const auto &row : rows)
    EXPECT_EQ(machineOfChunk(row.jobLog, row.chunk), row.machine) << row.chunk << "\n" << row.jobLog;
}

TEST(ChunkMachines, AJoinRefusalNamesTheMachinesOfItsChunks) {
  test::TempDir dir;
  const std::string reason = "chunk /o/K/chunks/chunk_001.hevc was encoded otherwise than chunk "
                             "/o/K/chunks/chunk_000.hevc (its parameter sets differ)";
  EXPECT_EQ(chunkMachines(dir.path(), reason), "") << "without a job log there is no one to name";
  test::writeFile(dir / "joblog", recording("parallel-20221122-joblog-two-logins.tsv"));
  const std::string named = chunkMachines(dir.path(), reason);
  EXPECT_NE(named.find(std::string("chunk_001.hevc was encoded on ") + kSsh), std::string::npos) << named;
  EXPECT_NE(named.find("chunk_000.hevc was encoded on this machine"), std::string::npos) << named;
}

} // namespace
} // namespace kestrova::pipeline
