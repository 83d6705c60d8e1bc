#include "pipeline/ViewDiscovery.h"

#include "core/Errors.h"

#include <algorithm>
#include <vector>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

void say(const LogFn &verbose, const std::string &line) {
  if (verbose)
    verbose(line);
}

std::vector<fs::path> sortedEntries(const fs::path &directory) {
  std::vector<fs::path> entries;
  for (const auto &entry : fs::directory_iterator(directory))
    entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

ViewFiles scanForViews(const fs::path &workDirectory, const LogFn &verbose) {
  say(verbose, "Scanning for demuxed files...");
  std::vector<fs::path> baseCandidates, mvcCandidates;
  for (const auto &entry : sortedEntries(workDirectory)) {
    if (entry.extension() == ".264")
      baseCandidates.push_back(entry);
    else if (entry.extension() == ".mvc")
      mvcCandidates.push_back(entry);
  }
  say(verbose, "Found " + std::to_string(baseCandidates.size()) + " .264 file(s), " +
                   std::to_string(mvcCandidates.size()) + " .mvc file(s)");
  for (const auto &file : baseCandidates)
    say(verbose, "  .264: " + file.filename().string());
  for (const auto &file : mvcCandidates)
    say(verbose, "  .mvc: " + file.filename().string());

  ViewFiles views;
  if (!baseCandidates.empty())
    views.base = baseCandidates.front();
  if (!mvcCandidates.empty()) {
    views.mvc = mvcCandidates.front();
  } else if (baseCandidates.size() >= 2) {
    views.mvc = baseCandidates[1];
    say(verbose, "Using second .264 as MVC: " + views.mvc.filename().string());
  }
  return views;
}

std::string sizeText(const fs::path &file) {
  std::error_code error;
  auto size = fs::file_size(file, error);
  return std::to_string(error ? 0 : size);
}

} // namespace

ViewFiles findViewFiles(const fs::path &workDirectory, const std::string &baseName, const LogFn &verbose) {
  ViewFiles views{workDirectory / (baseName + ".264"), workDirectory / (baseName + ".mvc")};
  if (!fs::exists(views.base) || !fs::exists(views.mvc))
    views = scanForViews(workDirectory, verbose);
  if (views.base.empty() || !fs::exists(views.base))
    throw ConversionError::demuxFailed("Base view file not found after demuxing");
  if (views.mvc.empty() || !fs::exists(views.mvc))
    throw ConversionError::demuxFailed("MVC view file not found after demuxing");
  say(verbose, "Base view: " + views.base.filename().string() + " (" + sizeText(views.base) + " bytes)");
  say(verbose, "MVC view: " + views.mvc.filename().string() + " (" + sizeText(views.mvc) + " bytes)");
  return views;
}

} // namespace kestrova::pipeline
