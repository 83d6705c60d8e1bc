#include "pipeline/ChunkManifest.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t edgeBytes = 1 << 20;
constexpr const char *magic = "kestrova-chunks 1";

std::uint64_t fnv1a(std::uint64_t hash, const char *data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 1099511628211ULL;
  }
  return hash;
}

[[noreturn]] void throwSystem(const std::string &what, const fs::path &file) {
  throw fs::filesystem_error(what, file, std::error_code(errno, std::generic_category()));
}

struct Descriptor {
  int fd = -1;
  explicit Descriptor(int value) : fd(value) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (fd >= 0)
      ::close(fd);
  }
};

} // namespace

SourceIdentity identifySource(const fs::path &source) {
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0)
    throwSystem("cannot read the source", source);
  SourceIdentity identity;
  identity.size = static_cast<std::uint64_t>(info.st_size);
  identity.mtimeNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  std::ifstream in(source, std::ios::binary);
  if (!in)
    throwSystem("cannot open the source", source);
  std::vector<char> buffer(edgeBytes);
  std::uint64_t hash = 14695981039346656037ULL;
  in.read(buffer.data(), static_cast<std::streamsize>(std::min(edgeBytes, identity.size)));
  hash = fnv1a(hash, buffer.data(), static_cast<std::size_t>(in.gcount()));
  if (identity.size > edgeBytes) {
    in.seekg(static_cast<std::streamoff>(identity.size - std::min(edgeBytes, identity.size - edgeBytes)));
    in.read(buffer.data(), static_cast<std::streamsize>(edgeBytes));
    hash = fnv1a(hash, buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  identity.edgeHash = hash;
  return identity;
}

std::uint64_t contentHash(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throwSystem("cannot open", file);
  std::vector<char> buffer(edgeBytes);
  std::uint64_t hash = 14695981039346656037ULL;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
    hash = fnv1a(hash, buffer.data(), static_cast<std::size_t>(in.gcount()));
  return hash;
}

std::string manifestText(const ChunkManifest &manifest) {
  std::ostringstream out;
  out << magic << '\n'
      << "source " << manifest.source.size << ' ' << manifest.source.mtimeNanoseconds << ' ' << std::hex
      << manifest.source.edgeHash << std::dec << '\n'
      << "settings " << manifest.pictureSettings << '\n';
  if (!manifest.subtitles.empty())
    out << "subtitles " << manifest.subtitles << '\n';
  for (const auto &row : manifest.chunks) {
    out << "chunk " << row.span.index << ' ' << row.span.firstFrame << ' ' << row.span.frameCount << ' ';
    if (row.encodedBytes)
      out << *row.encodedBytes;
    else
      out << '-';
    out << '\n';
  }
  out << "end " << manifest.chunks.size() << '\n';
  return out.str();
}

std::optional<ChunkManifest> parseManifest(const std::string &text) {
  if (text.empty() || text.back() != '\n')
    return std::nullopt; // a write cut short
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != magic)
    return std::nullopt;
  ChunkManifest manifest;
  std::string word;
  if (!std::getline(in, line))
    return std::nullopt;
  std::istringstream source(line);
  if (!(source >> word >> manifest.source.size >> manifest.source.mtimeNanoseconds >> std::hex >>
        manifest.source.edgeHash) ||
      word != "source")
    return std::nullopt;
  if (!std::getline(in, line) || line.rfind("settings ", 0) != 0)
    return std::nullopt;
  manifest.pictureSettings = line.substr(9);
  std::int64_t nextFrame = 0;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    row >> word;
    if (word == "end") {
      std::size_t count = 0;
      return row >> count && count == manifest.chunks.size() && !manifest.chunks.empty() ? std::optional(manifest)
                                                                                         : std::nullopt;
    }
    if (word == "subtitles" && manifest.chunks.empty() && manifest.subtitles.empty() && line.size() > 10) {
      manifest.subtitles = line.substr(10);
      continue;
    }
    ChunkRow chunk;
    std::string bytes;
    if (word != "chunk" || !(row >> chunk.span.index >> chunk.span.firstFrame >> chunk.span.frameCount >> bytes) ||
        chunk.span.index != static_cast<int>(manifest.chunks.size()) || chunk.span.firstFrame != nextFrame ||
        chunk.span.frameCount <= 0)
      return std::nullopt;
    if (bytes != "-") {
      std::size_t used = 0;
      try {
        chunk.encodedBytes = std::stoull(bytes, &used);
      } catch (const std::exception &) {
        return std::nullopt;
      }
      if (used != bytes.size())
        return std::nullopt;
    }
    nextFrame += chunk.span.frameCount;
    manifest.chunks.push_back(chunk);
  }
  return std::nullopt; // cut short: no end line
}

