#include "pipeline/ChunkHosts.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/StreamDecoderChoice.h"
#include "pipeline/ToolBlame.h"
#include "tools/QuotedWord.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fmt/format.h>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace kestrova::pipeline {

namespace fs = std::filesystem;

namespace {

constexpr const char *kJobLogName = "joblog";
// The MVC piece's word of a chunk that has none (a packed or frame-alternate film's).
constexpr const char *kNoPiece = "-";

std::string mvcWord(const ParallelChunk &chunk) {
  return chunk.mvcPiece.empty() ? kNoPiece : chunk.mvcPiece;
}

// No password prompt and no endless wait for a machine that does not answer.
constexpr const char *kSsh = "ssh -o BatchMode=yes -o ConnectTimeout=10";

std::string trimmedLine(std::string line) {
  const auto first = line.find_first_not_of(" \t\r");
  const auto last = line.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::string parallelProgram(const PipelineEngine &engine) {
  auto parallel = engine.findTool("parallel");
  if (!parallel)
    throw ConversionError::toolNotFound("GNU parallel is needed for --hosts (Debian package \"parallel\")");
  return *parallel;
}

// A chunk job's progress as GNU parallel tags it: "INDEX<TAB>Frame DONE/TOTAL"
// gives the chunk's index and its pictures done.
std::optional<std::pair<int, std::int64_t>> chunkFrames(std::string_view line) {
  int index = 0;
  std::int64_t done = 0;
  const auto tab = line.find('\t');
  if (tab == std::string_view::npos || !line.substr(tab + 1).starts_with("Frame "))
    return std::nullopt;
  const auto rest = line.substr(tab + 7);
  if (std::from_chars(line.data(), line.data() + tab, index).ec != std::errc() ||
      std::from_chars(rest.data(), rest.data() + rest.size(), done).ec != std::errc())
    return std::nullopt;
  return std::pair{index, done};
}

} // namespace

std::string encodeChunkCommand(const ParallelChunk &chunk, const ChunkPictureSettings &picture) {
  return fmt::format("kestrova --encode-chunk {} {} {} {} {}{}", tools::singleQuoted(chunk.basePiece),
                     tools::singleQuoted(mvcWord(chunk)), tools::singleQuoted(chunk.output),
                     tools::singleQuoted(picture.canonical()), chunk.pairs,
                     chunk.burnIn.empty() ? "" : " " + tools::singleQuoted(chunk.burnIn));
}

namespace {

constexpr std::string_view kDecodersLabel = "MVC decoders:";

std::string firstLine(std::string_view text) {
  return trimmedLine(std::string(text.substr(0, text.find('\n'))));
}

} // namespace

std::string versionAnswer(const std::string &versionLine, const tools::ToolLocator &locator) {
  std::string decoders;
  for (const char *decoder : {kFastStreamDecoder, kJmStreamDecoder})
    if (locator.findTool(decoder))
      decoders += std::string(" ") + decoder;
  return versionLine + "\n" + std::string(kDecodersLabel) + (decoders.empty() ? " none" : decoders);
}

HostFit hostFit(std::string_view answer, std::string_view version, bool needsFastDecoder) {
  if (firstLine(answer) != firstLine(version))
    return HostFit::otherKestrova;
  if (!needsFastDecoder)
    return HostFit::takesPart;
  std::istringstream lines{std::string(answer)};
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(kDecodersLabel)) {
      std::istringstream words(line.substr(kDecodersLabel.size()));
      for (std::string word; words >> word;)
        if (word == kFastStreamDecoder)
          return HostFit::takesPart;
    }
  return HostFit::noFastDecoder;
}

std::vector<std::string> usableLogins(const PipelineEngine &engine, const fs::path &hostsFile,
                                      const std::string &version, int localJobs, bool needsFastDecoder) {
  std::ifstream in(hostsFile);
  if (!in)
    throw ConversionError::toolNotFound("the hosts file " + hostsFile.string() + " cannot be read");
  const std::string parallel = parallelProgram(engine);
  std::vector<std::string> logins;
  if (localJobs > 0)
    logins.push_back(std::to_string(localJobs) + "/:");
  for (std::string line; std::getline(in, line);) {
    line = trimmedLine(line);
    if (line.empty() || line.starts_with('#') || line == ":" || line.ends_with("/:"))
      continue;
    tools::ProcessLaunch launch;
    launch.executable = parallel;
    launch.arguments = {"--will-cite", "--ssh", kSsh, "--nonall", "-S", line, "kestrova --version"};
    const auto answer = tools::runAndCollect(launch);
    const HostFit fit = hostFit(answer.standardOutput, version, needsFastDecoder);
    if (!answer.status.success())
      engine.log("\u26a0\ufe0f Host " + line + " cannot be reached or has no kestrova (" +
                 reasonLine(answer.standardError) + ") \u2014 left out");
    else if (fit == HostFit::otherKestrova)
      engine.log("\u26a0\ufe0f Host " + line + " has another Kestrova (" + firstLine(answer.standardOutput) +
                 ") \u2014 left out");
    else if (fit == HostFit::noFastDecoder)
      engine.log("\u26a0\ufe0f Host " + line + " has no edge264-pipe, which chunks of this film cut at open GOPs " +
                 "need \u2014 left out");
    else {
      logins.push_back(line);
      engine.log("Host " + line + " takes part in the chunked encode");
    }
  }
  if (logins.empty())
    throw ConversionError::encodingFailed("no machine of the hosts file " + hostsFile.string() +
                                          " can take chunk jobs, and this machine was left out (--remote-only)");
  return logins;
}

