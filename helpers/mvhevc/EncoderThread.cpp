#include "EncoderThread.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kestrova::mvhevc {
namespace {

constexpr std::size_t kQueueDepth = 2;

class TwoViews : public PictureEncoder {
public:
  TwoViews(MultiviewEncoder &encoder, int viewWidth) : encoder_(encoder), viewWidth_(viewWidth) {}
  void encode(const AVFrame &frame, std::int64_t pts, std::vector<CodedPicture> &out) override {
    encoder_.encode(viewOf(frame, 0), viewOf(frame, viewWidth_), pts, out);
  }
  bool flushOne(std::vector<CodedPicture> &out) override { return encoder_.flushOne(out); }

private:
  MultiviewEncoder &encoder_;
  int viewWidth_;
};

} // namespace

PlanarPicture viewOf(const AVFrame &frame, int offsetX) {
  PlanarPicture picture;
  picture.planes[0] = frame.data[0] + offsetX;
  picture.planes[1] = frame.data[1] + offsetX / 2;
  picture.planes[2] = frame.data[2] + offsetX / 2;
  for (int plane = 0; plane < 3; ++plane) {
    picture.strides[plane] = frame.linesize[plane];
  }
  return picture;
}

std::unique_ptr<PictureEncoder> twoViewEncoder(MultiviewEncoder &encoder, int viewWidth) {
  return std::make_unique<TwoViews>(encoder, viewWidth);
}

EncoderThread::EncoderThread(std::unique_ptr<PictureEncoder> encoder)
    : encoder_(std::move(encoder)), thread_([this] { run(); }) {}

EncoderThread::~EncoderThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    finishing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void EncoderThread::push(SharedFrame frame, std::int64_t pts) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueueDepth || error_; });
  if (error_) {
    std::rethrow_exception(error_);
  }
  queue_.emplace_back(std::move(frame), pts);
  changed_.notify_all();
}

void EncoderThread::finish() {
  std::lock_guard lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
}

std::vector<CodedPicture> EncoderThread::take() {
  std::lock_guard lock(mutex_);
  if (error_) {
    std::rethrow_exception(error_);
  }
  return std::exchange(coded_, {});
}

void EncoderThread::waitForPictures(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, stop, [this] { return !coded_.empty() || drained_ || error_; });
  if (error_) {
    std::rethrow_exception(error_);
  }
}

bool EncoderThread::drained() {
  std::lock_guard lock(mutex_);
  return drained_;
}

void EncoderThread::join() {
  if (thread_.joinable()) {
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  if (error_) {
    std::rethrow_exception(error_);
  }
}

void EncoderThread::run() {
  try {
    std::vector<CodedPicture> done;
    for (;;) {
      std::pair<SharedFrame, std::int64_t> item;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (stopping_) {
          return;
        }
        if (queue_.empty()) {
          break;
        }
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      changed_.notify_all();
      encoder_->encode(*item.first, item.second, done);
      item.first.reset();
      publish(done);
    }
    // The encoder holds a lookahead's worth of pictures; hand them out one by one, so that
    // progress keeps moving and a stop does not wait for the whole drain.
    while (encoder_->flushOne(done)) {
      if (!publish(done)) {
        return;
      }
    }
    std::lock_guard lock(mutex_);
    drained_ = true;
    changed_.notify_all();
  } catch (...) {
    std::lock_guard lock(mutex_);
    error_ = std::current_exception();
    drained_ = true;
    changed_.notify_all();
  }
}

bool EncoderThread::publish(std::vector<CodedPicture> &done) {
  std::lock_guard lock(mutex_);
  for (auto &coded : done) {
    coded_.push_back(std::move(coded));
  }
  done.clear();
  changed_.notify_all();
  return !stopping_;
}

} // namespace kestrova::mvhevc
