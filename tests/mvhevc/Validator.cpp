#include "Validator.h"

#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrova::mvhevc::test {

std::optional<std::filesystem::path> validatorFfmpeg() {
  if (const char *path = std::getenv("KESTROVA_VALIDATOR_FFMPEG"); path != nullptr && *path != '\0') {
    return std::filesystem::exists(path) ? std::optional<std::filesystem::path>(path) : std::nullopt;
  }
  std::filesystem::path cache;
  if (const char *xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg != '\0') {
    cache = xdg;
  } else if (const char *home = std::getenv("HOME"); home != nullptr) {
    cache = std::filesystem::path(home) / ".cache";
  }
  const auto path = cache / "kestrova/ffmpeg-validator/bin/ffmpeg";
  return std::filesystem::exists(path) ? std::optional(path) : std::nullopt;
}

bool underCi() {
  const char *ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::optional<std::filesystem::path> requireValidator() {
  auto validator = validatorFfmpeg();
  if (!validator && underCi()) {
    ADD_FAILURE() << "the MV-HEVC validator is missing; run scripts/build-validator";
  }
  return validator;
}

std::string converter() {
  return quote((kestrova::test::buildDir() / "share/kestrova/tools/MVHEVCConverter").string());
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> decodeView(const std::filesystem::path &validator, const std::filesystem::path &movie,
                                     int view, const std::filesystem::path &out) {
  const auto decoded = run(quote(validator.string()) + " -v error -y -i " + quote(movie.string()) +
                           " -map 0:v:view:" + std::to_string(view) + " -f rawvideo " + quote(out.string()));
  EXPECT_EQ(decoded.status, 0) << decoded.err;
  return readBytes(out);
}

RunResult run(const std::string &commandLine) {
  tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", commandLine};
  const auto collected = tools::runAndCollect(launch);
  RunResult result;
  result.status =
      collected.status.signalled ? 128 + collected.status.terminationStatus : collected.status.terminationStatus;
  result.out = collected.standardOutput;
  result.err = collected.standardError;
  return result;
}

std::string quote(const std::string &word) {
  std::string quoted = "'";
  for (const char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

double psnr(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b) {
  if (a.size() != b.size() || a.empty()) {
    throw std::runtime_error("pictures of different sizes");
  }
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace kestrova::mvhevc::test