void writeManifestAtomically(const ChunkManifest &manifest, const fs::path &file) {
  const auto temporary = fs::path(file).concat(".partial");
  const auto text = manifestText(manifest);
  {
    Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.fd < 0)
      throwSystem("cannot write the chunk manifest", temporary);
    for (std::size_t written = 0; written < text.size();) {
      const auto n = ::write(out.fd, text.data() + written, text.size() - written);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        throwSystem("cannot write the chunk manifest", temporary);
      written += static_cast<std::size_t>(n);
    }
    if (::fsync(out.fd) != 0)
      throwSystem("cannot write the chunk manifest", temporary);
  }
  fs::rename(temporary, file);
  const auto folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.fd >= 0)
    ::fsync(directory.fd);
}

std::optional<ChunkManifest> readManifest(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parseManifest(text.str());
}

std::optional<ChunkOnDisk> inspectChunk(const fs::path &file) {
  std::error_code error;
  const auto bytes = fs::file_size(file, error);
  std::ifstream record(fs::path(file).concat(".frames"));
  if (error || !record) {
    return std::nullopt;
  }
  std::string line;
  std::int64_t lines = 0;
  if (!std::getline(record, line) || line.rfind("view ", 0) != 0) {
    return std::nullopt;
  }
  while (std::getline(record, line)) {
    if (line.rfind("frames ", 0) == 0) {
      std::int64_t frames = -1;
      std::istringstream(line.substr(7)) >> frames;
      if (frames != lines || record.peek() != std::char_traits<char>::eof()) {
        return std::nullopt;
      }
      return ChunkOnDisk{bytes, frames};
    }
    ++lines;
  }
  return std::nullopt;
}

ResumePlan planResume(const std::optional<ChunkManifest> &found, const SourceIdentity &source,
                      const std::string &pictureSettings, const std::vector<ChunkSpan> &chunks,
                      const std::map<int, ChunkOnDisk> &onDisk, const std::string &subtitles) {
  ResumePlan plan;
  const auto everything = [&](std::string reason) {
    plan.startOver = true;
    plan.reason = std::move(reason);
    for (const auto &chunk : chunks)
      plan.encode.push_back(chunk.index);
    return plan;
  };
  if (!found)
    return everything("no manifest of an earlier run");
  if (!(found->source == source))
    return everything("the source changed");
  if (found->pictureSettings != pictureSettings)
    return everything("the settings changed");
  if (found->subtitles != subtitles)
    return everything("the burned-in subtitles changed");
  if (found->chunks.size() != chunks.size())
    return everything("the chunk table changed");
  for (std::size_t i = 0; i < chunks.size(); ++i)
    if (!(found->chunks[i].span == chunks[i]))
      return everything("the chunk table changed");
  for (const auto &row : found->chunks) {
    const auto disk = onDisk.find(row.span.index);
    // A chunk another machine or scheduler finished is not in the manifest
    // yet: its whole record vouches for it (a chunk is committed at its end).
    const bool intact = disk != onDisk.end() && (!row.encodedBytes || disk->second.bytes == *row.encodedBytes) &&
                        disk->second.frames == row.span.frameCount;
    (intact ? plan.reuse : plan.encode).push_back(row.span.index);
  }
  return plan;
}

} // namespace kestrova::pipeline