namespace {

/// Writes GNU parallel's login list and job list (a job's words, tab
/// separated) into `lists`; returns the files that every job reads.
std::vector<std::string> writeJobLists(const fs::path &lists, const std::vector<ParallelChunk> &chunks,
                                       const std::vector<std::string> &logins) {
  std::string loginText, jobText;
  for (const auto &login : logins)
    loginText += login + "\n";
  std::vector<std::string> shared;
  for (const auto &chunk : chunks) {
    jobText += fmt::format("{}\t{}\t{}\t{}\t{}{}\n", chunk.basePiece, mvcWord(chunk), chunk.output, chunk.pairs,
                           chunk.index, chunk.burnIn.empty() ? "" : "\t" + chunk.burnIn);
    for (const auto &file : chunk.sharedFiles)
      if (std::find(shared.begin(), shared.end(), file) == shared.end())
        shared.push_back(file);
  }
  demux::writeFileAtomically(lists / "logins", loginText);
  demux::writeFileAtomically(lists / "jobs", jobText);
  return shared;
}

} // namespace

void runChunksThroughParallel(PipelineEngine &engine, const fs::path &from, const fs::path &lists,
                              const std::vector<ParallelChunk> &chunks, const ChunkPictureSettings &picture,
                              const std::vector<std::string> &logins, const std::string &program,
                              const std::function<void(int, std::int64_t)> &onFrames) {
  const std::string parallel = parallelProgram(engine);
  const std::vector<std::string> shared = writeJobLists(lists, chunks, logins);
  // Burned-in subtitles are the sixth word, when the run has them; a packed
  // or frame-alternate film's chunks have one piece each.
  const bool burnIn = !chunks.empty() && !chunks.front().burnIn.empty();
  const bool mvcPieces = !chunks.empty() && !chunks.front().mvcPiece.empty();
  // This machine runs its own kestrova; the others the kestrova of their PATH.
  const char *path = std::getenv("PATH");
  tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/env";
  launch.arguments = {"PATH=" + fs::path(program).parent_path().string() + (path ? std::string(":") + path : ""),
                      parallel,
                      "--will-cite",
                      "--ssh",
                      kSsh,
                      "--sshloginfile",
                      (lists / "logins").string(),
                      "--colsep",
                      "\t",
                      "-a",
                      (lists / "jobs").string(),
                      "--transferfile",
                      "{1}",
                      "--return",
                      "{3}",
                      "--return",
                      "{3}.frames",
                      "--cleanup",
                      "--retries",
                      std::to_string(std::max<std::size_t>(2, logins.size())),
                      "--halt",
                      "never",
                      "--line-buffer",
                      "--tagstring",
                      "{5}",
                      "--joblog",
                      (lists / kJobLogName).string(),
                      "kestrova --encode-chunk {1} {2} {3} " + tools::singleQuoted(picture.canonical()) + " {4}" +
                          (burnIn ? " {6}" : "")};
  // Before the command, which stays last.
  if (mvcPieces)
    launch.arguments.insert(launch.arguments.end() - 1, {"--transferfile", "{2}"});
  for (const auto &file : shared)
    launch.arguments.insert(launch.arguments.end() - 1, {"--basefile", file});
  launch.workingDirectory = from;
  auto process = engine.createCurrentProcess(std::move(launch));
  tools::runAndStreamLines(
      *process,
      [&onFrames](std::string_view line) {
        if (const auto frames = chunkFrames(line); frames && onFrames)
          onFrames(frames->first, frames->second);
      },
      [&engine](std::string_view line) { engine.verbose("parallel: " + std::string(line)); });
  if (engine.isCancelled())
    throw ConversionError::cancelled();
}

std::optional<std::string> machineOfChunk(std::string_view jobLog, std::string_view chunkName) {
  // Seq, Host, Starttime, JobRuntime, Send, Receive, Exitval, Signal, Command.
  constexpr std::size_t kHost = 1, kExit = 6, kSignal = 7, kCommand = 8;
  std::optional<std::string> machine;
  const std::string named = "/" + std::string(chunkName);
  for (std::size_t start = 0; start < jobLog.size();) {
    auto end = jobLog.find('\n', start);
    if (end == std::string_view::npos)
      end = jobLog.size();
    const std::string_view line = jobLog.substr(start, end - start);
    start = end + 1;
    // The fields before the command each end at a tab; the command is the rest of the line.
    std::vector<std::string_view> fields;
    std::size_t field = 0;
    for (auto tab = line.find('\t'); tab != std::string_view::npos && fields.size() < kCommand;
         tab = line.find('\t', field)) {
      fields.push_back(line.substr(field, tab - field));
      field = tab + 1;
    }
    if (fields.size() < kCommand || fields[kExit] != "0" || fields[kSignal] != "0")
      continue;
    const std::string_view command = line.substr(field);
    for (auto at = command.find(named); at != std::string_view::npos; at = command.find(named, at + 1)) {
      const auto after = at + named.size();
      if (after == command.size() || command[after] == ' ' || command[after] == '\'') {
        machine = std::string(fields[kHost]);
        break;
      }
    }
  }
  return machine;
}

std::string chunkMachines(const fs::path &lists, const std::string &reason) {
  std::ifstream in(lists / kJobLogName);
  if (!in)
    return {};
  const std::string jobLog((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const std::regex chunkName(R"(chunk_[0-9]+\.[a-z0-9]+)");
  std::string named;
  for (auto it = std::sregex_iterator(reason.begin(), reason.end(), chunkName); it != std::sregex_iterator(); ++it)
    if (const auto machine = machineOfChunk(jobLog, it->str()))
      named += fmt::format("{}{} was encoded on {}", named.empty() ? "" : ", ", it->str(),
                           *machine == ":" ? std::string("this machine") : *machine);
  return named.empty() ? std::string() : " (" + named + ")";
}

} // namespace kestrova::pipeline
