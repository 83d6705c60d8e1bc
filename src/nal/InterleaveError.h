#pragma once

#include "core/Errors.h"

#include <cstdint>
#include <string>

namespace kestrova::nal {

/// What can go wrong while reading or pairing the two views' access units.
/// `what()` is the user-facing description.
class InterleaveError : public Error {
public:
  enum class Kind { fileNotFound, accessUnitCountMismatch, readError, invalidStartCode };

  static InterleaveError fileNotFound(std::string path);
  static InterleaveError accessUnitCountMismatch(std::int64_t base, std::int64_t mvc);
  static InterleaveError readError(std::string message);
  static InterleaveError invalidStartCode();

  Kind kind() const { return kind_; }
  /// The path of fileNotFound, the message of readError, otherwise empty.
  const std::string &detail() const { return detail_; }
  std::int64_t baseCount() const { return base_; }
  std::int64_t mvcCount() const { return mvc_; }

  /// e.g. `accessUnitCountMismatch(base: 3, mvc: 5)` or `fileNotFound("/a/b.264")`.
  std::string debugText() const override;

  friend bool operator==(const InterleaveError &a, const InterleaveError &b) {
    return a.kind_ == b.kind_ && a.detail_ == b.detail_ && a.base_ == b.base_ && a.mvc_ == b.mvc_;
  }

private:
  InterleaveError(Kind kind, std::string description, std::string detail, std::int64_t base, std::int64_t mvc);
  Kind kind_;
  std::string detail_;
  std::int64_t base_;
  std::int64_t mvc_;
};

/// An input or output that exists but cannot be opened, read or created: the
/// operating system's own refusal, passed on with the path and its reason.
class FileAccessError : public Error {
public:
  FileAccessError(const std::string &action, const std::string &path, int errorNumber);
  int errorNumber() const { return errorNumber_; }

private:
  int errorNumber_;
};

} // namespace kestrova::nal
