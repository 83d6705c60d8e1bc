// Feeds arbitrary bytes to the access-unit reader with a buffer size chosen
// by the input, and checks every unit against the plain model: the same
// units, or a refusal only when some unit really does not fit.

#include "nal/InterleaveError.h"
#include "nal/StreamReader.h"

#include "ReferenceReader.h"

#include <algorithm>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {
using namespace kestrova::nal;
using kestrova::UniqueFd;

UniqueFd memoryFile(const std::uint8_t *data, std::size_t size) {
  UniqueFd fd(::memfd_create("nal-fuzz", MFD_CLOEXEC));
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

void check(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3)
    return 0;
  const std::uint8_t type = (data[0] & 1) ? 24 : 9;
  ReaderLimits limits{64 + std::size_t{data[1]} * 4, 1 + std::size_t{data[2]}};
  data += 3;
  size -= 3;
  const auto reference = kestrova::nal::test::referenceRead({data, data + size}, type);
  std::size_t longest = reference.junk;
  for (const auto &unit : reference.units)
    longest = std::max(longest, unit.delimiter.size() + unit.payload.size());

  StreamReader reader(memoryFile(data, size), "fuzz input", type, limits);
  try {
    std::size_t index = 0;
    while (const auto unit = reader.readAccessUnit()) {
      check(index < reference.units.size());
      const auto &expected = reference.units[index++];
      check(std::equal(unit->delimiter.begin(), unit->delimiter.end(), expected.delimiter.begin(),
                       expected.delimiter.end()));
      check(std::equal(unit->payload.begin(), unit->payload.end(), expected.payload.begin(), expected.payload.end()));
    }
    check(index == reference.units.size());
    check(reader.discardedBytes() == reference.junk);
    check(!reader.readAccessUnit());
  } catch (const InterleaveError &error) {
    check(error.kind() == InterleaveError::Kind::readError && longest + 6 > limits.capacity);
  }
  return 0;
}
