#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace kestrova {

/// Root of the project's exception hierarchy. `what()` is the user-facing
/// description; `debugText()` is the default textual form printed by the
/// command-line mode.
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
  virtual std::string debugText() const { return what(); }
};

/// The conversion engine's error: a case with a detail text.
class ConversionError : public Error {
public:
  enum class Kind { toolNotFound, demuxFailed, decodingFailed, encodingFailed, cancelled };

  static ConversionError toolNotFound(std::string detail) { return {Kind::toolNotFound, std::move(detail)}; }
  static ConversionError demuxFailed(std::string detail) { return {Kind::demuxFailed, std::move(detail)}; }
  static ConversionError decodingFailed(std::string detail) { return {Kind::decodingFailed, std::move(detail)}; }
  static ConversionError encodingFailed(std::string detail) { return {Kind::encodingFailed, std::move(detail)}; }
  static ConversionError cancelled() { return {Kind::cancelled, {}}; }

  Kind kind() const { return kind_; }
  const std::string &detail() const { return detail_; }

  /// e.g. `decodingFailed("ldecod exited with code 1")`, or `cancelled`.
  std::string debugText() const override;

  friend bool operator==(const ConversionError &a, const ConversionError &b) {
    return a.kind_ == b.kind_ && a.detail_ == b.detail_;
  }

private:
  ConversionError(Kind kind, std::string detail);
  Kind kind_;
  std::string detail_;
};

/// The source analysis' own error, domain "Kestrova", code 1.
class AnalysisError : public Error {
public:
  explicit AnalysisError(const std::string &description) : Error(description) {}
  static constexpr const char *domain = "Kestrova";
  static constexpr int code = 1;
  std::string debugText() const override;
};

/// A file the conversion would write exists already and the user has not
/// allowed replacing it; raised before any work is done.
class OutputExistsError : public Error {
public:
  explicit OutputExistsError(std::filesystem::path existing);
  /// The first existing output (a file, a folder or a symbolic link).
  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path path_;
};

/// The source cannot be converted as it is: unreadable, not a regular file,
/// not a video ffprobe can read, no video stream, no 3D layout. `what()`
/// names the file and the problem.
class SourceError : public Error {
public:
  using Error::Error;
};

/// The file system holding `folder` ran out of space while an output or a
/// work file was written there.
class NoSpaceError : public Error {
public:
  explicit NoSpaceError(std::filesystem::path folder);
  /// Found before writing: the step needs `needed` bytes where `available` are free.
  NoSpaceError(std::filesystem::path folder, std::uintmax_t needed, std::uintmax_t available);
  const std::filesystem::path &folder() const { return folder_; }

private:
  std::filesystem::path folder_;
};

/// The default textual form of any error that reaches the top of a run.
std::string errorDebugText(const std::exception &error);

} // namespace kestrova
