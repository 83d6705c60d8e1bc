#include "BenchStreams.h"

#include "core/UniqueFd.h"

#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::nal::bench {
namespace {

class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed | 1) {}
  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  std::uint64_t between(std::uint64_t low, std::uint64_t high) { return low + next() % (high - low + 1); }

private:
  std::uint64_t state_;
};

/// Escaped slice data: a zero byte in eight (so start-code candidates are
/// frequent), with 03 inserted wherever 00 00 is followed by a byte <= 3.
std::vector<std::uint8_t> payloadPool(Random &random, std::size_t size) {
  std::vector<std::uint8_t> pool;
  pool.reserve(size + size / 64);
  int zeros = 0;
  while (pool.size() < size) {
    const std::uint64_t r = random.next();
    auto byte = static_cast<std::uint8_t>((r >> 8) % 8 == 0 ? 0 : r);
    if (zeros >= 2 && byte <= 3) {
      pool.push_back(3);
      zeros = 0;
    }
    pool.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return pool;
}

class FileWriter {
public:
  explicit FileWriter(const std::filesystem::path &path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (!fd_.valid())
      throw std::runtime_error("cannot create " + path.string());
    buffer_.reserve(kChunk);
  }
  void add(const std::uint8_t *data, std::size_t size) {
    written_ += size;
    while (size > 0) {
      const std::size_t take = std::min(size, kChunk - buffer_.size());
      buffer_.insert(buffer_.end(), data, data + take);
      data += take;
      size -= take;
      if (buffer_.size() == kChunk)
        flush();
    }
  }
  void add(std::initializer_list<std::uint8_t> bytes) { add(bytes.begin(), bytes.size()); }
  void flush() {
    for (std::size_t done = 0; done < buffer_.size();) {
      const ssize_t n = ::write(fd_.get(), buffer_.data() + done, buffer_.size() - done);
      if (n <= 0)
        throw std::runtime_error("write failed while generating the benchmark input");
      done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
  }
  std::uint64_t written() const { return written_; }

private:
  static constexpr std::size_t kChunk = 4u << 20;
  UniqueFd fd_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t written_ = 0;
};

struct Generator {
  Random random;
  std::vector<std::uint8_t> pool;

  /// One NAL unit: start code, header, escaped payload ending in a non-zero byte.
  void nal(FileWriter &out, bool fourByteCode, std::uint8_t header, std::size_t size) {
    static constexpr std::uint8_t kCode[] = {0, 0, 0, 1};
    out.add(fourByteCode ? kCode : kCode + 1, fourByteCode ? 4 : 3);
    out.add({header});
    size = std::max<std::size_t>(size, 2);
    const std::size_t offset = random.next() % (pool.size() - size);
    out.add(pool.data() + offset, size - 1);
    out.add({0x80}); // rbsp stop bit
  }

  void slices(FileWriter &out, std::uint8_t header, std::size_t total) {
    const auto count = static_cast<std::size_t>(random.between(1, 4));
    for (std::size_t i = 0; i < count; ++i)
      nal(out, false, header, total / count);
  }

  std::size_t pictureSize(std::uint64_t index) {
    if (index % 24 == 0)
      return random.between(200'000, 1'000'000);
    if (index % 3 == 0)
      return random.between(30'000, 300'000);
    return random.between(300, 60'000);
  }
};

} // namespace

GeneratedPair generatePair(const std::filesystem::path &base, const std::filesystem::path &mvc,
                           std::uint64_t totalBytes, std::uint64_t seed) {
  Generator gen{Random(seed), {}};
  gen.pool = payloadPool(gen.random, 8u << 20);
  FileWriter baseOut(base);
  FileWriter mvcOut(mvc);
  GeneratedPair pair;
  for (; baseOut.written() + mvcOut.written() < totalBytes; ++pair.pictures) {
    const bool anchor = pair.pictures % 24 == 0;
    const std::size_t size = gen.pictureSize(pair.pictures);

    baseOut.add({0, 0, 0, 1, 0x09, 0x10}); // access unit delimiter
    if (anchor) {
      gen.nal(baseOut, true, 0x67, 14); // SPS
      gen.nal(baseOut, true, 0x68, 5);  // PPS
    }
    gen.nal(baseOut, false, 0x06, 24); // SEI
    gen.slices(baseOut, anchor ? 0x65 : 0x41, size);

    mvcOut.add({0, 0, 0, 1, 0x18, 0x80}); // MVC view delimiter
    if (anchor) {
      gen.nal(mvcOut, true, 0x6F, 22); // subset SPS
      gen.nal(mvcOut, true, 0x68, 5);
    }
    gen.slices(mvcOut, 0x74, size * 3 / 4); // coded slice extension
  }
  baseOut.flush();
  mvcOut.flush();
  pair.baseBytes = baseOut.written();
  pair.mvcBytes = mvcOut.written();
  return pair;
}

} // namespace kestrova::nal::bench
