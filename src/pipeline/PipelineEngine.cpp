#include "pipeline/PipelineEngine.h"

#include "core/Errors.h"
#include "pipeline/ToolBlame.h"
#include "tools/Cancellation.h"

#include <filesystem>
#include <unistd.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

PipelineEngine::PipelineEngine(tools::ToolLocator locator) : locator_(std::move(locator)) {}

PipelineEngine::~PipelineEngine() {
  waitForCancellation();
}

void PipelineEngine::log(const std::string &line) const {
  writeRunLog(line);
  if (onLog)
    onLog(line);
}

void PipelineEngine::verbose(const std::string &line) const {
  if (verboseLogging.load())
    log(line);
  else
    writeRunLog(line);
}

void PipelineEngine::writeRunLog(const std::string &line) const {
  std::lock_guard lock(runLogMutex_);
  if (runLog_)
    *runLog_ << line << std::endl;
}

void PipelineEngine::setRunLog(const fs::path &file) {
  std::lock_guard lock(runLogMutex_);
  runLog_.reset();
  if (file.empty())
    return;
  auto stream = std::make_unique<std::ofstream>(file, std::ios::app);
  if (*stream)
    runLog_ = std::move(stream);
}

std::stop_token PipelineEngine::stopToken() const {
  std::lock_guard lock(mutex_);
  return stopSource_.get_token();
}

void PipelineEngine::beginRun() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
  }
  armRun();
}

void PipelineEngine::armRun() {
  std::lock_guard lock(mutex_);
  stopSource_ = std::stop_source();
  if (cancelled_)
    stopSource_.request_stop();
}

void PipelineEngine::setWorkDirectory(fs::path directory) {
  std::lock_guard lock(mutex_);
  workDirectory_ = std::move(directory);
}

tools::ProcessLaunch PipelineEngine::inWorkDirectory(tools::ProcessLaunch launch) const {
  std::lock_guard lock(mutex_);
  if (!launch.workingDirectory && !workDirectory_.empty())
    launch.workingDirectory = workDirectory_;
  return launch;
}

std::shared_ptr<tools::Process> PipelineEngine::createCurrentProcess(tools::ProcessLaunch launch) {
  auto process = tools::Process::create(inWorkDirectory(std::move(launch)));
  std::lock_guard lock(mutex_);
  if (cancelled_)
    throw ConversionError::cancelled();
  currentProcess_ = process;
  return process;
}

std::shared_ptr<tools::Process> PipelineEngine::currentProcess() const {
  std::lock_guard lock(mutex_);
  return currentProcess_;
}

void PipelineEngine::cancel() {
  std::shared_ptr<tools::Process> process;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    stopSource_.request_stop();
    process = currentProcess_;
  }
  if (process)
    tools::signalCancellation(*process);
  // The grace period, SIGKILL and the search for helpers left must not hold
  // up the caller (the window's thread); they run on their own thread,
  // awaited on destruction.
  auto tail = std::async(std::launch::async, [process] { tools::finishCancellation(process, ::getpid()); });
  std::lock_guard lock(mutex_);
  std::erase_if(cancellationTails_,
                [](std::future<void> &f) { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  cancellationTails_.push_back(std::move(tail));
}

void PipelineEngine::logToolFailure() const {
  auto process = currentProcess();
  if (!process || process->pid() == 0 || process->isRunning() || process->wait().success())
    return;
  const auto &launch = process->launch();
  // A script run by bash is known by the script's name.
  std::string program = launch.executable;
  if (fs::path(program).filename() == "bash" && !launch.arguments.empty())
    program = launch.arguments.front();
  std::string name = fs::path(program).filename().string();
  for (const auto &raw : process->errorTail()) {
    const std::string line = withoutInternalCheck(raw);
    log(line.starts_with(name + ":") ? line : name + ": " + line);
  }
}

void PipelineEngine::waitForCancellation() {
  std::vector<std::future<void>> tails;
  {
    std::lock_guard lock(mutex_);
    tails.swap(cancellationTails_);
  }
  for (auto &tail : tails)
    tail.wait();
}

} // namespace kestrova::pipeline
