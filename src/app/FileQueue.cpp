// How source files enter the model: selection, the queue, the choosers and
// drops, and the analyses that run for them off the main thread.
#include "app/BatchGate.h"
#include "app/ConverterModel.h"
#include "core/Errors.h"
#include "disc/DiscLocation.h"

#include <algorithm>
#include <cctype>
#include <cxxabi.h>
#include <fmt/format.h>
#include <typeinfo>

namespace kestrova::app {

namespace fs = std::filesystem;

namespace {

constexpr const char *kNoSupportedFiles = "No supported video files found.";

std::string lowerExtension(const fs::path &url) {
  std::string extension = url.extension().string();
  if (!extension.empty())
    extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// The error's own class name without its namespace, as the log shows it.
std::string unqualifiedTypeName(const std::exception &error) {
  const char *mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  auto colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::string fileName(const fs::path &url) {
  return url.filename().string();
}

/// Whether `url` names a hidden file (a run's temporary output, say).
bool hidden(const fs::path &url) {
  return url.filename().string().starts_with(".");
}

} // namespace

std::vector<fs::path> ConverterModel::sourcesOf(const std::vector<fs::path> &urls) {
  std::vector<fs::path> sources;
  for (const auto &url : urls) {
    std::error_code error;
    if (!fs::is_directory(url, error) || isSupportedSource(url)) {
      sources.push_back(url);
      continue;
    }
    std::vector<fs::path> inside;
    for (const auto &entry : fs::directory_iterator(url, error))
      if (!hidden(entry.path()) && isSupportedSource(entry.path()))
        inside.push_back(entry.path());
    std::sort(inside.begin(), inside.end());
    // A folder with nothing to convert stays, to be refused as it is.
    if (inside.empty())
      sources.push_back(url);
    sources.insert(sources.end(), inside.begin(), inside.end());
  }
  return sources;
}

bool ConverterModel::isSupportedSource(const fs::path &url) {
  static constexpr std::array<std::string_view, 9> kSupported{"mkv", "m2ts", "ts",   "bluray", "mp4",
                                                              "mov", "iso",  "mpls", "ssif"};
  std::error_code error;
  if (fs::is_directory(url, error))
    return disc::isDiscFolder(url);
  std::string extension = lowerExtension(url);
  return std::find(kSupported.begin(), kSupported.end(), extension) != kSupported.end();
}

void ConverterModel::spawnTask(std::function<void(std::stop_token)> task) {
  std::erase_if(tasks_, [](const BackgroundTask &entry) { return entry.done->load(); });
  auto done = std::make_shared<std::atomic<bool>>(false);
  tasks_.push_back(BackgroundTask{done, std::jthread([task = std::move(task), done](std::stop_token stop) {
                                    task(stop);
                                    done->store(true);
                                  })});
}

void ConverterModel::setParsing(bool parsing) {
  assign(isParsing_, parsing, ModelField::isParsing);
  gate_->setParsing(parsing);
}

void ConverterModel::selectFile(const fs::path &url) {
  assign(sourceFileURL_, std::optional<fs::path>(url), ModelField::sourceFileURL);
  // The last file's analysis must not stand for this one while it runs.
  if (sourceInfo_ && sourceInfo_->url != url)
    assign(sourceInfo_, std::optional<SourceFileInfo>(), ModelField::sourceInfo);
  cachedSBS_.reset();
  appendLog("Selected file: " + fileName(url));
  startSelectedAnalysis(url);
}

void ConverterModel::startSelectedAnalysis(const fs::path &url) {
  setParsing(true);
  appendLog("Parsing source file metadata...");
  appendLog("File path: " + url.string());
  std::error_code error;
  std::uintmax_t size = fs::file_size(url, error);
  appendLog(fmt::format("File size: {} MB", error ? 0 : size / 1'000'000));

  auto weak = weak_from_this();
  spawnTask([weak, url, analyzer = env_.analyzer, executor = env_.executor, log = mainThreadLog()](std::stop_token) {
    std::optional<SourceFileInfo> info;
    std::exception_ptr failure;
    try {
      info = analyzer(url, log);
    } catch (...) {
      failure = std::current_exception();
    }
    // The failure moves into the posted call so that the exception dies on the main thread that
    // read it: a copy left here would be released by this thread through a count the thread
    // checker cannot see.
    executor->post([weak, url, info = std::move(info), failure = std::move(failure)]() mutable {
      if (auto model = weak.lock())
        model->finishSelectedAnalysis(url, std::move(info), std::move(failure));
    });
  });
}

void ConverterModel::finishSelectedAnalysis(const fs::path &url, std::optional<SourceFileInfo> info,
                                            std::exception_ptr failure) {
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception &error) {
      assign(errorMessage_, std::optional<std::string>("Failed to parse file: " + std::string(error.what())),
             ModelField::errorMessage);
      analysisFailures_[url] = "Cannot read this file: " + std::string(error.what());
      changed(ModelField::fileInfoMap);
      appendLog("ERROR type: " + unqualifiedTypeName(error));
      appendLog("ERROR detail: " + errorDebugText(error));
      appendLog("ERROR: " + std::string(error.what()));
    } catch (...) {
      assign(errorMessage_, std::optional<std::string>("Failed to parse file: unknown error"),
             ModelField::errorMessage);
    }
  } else if (info) {
    assign(sourceInfo_, info, ModelField::sourceInfo);
    analysisFailures_.erase(url);
    // The queue rows show what is known of each file, however it was chosen.
    fileInfoMap_[url] = *info;
    changed(ModelField::fileInfoMap);
    if (info->hasMVCStream) {
      assign(errorMessage_, std::optional<std::string>(), ModelField::errorMessage);
      appendLog(fmt::format("Source parsed: {}, {}, mode: {}, MVC track: {}", info->resolution, durationText(*info),
                            info->stereoMode.text(), info->mvcTrackIndex.value_or(-1)));
    } else {
      // During a run the batch skips the file and marks its row; the
      // status line keeps to the run.
      if (!isConverting_)
        assign(errorMessage_, std::optional<std::string>(kNo3DReason), ModelField::errorMessage);
      appendLog("WARNING: No 3D stream detected (no MVC tracks, no stereo_mode tag, no Stereo 3D side data)");
    }
  }
  setParsing(false);
}

void ConverterModel::startQueueAnalysis(const fs::path &url) {
  auto weak = weak_from_this();
  spawnTask([weak, url, analyzer = env_.analyzer, executor = env_.executor](std::stop_token) {
    std::optional<SourceFileInfo> info;
    std::string failure;
    bool failed = false;
    try {
      info = analyzer(url, {});
    } catch (const std::exception &error) {
      failed = true;
      failure = error.what();
    }
    executor->post([weak, url, info = std::move(info), failed, failure] {
      auto model = weak.lock();
      if (!model)
        return;
      if (failed) {
        model->appendLog("Failed to parse " + fileName(url) + ": " + failure);
        model->analysisFailures_[url] = "Cannot read this file: " + failure;
        model->changed(ModelField::fileInfoMap);
      } else if (info) {
        model->analysisFailures_.erase(url);
        model->fileInfoMap_[url] = *info;
        model->changed(ModelField::fileInfoMap);
      }
    });
  });
}

void ConverterModel::addFiles(const std::vector<fs::path> &urls) {
  queueSources(sourcesOf(urls));
}

void ConverterModel::queueSources(const std::vector<fs::path> &sources) {
  std::vector<fs::path> kept;
  std::copy_if(sources.begin(), sources.end(), std::back_inserter(kept),
               [](const fs::path &url) { return isSupportedSource(url); });
  if (kept.empty()) {
    if (!isConverting_)
      assign(errorMessage_, std::optional<std::string>(kNoSupportedFiles), ModelField::errorMessage);
    else
      appendLog(kNoSupportedFiles);
    return;
  }
  // Files opened on the complete page start the next run afresh.
  if (!isConverting_ && currentStage_ == ConversionStage::complete)
    resetForNewConversion();
  for (const auto &url : kept) {
    if (std::find(fileQueue_.begin(), fileQueue_.end(), url) != fileQueue_.end())
      continue;
    fileQueue_.push_back(url);
    changed(ModelField::fileQueue);
    startQueueAnalysis(url);
  }
  // A single file's run that is given more files becomes a batch.
  if (isConverting_ && !isBatchMode_ && fileQueue_.size() >= 2)
    assign(isBatchMode_, true, ModelField::isBatchMode);
  // During a run the selection is the run's; the batch selects the new
  // files when it reaches them.
  if (!sourceFileURL_ && !isConverting_)
    selectFile(fileQueue_.front());
  appendLog(fmt::format("Queue: {} file(s)", fileQueue_.size()));
}

void ConverterModel::setFileLayout(const fs::path &file, FileLayout layout) {
  if (isConverting_ || fileLayout(file) == layout)
    return;
  fileLayouts_[file] = layout;
  appendLog(
      fmt::format("{}: layout {}{}", fileName(file), rawValue(layout.layout), layout.swapEyes ? ", eyes swapped" : ""));
  // The rows show what each file will become, and whether it can be converted.
  changed(ModelField::fileInfoMap);
  if (sourceFileURL_ != file)
    return;
  const bool refused = rejection(file) == std::optional<std::string>(kNo3DReason);
  if (refused != (errorMessage_ == std::optional<std::string>(kNo3DReason)))
    assign(errorMessage_, refused ? std::optional<std::string>(kNo3DReason) : std::nullopt, ModelField::errorMessage);
}

FileLayout ConverterModel::fileLayout(const fs::path &file) const {
  auto given = fileLayouts_.find(file);
  return given == fileLayouts_.end() ? FileLayout{} : given->second;
}

void ConverterModel::removeFromQueue(std::int64_t index) {
  if (isConverting_ || index < 0 || static_cast<std::size_t>(index) >= fileQueue_.size())
    return;
  fs::path removed = fileQueue_[static_cast<std::size_t>(index)];
  fileQueue_.erase(fileQueue_.begin() + static_cast<std::ptrdiff_t>(index));
  changed(ModelField::fileQueue);
  if (fileInfoMap_.erase(removed) > 0)
    changed(ModelField::fileInfoMap);
  appendLog("Removed from queue: " + fileName(removed));
  if (fileQueue_.empty()) {
    assign(sourceFileURL_, std::optional<fs::path>(), ModelField::sourceFileURL);
    assign(sourceInfo_, std::optional<SourceFileInfo>(), ModelField::sourceInfo);
  } else if (sourceFileURL_ == removed) {
    selectFile(fileQueue_.front());
  }
}

void ConverterModel::setFileQueue(std::vector<fs::path> queue) {
  if (isConverting_)
    return;
  assign(fileQueue_, std::move(queue), ModelField::fileQueue);
}

void ConverterModel::browseForFiles() {
  if (!env_.dialogs)
    return;
  auto urls = env_.dialogs->openFiles(OpenFilesRequest{"Select 3D Video Files",
                                                       {"mkv", "m2ts", "ts", "mp4", "mov", "iso", "mpls", "ssif"},
                                                       /*multipleSelection=*/true,
                                                       openStartDirectory()});
  if (urls.empty())
    return;
  lastOpenFolder_ = urls.front().parent_path();
  env_.settings->set(kLastOpenFolder, lastOpenFolder_->string());
  if (isConverting_) {
    addFiles(urls);
    return;
  }
  if (currentStage_ == ConversionStage::complete)
    resetForNewConversion();
  if (urls.size() == 1) {
    selectFile(urls.front());
    setFileQueue({urls.front()});
  } else if (urls.size() > 1) {
    addFiles(urls);
  }
}

void ConverterModel::browseForDiscFolder() {
  if (!env_.dialogs)
    return;
  if (auto folder = env_.dialogs->chooseDirectory(
          ChooseDirectoryRequest{"Select a Blu-ray Disc Folder", false, openStartDirectory()}))
    dropFiles({*folder});
}

void ConverterModel::dropFiles(const std::vector<fs::path> &urls) {
  if (isConverting_) {
    addFiles(urls);
    return;
  }
  resetForNewConversion();
  const std::vector<fs::path> sources = sourcesOf(urls);
  if (sources.size() != 1) {
    queueSources(sources);
    return;
  }
  if (!isSupportedSource(sources.front())) {
    assign(errorMessage_,
           std::optional<std::string>(
               "Unsupported file format. Please use MKV, M2TS, MP4, MOV, a Blu-ray disc folder or its ISO image."),
           ModelField::errorMessage);
    return;
  }
  selectFile(sources.front());
  setFileQueue({sources.front()});
}

void ConverterModel::chooseOutputDirectory() {
  if (!env_.dialogs || isConverting_)
    return;
  auto directory =
      env_.dialogs->chooseDirectory(ChooseDirectoryRequest{"Select Output Directory", true, outputDirectory_});
  if (!directory)
    return;
  setOutputDirectory(*directory);
  appendLog("Output directory set to: " + directory->string());
}

void ConverterModel::resetForNewConversion() {
  if (isConverting_)
    return;
  assign(isConverting_, false, ModelField::isConverting);
  assign(currentStage_, ConversionStage::idle, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
  assign(errorMessage_, std::optional<std::string>(), ModelField::errorMessage);
  assign(conversionStartTime_, std::optional<TimePoint>(), ModelField::conversionStartTime);
  assign(conversionEndTime_, std::optional<TimePoint>(), ModelField::conversionEndTime);
  assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  assign(fileQueue_, std::vector<fs::path>(), ModelField::fileQueue);
  assign(currentQueueIndex_, std::int64_t{0}, ModelField::currentQueueIndex);
  assign(batchCompletedCount_, std::int64_t{0}, ModelField::batchCompletedCount);
  assign(isBatchMode_, false, ModelField::isBatchMode);
  assign(lastOutputURL_, std::optional<fs::path>(), ModelField::lastOutputURL);
  assign(batchOutputURLs_, std::vector<fs::path>(), ModelField::batchOutputURLs);
  convertedSources_.clear();
  assign(fileOutcomes_, {}, ModelField::fileOutcomes);
  assign(sourceFileURL_, std::optional<fs::path>(), ModelField::sourceFileURL);
  assign(sourceInfo_, std::optional<SourceFileInfo>(), ModelField::sourceInfo);
}

} // namespace kestrova::app
