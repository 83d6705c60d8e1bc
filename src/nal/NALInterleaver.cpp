#include "nal/NALInterleaver.h"

#include "nal/InterleaveError.h"
#include "nal/OutputStream.h"

#include <fmt/format.h>
#include <optional>

namespace kestrova::nal {
namespace {

class RunLog {
public:
  explicit RunLog(const LogFn &sink) : sink_(sink) {}
  void operator()(const std::string &message) const {
    if (sink_)
      sink_("[NALInterleaver] " + message);
  }

private:
  const LogFn &sink_;
};

std::int64_t countRemaining(StreamReader &reader) {
  std::int64_t count = 0;
  while (reader.readAccessUnit())
    ++count;
  return count;
}

} // namespace

void NALInterleaver::interleave(const std::filesystem::path &base, const std::filesystem::path &mvc,
                                const std::filesystem::path &output, const LogFn &onLog, std::stop_token stop) const {
  const RunLog log(onLog);
  StreamReader baseReader(base, kBaseDelimiterType, limits_);
  StreamReader mvcReader(mvc, kMvcDelimiterType, limits_);

  std::int64_t pairs = 0;
  std::optional<InterleaveError> mismatch;
  bool writeFailed = false;
  auto out = OutputStream::open(output, stop);
  bool finished = !out;
  if (!out)
    log("Cancelled");

  while (!finished) {
    for (std::int64_t inBatch = 0; inBatch < kBatchSize && !finished; ++inBatch) {
      const auto baseUnit = baseReader.readAccessUnit();
      const auto mvcUnit = mvcReader.readAccessUnit();
      if (!baseUnit || !mvcUnit) {
        finished = true;
        if (!baseUnit && !mvcUnit)
          break;
        // The unit just read has no partner and is not counted.
        const bool baseLonger = baseUnit.has_value();
        const std::int64_t extra = countRemaining(baseLonger ? baseReader : mvcReader);
        if (extra <= kTolerance)
          log(fmt::format("{} stream has {} extra AUs (ignored)", baseLonger ? "base" : "MVC", extra));
        else
          mismatch = InterleaveError::accessUnitCountMismatch(pairs + (baseLonger ? extra : 0),
                                                              pairs + (baseLonger ? 0 : extra));
        break;
      }
      if (stop.stop_requested()) {
        log("Cancelled");
        finished = true;
        break;
      }
      try {
        out->append(baseUnit->payload);
        out->append(mvcUnit->payload);
      } catch (const WriteFailure &failure) {
        log(std::string("Write error (likely cancelled): ") + failure.what());
        finished = writeFailed = true;
        break;
      }
      ++pairs;
    }
    if (!finished)
      log(fmt::format("{} pairs interleaved", pairs));
  }

  if (out && !writeFailed) {
    try {
      out->flush();
    } catch (const WriteFailure &failure) {
      log(std::string("Write error (likely cancelled): ") + failure.what());
    }
  }
  if (mismatch) {
    if (out)
      out->close();
    throw *mismatch;
  }
  log(fmt::format("Complete: {} pairs written", pairs));
  if (out)
    out->close();
}

} // namespace kestrova::nal
