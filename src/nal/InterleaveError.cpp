#include "nal/InterleaveError.h"

#include <fmt/format.h>
#include <system_error>

namespace kestrova::nal {

InterleaveError::InterleaveError(Kind kind, std::string description, std::string detail, std::int64_t base,
                                 std::int64_t mvc)
    : Error(description), kind_(kind), detail_(std::move(detail)), base_(base), mvc_(mvc) {}

InterleaveError InterleaveError::fileNotFound(std::string path) {
  return {Kind::fileNotFound, "File not found: " + path, std::move(path), 0, 0};
}

InterleaveError InterleaveError::accessUnitCountMismatch(std::int64_t base, std::int64_t mvc) {
  return {Kind::accessUnitCountMismatch,
          fmt::format("Access unit count mismatch: base={}, MVC={}", base, mvc),
          {},
          base,
          mvc};
}

InterleaveError InterleaveError::readError(std::string message) {
  return {Kind::readError, "Read error: " + message, std::move(message), 0, 0};
}

InterleaveError InterleaveError::invalidStartCode() {
  return {Kind::invalidStartCode, "Invalid start code in stream", {}, 0, 0};
}

std::string InterleaveError::debugText() const {
  switch (kind_) {
  case Kind::fileNotFound:
    return fmt::format("fileNotFound(\"{}\")", detail_);
  case Kind::accessUnitCountMismatch:
    return fmt::format("accessUnitCountMismatch(base: {}, mvc: {})", base_, mvc_);
  case Kind::readError:
    return fmt::format("readError(\"{}\")", detail_);
  case Kind::invalidStartCode:
    return "invalidStartCode";
  }
  return what();
}

FileAccessError::FileAccessError(const std::string &action, const std::string &path, int errorNumber)
    : Error(fmt::format("Cannot {} {}: {}", action, path, std::system_category().message(errorNumber))),
      errorNumber_(errorNumber) {}

} // namespace kestrova::nal
