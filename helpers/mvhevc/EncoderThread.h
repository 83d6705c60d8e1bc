#pragma once

#include "FrameSource.h"
#include "MultiviewEncoder.h"
#include "ViewEncoder.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace kestrova::mvhevc {

/// An encoder fed with whole side-by-side pictures.
class PictureEncoder {
public:
  virtual ~PictureEncoder() = default;
  /// Encodes one picture (the encoder copies what it needs). Appends finished pictures.
  virtual void encode(const AVFrame &frame, std::int64_t pts, std::vector<CodedPicture> &out) = 0;
  /// Drains one picture still in flight into `out`; false when none was left.
  virtual bool flushOne(std::vector<CodedPicture> &out) = 0;
};

/// The view that starts `offsetX` samples into the picture (0 or the view width), as plane
/// pointers into the shared picture: no copy.
PlanarPicture viewOf(const AVFrame &frame, int offsetX);

/// Both views through the two-view encoder, which lives as long as the returned object.
std::unique_ptr<PictureEncoder> twoViewEncoder(MultiviewEncoder &encoder, int viewWidth);

/// Runs an encoder on its own thread, fed with shared decoded pictures.
class EncoderThread {
public:
  explicit EncoderThread(std::unique_ptr<PictureEncoder> encoder);
  ~EncoderThread();
  EncoderThread(const EncoderThread &) = delete;
  EncoderThread &operator=(const EncoderThread &) = delete;

  /// Queues a picture; waits while the queue is full.
  void push(SharedFrame frame, std::int64_t pts);
  /// Tells the thread that no more pictures come; it drains the encoder.
  void finish();
  /// Moves out the coded pictures finished so far. Rethrows an encoder failure.
  std::vector<CodedPicture> take();
  /// Waits until a coded picture is ready, the encoder is drained, or `stop` is requested.
  /// Rethrows an encoder failure.
  void waitForPictures(std::stop_token stop);
  /// True once the thread has drained its encoder (or failed).
  bool drained();
  /// Waits until the thread has drained its encoder. Rethrows an encoder failure.
  void join();

private:
  void run();
  /// Moves `done` into the shared list and wakes waiters; false once the thread is told to stop.
  bool publish(std::vector<CodedPicture> &done);

  std::unique_ptr<PictureEncoder> encoder_;
  std::mutex mutex_;
  std::condition_variable_any changed_; // any: waitForPictures also wakes on a stop request
  std::deque<std::pair<SharedFrame, std::int64_t>> queue_;
  std::vector<CodedPicture> coded_;
  bool finishing_ = false;
  bool stopping_ = false;
  bool drained_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

} // namespace kestrova::mvhevc
