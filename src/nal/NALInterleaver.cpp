#include "nal/NALInterleaver.h"

#include "nal/InterleaveError.h"
#include "nal/OutputStream.h"
#include "nal/UnitOrder.h"

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

/// The state of one run: pairs written so far and how the run ended.
struct PairLoop {
  StreamReader &base;
  StreamReader &mvc;
  OutputStream &out;
  const RunLog &log;
  UnitOrder baseOrder{};
  UnitOrder mvcOrder{};
  std::stop_token stop;
  std::int64_t pairs = 0;
  std::optional<InterleaveError> mismatch;
  bool writeFailed = false;

  /// Reads and writes one pair; false once the run is finished.
  bool step() {
    const auto baseUnit = base.readAccessUnit();
    const auto mvcUnit = mvc.readAccessUnit();
    if (!baseUnit || !mvcUnit) {
      if (baseUnit || mvcUnit)
        settleLeftover(baseUnit.has_value());
      return false;
    }
    if (stop.stop_requested()) {
      log("Cancelled");
      return false;
    }
    try {
      for (const auto &pieces : {baseOrder.arrange(baseUnit->payload), mvcOrder.arrange(mvcUnit->payload)})
        for (std::size_t i = 0; i < pieces.count; ++i)
          out.append(pieces.parts[i]);
    } catch (const WriteFailure &failure) {
      reportWriteFailure(failure);
      return false;
    }
    ++pairs;
    return true;
  }

  /// One stream has ended: a few units left in the other are tolerated, more
  /// mean the two views do not belong together. None of them is written.
  void settleLeftover(bool baseLonger) {
    // The unit just read has no partner and is not counted.
    std::int64_t extra = 0;
    for (auto &longer = baseLonger ? base : mvc; longer.readAccessUnit();)
      ++extra;
    if (extra <= NALInterleaver::kTolerance)
      log(fmt::format("{} stream has {} extra AUs (ignored)", baseLonger ? "base" : "MVC", extra));
    else
      mismatch =
          InterleaveError::accessUnitCountMismatch(pairs + (baseLonger ? extra : 0), pairs + (baseLonger ? 0 : extra));
  }

  void reportWriteFailure(const WriteFailure &failure) {
    log(std::string("Write error (likely cancelled): ") + failure.what());
    writeFailed = true;
  }
};

} // namespace

void NALInterleaver::interleave(const std::filesystem::path &base, const std::filesystem::path &mvc,
                                const std::filesystem::path &output, const LogFn &onLog, std::stop_token stop) const {
  const RunLog log(onLog);
  StreamReader baseReader(base, kBaseDelimiterType, limits_);
  StreamReader mvcReader(mvc, kMvcDelimiterType, limits_);
  auto out = OutputStream::open(output, stop);
  if (!out) {
    // Cancelled while waiting for the FIFO's reader.
    log("Cancelled");
    log("Complete: 0 pairs written");
    return;
  }

  PairLoop loop{baseReader, mvcReader, *out, log, {}, {}, stop, 0, std::nullopt, false};
  for (bool more = true; more;) {
    for (std::int64_t inBatch = 0; inBatch < kBatchSize && more; ++inBatch)
      more = loop.step();
    if (more)
      log(fmt::format("{} pairs interleaved", loop.pairs));
  }
  if (!loop.writeFailed) {
    try {
      out->flush();
    } catch (const WriteFailure &failure) {
      loop.reportWriteFailure(failure);
    }
  }
  if (loop.mismatch) {
    out->close();
    throw *loop.mismatch;
  }
  log(fmt::format("Complete: {} pairs written", loop.pairs));
  out->close();
}

} // namespace kestrova::nal
