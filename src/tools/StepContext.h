#pragma once

#include "tools/Process.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::tools {

/// What one step of a conversion needs of the run that hosts it: its tools,
/// its log, and processes that a cancel of the run ends. Steps below the
/// pipeline (the demux) take this instead of the whole engine.
class StepContext {
public:
  virtual ~StepContext() = default;

  /// The path of tool `name` as the run's locator finds it.
  virtual std::optional<std::string> findTool(std::string_view name) const = 0;
  /// A line of the normal log.
  virtual void log(const std::string &line) const = 0;
  /// A line of the verbose log (dropped unless verbose logging is on).
  virtual void verbose(const std::string &line) const = 0;
  /// An unstarted process that a cancel of the run ends; throws the run's
  /// cancelled error once the run has been cancelled.
  virtual std::shared_ptr<Process> createCurrentProcess(ProcessLaunch launch) = 0;

protected:
  StepContext() = default;
  StepContext(const StepContext &) = default;
  StepContext &operator=(const StepContext &) = default;
};

} // namespace kestrova::tools
