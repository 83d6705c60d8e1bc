#include "ViewPairPump.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestrova::helpers {

namespace {

constexpr std::size_t kReadChunk = 1u << 20;
constexpr std::size_t kInputBacklog = 4u << 20;

[[noreturn]] void failSystem(const std::string &what) {
  throw PumpError("ldecod-pipe: " + what + ": " + std::strerror(errno));
}

// The position just past the next start code (00 00 01) at or after `from`.
std::optional<std::size_t> nextStartCode(const std::vector<std::uint8_t> &data, std::size_t from) {
  for (std::size_t i = from; i + 3 <= data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
      return i + 3;
  return std::nullopt;
}

enum class WriteOutcome { written, closed };

WriteOutcome writePair(int fd, const std::uint8_t *first, const std::uint8_t *second, std::size_t size) {
  iovec pieces[2] = {{const_cast<std::uint8_t *>(first), size}, {const_cast<std::uint8_t *>(second), size}};
  int index = 0;
  while (index < 2) {
    ssize_t n = ::writev(fd, pieces + index, 2 - index);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EPIPE)
      return WriteOutcome::closed;
    if (n < 0)
      failSystem("cannot write frame pairs");
    auto done = static_cast<std::size_t>(n);
    while (index < 2 && done >= pieces[index].iov_len)
      done -= pieces[index++].iov_len;
    if (index < 2) {
      pieces[index].iov_base = static_cast<std::uint8_t *>(pieces[index].iov_base) + done;
      pieces[index].iov_len -= done;
    }
  }
  return WriteOutcome::written;
}

} // namespace

ViewPairPump::ViewPairPump(PumpEndpoints endpoints, std::function<void(std::uint64_t)> onPairs,
                           std::uint64_t reportEvery)
    : io_(std::move(endpoints)), onPairs_(std::move(onPairs)), reportEvery_(std::max<std::uint64_t>(reportEvery, 1)) {}

void ViewPairPump::probeForSps(const std::uint8_t *data, std::size_t size) {
  if (format_)
    return;
  spsProbe_.insert(spsProbe_.end(), data, data + size);
  for (auto start = nextStartCode(spsProbe_, 0); start && *start < spsProbe_.size();
       start = nextStartCode(spsProbe_, *start)) {
    if ((spsProbe_[*start] & 0x1F) != 7)
      continue;
    // The unit ends where the next one starts; until that has arrived, wait.
    auto next = nextStartCode(spsProbe_, *start + 1);
    if (!next)
      break;
    std::size_t end = *next - 3;
    while (end > *start + 1 && spsProbe_[end - 1] == 0)
      --end;
    format_ = nal::parseSequenceParameterSet({spsProbe_.data() + *start + 1, end - *start - 1});
    if (!format_)
      throw PumpError("ldecod-pipe: the stream's sequence parameter set cannot be read");
    if (format_->chromaFormat > 1 || format_->bitDepthLuma > 8 || format_->bitDepthChroma > 8)
      throw PumpError("ldecod-pipe: only 8-bit 4:2:0 video can be paired (this stream has chroma format " +
                      std::to_string(format_->chromaFormat) + ", " + std::to_string(format_->bitDepthLuma) + " bits)");
    result_.format = format_;
    spsProbe_ = {};
    return;
  }
  if (spsProbe_.size() > kSpsSearchLimit)
    throw PumpError("ldecod-pipe: no sequence parameter set in the first " + std::to_string(kSpsSearchLimit >> 20) +
                    " MB of the stream");
}

void ViewPairPump::readSource() {
  std::uint8_t chunk[64 * 1024];
  ssize_t n = ::read(io_.source.get(), chunk, sizeof chunk);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (n < 0)
    failSystem("cannot read the input stream");
  if (n == 0) {
    sourceEnded_ = true;
    return;
  }
  probeForSps(chunk, static_cast<std::size_t>(n));
  pendingInput_.insert(pendingInput_.end(), chunk, chunk + n);
}

void ViewPairPump::feedDecoder() {
  ssize_t n = ::write(io_.decoderInput.get(), pendingInput_.data() + pendingHead_, pendingInput_.size() - pendingHead_);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (n < 0)
    failSystem("cannot pass the stream to ldecod");
  pendingHead_ += static_cast<std::size_t>(n);
  fed_ += static_cast<std::uint64_t>(n);
  if (pendingHead_ == pendingInput_.size()) {
    pendingInput_.clear();
    pendingHead_ = 0;
  }
}

void ViewPairPump::handOverEnd() {
  if (!sourceEnded_ || !io_.decoderInput.valid() || pendingHead_ != pendingInput_.size())
    return;
  if (fed_ == 0)
    throw PumpError("ldecod-pipe: the input stream is empty");
  // Closing our end of the decoder's input FIFO is what tells it the stream
  // has ended. Closed while bytes still wait in it, those bytes would be
  // lost if the decoder had not opened the FIFO yet; so close only once it
  // has taken everything (nothing but the decoder reads from it).
  int queued = 0;
  if (::ioctl(io_.decoderInput.get(), FIONREAD, &queued) == 0 && queued == 0)
    io_.decoderInput.reset();
}

