// busy_work UNITS: a fixed amount of computation per unit (no sleeping), so
// that a decoder stand-in costs the same CPU for the same number of pictures
// however the pictures are spread over processes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc != 2)
    return 2;
  const long units = std::strtol(argv[1], nullptr, 10);
  volatile std::uint64_t sink = 0;
  std::uint64_t x = 88172645463325252ull;
  for (long unit = 0; unit < units; ++unit)
    for (int i = 0; i < 4'000'000; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
    }
  sink = x;
  std::printf("%llu\n", static_cast<unsigned long long>(sink) & 1);
  return 0;
}
