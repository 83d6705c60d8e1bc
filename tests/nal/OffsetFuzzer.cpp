// Feeds arbitrary bytes to the offset-metadata reader whole and in two
// pieces cut where the input says, and checks that both readings agree and
// that every sequence can be asked for.

#include "nal/OffsetMetadata.h"

#include <cstdlib>

namespace {
using namespace kestrova::nal;

void check(bool condition) {
  if (!condition)
    std::abort();
}

OffsetMetadata read(std::span<const std::uint8_t> bytes, std::size_t cut) {
  OffsetMetadataReader reader;
  reader.feed(bytes.first(cut));
  reader.feed(bytes.subspan(cut));
  return reader.finish();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2)
    return 0;
  const std::span<const std::uint8_t> bytes(data + 2, size - 2);
  const std::size_t cut = (std::size_t{data[0]} << 8 | data[1]) % (bytes.size() + 1);
  const OffsetMetadata whole = read(bytes, bytes.size()), split = read(bytes, cut);
  check(whole.tables.size() == split.tables.size() && whole.defects.size() == split.defects.size());
  for (std::size_t i = 0; i < whole.tables.size(); ++i)
    check(whole.tables[i].sequences == split.tables[i].sequences &&
          whole.tables[i].pictures == split.tables[i].pictures);
  for (std::size_t sequence = 0; sequence <= whole.sequenceCount(); ++sequence)
    check(whole.frames(sequence) == split.frames(sequence) &&
          whole.frames(sequence).has_value() == (sequence < whole.sequenceCount()));
  return 0;
}