void ViewPairPump::readView(int view) {
  ViewBuffer &buffer = views_[view];
  if (buffer.head > 0 && buffer.head >= buffer.bytes.size() / 2) {
    buffer.bytes.erase(buffer.bytes.begin(), buffer.bytes.begin() + static_cast<std::ptrdiff_t>(buffer.head));
    buffer.head = 0;
  }
  const std::size_t old = buffer.bytes.size();
  buffer.bytes.resize(old + kReadChunk);
  ssize_t n = ::read(io_.views[view].get(), buffer.bytes.data() + old, kReadChunk);
  buffer.bytes.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (n < 0)
    failSystem("cannot read decoded view " + std::to_string(view));
  if (n == 0) {
    buffer.ended = true;
    return;
  }
  if (format_ && buffer.available() > kMaxPictureLead * format_->frameBytes() &&
      views_[1 - view].available() < format_->frameBytes())
    throw PumpError("ldecod-pipe: view " + std::to_string(view) + " is more than " + std::to_string(kMaxPictureLead) +
                    " pictures ahead of view " + std::to_string(1 - view) + "; is this a two-view MVC stream?");
}

bool ViewPairPump::writePairs() {
  if (!format_)
    return true;
  const std::size_t frame = format_->frameBytes();
  while (views_[0].available() >= frame && views_[1].available() >= frame) {
    if (writePair(io_.output, views_[0].bytes.data() + views_[0].head, views_[1].bytes.data() + views_[1].head,
                  frame) == WriteOutcome::closed)
      return false;
    views_[0].head += frame;
    views_[1].head += frame;
    if (++result_.pairs % reportEvery_ == 0 && onPairs_)
      onPairs_(result_.pairs);
  }
  return true;
}

void ViewPairPump::drainViews() {
  for (int view = 0; view < 2; ++view)
    while (!views_[view].ended) {
      const std::size_t before = views_[view].bytes.size();
      readView(view);
      if (views_[view].bytes.size() == before)
        break; // nothing more waiting (EAGAIN), or the writer never opened the FIFO
    }
}

void ViewPairPump::finishCounts() {
  const std::size_t frame = format_ ? format_->frameBytes() : 0;
  for (int view = 0; view < 2; ++view) {
    const std::size_t left = views_[view].available();
    result_.unpaired[view] = frame ? left / frame : 0;
    result_.trailingBytes[view] = frame ? left % frame : left;
  }
}

PumpResult ViewPairPump::run() {
  enum Slot { source, decoderInput, view0, view1, exited, signals, slotCount };
  bool decoderGone = false;
  while (true) {
    pollfd fds[slotCount] = {};
    for (auto &fd : fds)
      fd.fd = -1;
    if (!sourceEnded_ && pendingInput_.size() - pendingHead_ < kInputBacklog)
      fds[source] = {io_.source.get(), POLLIN, 0};
    if (io_.decoderInput.valid() && pendingInput_.size() > pendingHead_)
      fds[decoderInput] = {io_.decoderInput.get(), POLLOUT, 0};
    for (int view = 0; view < 2; ++view)
      if (!views_[view].ended)
        fds[view0 + view] = {io_.views[view].get(), POLLIN, 0};
    fds[exited] = {io_.decoderExited, POLLIN, 0};
    fds[signals] = {io_.signals, POLLIN, 0};
    // Only while the decoder still has to take the last bytes of its input.
    const int timeout = sourceEnded_ && io_.decoderInput.valid() && pendingHead_ == pendingInput_.size() ? 20 : -1;
    if (::poll(fds, slotCount, timeout) < 0) {
      if (errno == EINTR)
        continue;
      failSystem("poll");
    }
    if (fds[signals].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(io_.signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        result_.end = PumpResult::End::stopped;
        result_.signal = static_cast<int>(info.ssi_signo);
        finishCounts();
        return result_;
      }
    }
    if (fds[source].revents & (POLLIN | POLLHUP | POLLERR))
      readSource();
    if (fds[decoderInput].revents & (POLLOUT | POLLERR))
      feedDecoder();
    handOverEnd();
    for (int view = 0; view < 2; ++view)
      if (fds[view0 + view].revents & (POLLIN | POLLHUP | POLLERR))
        readView(view);
    if (fds[exited].revents & (POLLIN | POLLHUP))
      decoderGone = true;
    if (decoderGone)
      drainViews();
    if (!writePairs()) {
      result_.end = PumpResult::End::outputClosed;
      finishCounts();
      return result_;
    }
    if (decoderGone) {
      finishCounts();
      return result_;
    }
  }
}

} // namespace kestrova::helpers
