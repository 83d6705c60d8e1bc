#pragma once

#include "core/UniqueFd.h"
#include "nal/SequenceParameterSet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::helpers {

/// A failure of the pump itself (not of the decoder): a read or write the
/// system refused, a stream whose sequence parameter set cannot be read, or
/// views that drift too far apart. `what()` is the message for the user.
class PumpError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// The descriptors the pump moves data between. Every pipe end is
/// non-blocking except `output`.
struct PumpEndpoints {
  kestrova::UniqueFd source;       ///< the stream to decode (a file, a pipe or a FIFO)
  kestrova::UniqueFd decoderInput; ///< the FIFO the decoder reads its stream from
  kestrova::UniqueFd views[2];     ///< the FIFOs the decoder writes view 0 and view 1 into
  int decoderExited = -1;          ///< becomes readable once the decoder has exited
  int signals = -1;                ///< a signalfd for the signals that stop the run
  int output = 1;                  ///< where the frame pairs go
};

/// How a pump run ended.
struct PumpResult {
  enum class End { decoded, outputClosed, stopped } end = End::decoded;
  std::uint64_t pairs = 0;               ///< frame pairs written to the output
  std::uint64_t unpaired[2] = {0, 0};    ///< whole pictures of one view left without a partner
  std::size_t trailingBytes[2] = {0, 0}; ///< bytes after the last whole picture of each view
  int signal = 0;                        ///< the signal that stopped the run (End::stopped)
  std::optional<nal::SequenceParameters> format;
};

/// Feeds the source to the decoder while reading both decoded views at once,
/// and writes each view-0 picture followed by the view-1 picture of the same
/// index to the output. Reading both views together matters: the decoder
/// writes them alternately into pipes of limited size, so reading one to its
/// end first would stall it. The picture size comes from the first sequence
/// parameter set that passes through.
class ViewPairPump {
public:
  /// Pictures of one view that may wait for the other before the run fails;
  /// MVC output never drifts further than the decoded picture buffer.
  static constexpr std::size_t kMaxPictureLead = 48;
  /// How far into the stream the first sequence parameter set must start.
  static constexpr std::size_t kSpsSearchLimit = 16u << 20;

  /// `onPairs` is called with the running count every `reportEvery` pairs.
  ViewPairPump(PumpEndpoints endpoints, std::function<void(std::uint64_t)> onPairs, std::uint64_t reportEvery = 50);

  /// Runs until the decoder has exited and its views are drained, the output
  /// is closed, or a signal arrives. Throws PumpError.
  PumpResult run();

private:
  struct ViewBuffer {
    std::vector<std::uint8_t> bytes;
    std::size_t head = 0;
    bool ended = false;
    std::size_t available() const { return bytes.size() - head; }
  };

  PumpEndpoints io_;
  std::function<void(std::uint64_t)> onPairs_;
  std::uint64_t reportEvery_;
  std::vector<std::uint8_t> pendingInput_;
  std::size_t pendingHead_ = 0;
  bool sourceEnded_ = false;
  std::uint64_t fed_ = 0; // bytes handed to the decoder
  std::vector<std::uint8_t> spsProbe_;
  std::optional<nal::SequenceParameters> format_;
  ViewBuffer views_[2];
  PumpResult result_;

  void readSource();
  void feedDecoder();
  /// Closes the decoder's input once the whole stream has reached it.
  void handOverEnd();
  void probeForSps(const std::uint8_t *data, std::size_t size);
  /// Reads what is there; false when the view has ended.
  void readView(int view);
  /// Writes every complete pair; false when the output has gone away.
  bool writePairs();
  void drainViews();
  void finishCounts();
};

} // namespace kestrova::helpers
