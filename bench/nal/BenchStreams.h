#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrova::nal::bench {

struct GeneratedPair {
  std::uint64_t baseBytes = 0;
  std::uint64_t mvcBytes = 0;
  std::uint64_t pictures = 0;
};

/// Writes a base view (.264) and an MVC view (.mvc) of about `totalBytes`
/// together, shaped like a Blu-ray 3D demux: every picture an access unit
/// opened by its delimiter (type 9, resp. 24), parameter sets on every
/// 24th picture, an SEI, one to four slices with emulation-prevention
/// bytes, pictures from a few hundred bytes (B) to about 1 MB (I).
GeneratedPair generatePair(const std::filesystem::path &base, const std::filesystem::path &mvc,
                           std::uint64_t totalBytes, std::uint64_t seed);

} // namespace kestrova::nal::bench
