#include "core/Errors.h"

#include <filesystem>
#include <fmt/format.h>

namespace kestrova {
namespace {

const char *caseName(ConversionError::Kind kind) {
  switch (kind) {
  case ConversionError::Kind::toolNotFound:
    return "toolNotFound";
  case ConversionError::Kind::demuxFailed:
    return "demuxFailed";
  case ConversionError::Kind::decodingFailed:
    return "decodingFailed";
  case ConversionError::Kind::encodingFailed:
    return "encodingFailed";
  case ConversionError::Kind::cancelled:
    return "cancelled";
  }
  return "cancelled";
}

std::string describe(ConversionError::Kind kind, const std::string &detail) {
  switch (kind) {
  case ConversionError::Kind::toolNotFound:
    return detail;
  case ConversionError::Kind::demuxFailed:
    return "Demux failed: " + detail;
  case ConversionError::Kind::decodingFailed:
    return "Decoding failed: " + detail;
  case ConversionError::Kind::encodingFailed:
    return "Encoding failed: " + detail;
  case ConversionError::Kind::cancelled:
    return "Conversion was cancelled";
  }
  return detail;
}

} // namespace

ConversionError::ConversionError(Kind kind, std::string detail)
    : Error(describe(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

std::string ConversionError::debugText() const {
  if (kind_ == Kind::cancelled)
    return caseName(kind_);
  return fmt::format("{}(\"{}\")", caseName(kind_), detail_);
}

std::string AnalysisError::debugText() const {
  return fmt::format("Error Domain={} Code={} \"{}\"", domain, code, what());
}

OutputExistsError::OutputExistsError(std::filesystem::path existing)
    : Error(fmt::format("\"{}\" already exists in {}; nothing was converted. Move it away, or convert again "
                        "allowing existing files to be replaced (--overwrite)",
                        existing.filename().string(), existing.parent_path().string())),
      path_(std::move(existing)) {}

NoSpaceError::NoSpaceError(std::filesystem::path folder)
    : Error(fmt::format("not enough space on {}; nothing was written under the output's name. Free some space "
                        "or choose another output folder",
                        folder.string())),
      folder_(std::move(folder)) {}

namespace {
std::string sizeText(std::uintmax_t bytes) {
  const double value = static_cast<double>(bytes);
  return value >= 1e9 ? fmt::format("{:.1f} GB", value / 1e9) : fmt::format("{:.1f} MB", value / 1e6);
}
} // namespace

NoSpaceError::NoSpaceError(std::filesystem::path folder, std::uintmax_t needed, std::uintmax_t available)
    : Error(fmt::format("not enough space on {}: needs {}, has {}. Free some space or choose another output folder",
                        folder.string(), sizeText(needed), sizeText(available))),
      folder_(std::move(folder)) {}

std::string errorDebugText(const std::exception &error) {
  if (const auto *own = dynamic_cast<const Error *>(&error))
    return own->debugText();
  return error.what();
}

} // namespace kestrova
