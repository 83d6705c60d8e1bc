// Feeds arbitrary bytes through edge264-pipe's input path: the Annex B
// reader (one interleaved stream) or the two-view merger (the bytes cut in
// two view files at a point the first byte picks), the parameter-set check
// and the decoder with its stall guard, and every pair through the writer's
// copy. Refusals are the typed errors; anything else, a crash or a hang, is
// a finding.
#include "NalUnitSource.h"
#include "PairDecoder.h"
#include "PairWriter.h"
#include "core/Errors.h"

#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {
using namespace kestrova::helpers;
using kestrova::UniqueFd;

UniqueFd memoryFile(const std::uint8_t *data, std::size_t size) {
  UniqueFd fd(::memfd_create("edge264-fuzz", MFD_CLOEXEC));
  if (!fd.valid())
    std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t written = ::write(fd.get(), data + done, size - done);
    if (written <= 0)
      std::abort();
    done += static_cast<std::size_t>(written);
  }
  ::lseek(fd.get(), 0, SEEK_SET);
  return fd;
}

std::string pathOf(const UniqueFd &fd) {
  return "/proc/self/fd/" + std::to_string(fd.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const std::uint8_t mode = data[0];
  ++data, --size;
  static const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  PairWriter writer(sink);
  // A low stall limit, so that a stream the decoder makes no pictures of
  // ends quickly instead of timing out the fuzzer.
  PairDecoder decoder(
      0, [&](const ViewPair &pair) { return writer.write(pair); }, 64);
  try {
    UniqueFd files[2];
    std::unique_ptr<NalUnitSource> source;
    if (mode & 1) {
      const std::size_t cut = size * (mode >> 1) / 128;
      files[0] = memoryFile(data, cut);
      files[1] = memoryFile(data + cut, size - cut);
      source = std::make_unique<ViewFilesSource>(pathOf(files[0]), pathOf(files[1]));
    } else {
      source = std::make_unique<AnnexBSource>(memoryFile(data, size), "fuzz", 1u << 20);
    }
    while (auto unit = source->next())
      decoder.feed(*unit);
    decoder.finish();
  } catch (const SourceError &) {
  } catch (const UnsupportedStream &) {
  } catch (const DecodeError &) {
  } catch (const kestrova::Error &) {
    // The view files' reader refuses an access unit larger than its buffer.
  }
  return 0;
}
