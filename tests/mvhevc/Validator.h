#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::mvhevc::test {

/// The decoder-only ffmpeg that reads MV-HEVC: $KESTROVA_VALIDATOR_FFMPEG, else the one
/// scripts/build-validator puts in the cache. Null when neither exists.
std::optional<std::filesystem::path> validatorFfmpeg();

/// True when running under CI, where a missing validator is a failure, not a skip.
bool underCi();

/// validatorFfmpeg(), recording a test failure when it is missing under CI.
std::optional<std::filesystem::path> requireValidator();

/// Runs `program` with `arguments` through bash with `environment` assignments prefixed;
/// returns exit code, standard output and standard error.
struct RunResult {
  int status = -1;
  std::string out, err;
};
RunResult run(const std::string &commandLine);

/// Quotes a word for bash.
std::string quote(const std::string &word);

/// The converter in the build's tools folder, quoted for bash.
std::string converter();

/// The whole file's bytes; empty when it cannot be read.
std::vector<std::uint8_t> readBytes(const std::filesystem::path &path);

/// One view (0 or 1) of an MV-HEVC `movie` decoded by `validator` into raw pictures at `out`;
/// records a test failure when the decode fails.
std::vector<std::uint8_t> decodeView(const std::filesystem::path &validator, const std::filesystem::path &movie,
                                     int view, const std::filesystem::path &out);

/// Peak signal-to-noise ratio of two equally long 8-bit pictures' bytes.
double psnr(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b);

} // namespace kestrova::mvhevc::test
