// A disc kept as a UDF image, read with libudfread: no mount, no root.
#include "core/Errors.h"
#include "disc/DiscFiles.h"

#include <algorithm>
#include <fmt/format.h>
#include <fstream>
#include <udfread/udfread.h>

namespace kestrova::disc {
namespace fs = std::filesystem;

namespace {

struct CloseImage {
  void operator()(udfread *udf) const { udfread_close(udf); }
};
struct CloseFile {
  void operator()(UDFFILE *file) const { udfread_file_close(file); }
};
struct CloseFolder {
  void operator()(UDFDIR *folder) const { udfread_closedir(folder); }
};
using FileHandle = std::unique_ptr<UDFFILE, CloseFile>;

class IsoImage final : public DiscFiles {
public:
  explicit IsoImage(const fs::path &image) : image_(image), udf_(udfread_init()) {
    if (!udf_ || udfread_open(udf_.get(), image.c_str()) < 0)
      throw SourceError(fmt::format("\"{}\" cannot be read as a disc image: it is damaged or not a UDF image "
                                    "(Blu-ray discs use UDF)",
                                    image.string()));
  }

  std::vector<std::string> list(const std::string &folder) const override {
    std::vector<std::string> names;
    std::unique_ptr<UDFDIR, CloseFolder> dir(udfread_opendir(udf_.get(), ("/" + folder).c_str()));
    if (!dir)
      return names;
    udfread_dirent entry{};
    while (udfread_readdir(dir.get(), &entry)) {
      const std::string name = entry.d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<std::uint64_t> size(const std::string &file) const override {
    FileHandle handle = open(file);
    if (!handle)
      return std::nullopt;
    const std::int64_t bytes = udfread_file_size(handle.get());
    return bytes < 0 ? std::nullopt : std::optional<std::uint64_t>(static_cast<std::uint64_t>(bytes));
  }

  std::uint64_t bytesPastEnd(const std::string &file) const override {
    FileHandle handle = open(file);
    return handle ? pastEnd(handle.get()) : 0;
  }

  std::optional<std::string> read(const std::string &file, std::size_t limit) const override {
    FileHandle handle = open(file);
    if (!handle)
      return std::nullopt;
    std::string bytes(limit, '\0');
    std::size_t filled = 0;
    while (filled < limit) {
      const ssize_t got = udfread_file_read(handle.get(), bytes.data() + filled, limit - filled);
      if (got < 0)
        return std::nullopt;
      if (got == 0)
        break;
      filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
  }

  std::string label() const override {
    const char *volume = udfread_get_volume_id(udf_.get());
    return volume && *volume ? std::string(volume) : image_.stem().string();
  }

  std::optional<fs::path> realPath(const std::string &) const override { return std::nullopt; }

  void copy(const std::string &file, const fs::path &target) const override {
    FileHandle handle = open(file);
    if (!handle)
      throw SourceError(fmt::format("cannot read {} in \"{}\"", file, image_.string()));
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    std::string buffer(1 << 20, '\0');
    for (;;) {
      const ssize_t got = udfread_file_read(handle.get(), buffer.data(), buffer.size());
      if (got < 0 && pastEnd(handle.get()) > 0)
        throw SourceError(
            fmt::format("cannot read {} in \"{}\": the image is cut short, it ends {} bytes before that file "
                        "does, as a copy or download that stopped part way leaves it. Copy the disc "
                        "image again",
                        file, image_.string(), pastEnd(handle.get())));
      if (got < 0)
        throw SourceError(fmt::format("cannot read {} in \"{}\": the image is damaged", file, image_.string()));
      if (got == 0)
        break;
      out.write(buffer.data(), got);
      if (!out)
        throw fs::filesystem_error("cannot write", target, std::make_error_code(std::errc::io_error));
    }
    out.close();
    if (!out)
      throw fs::filesystem_error("cannot write", target, std::make_error_code(std::errc::io_error));
  }

private:
  FileHandle open(const std::string &file) const {
    return FileHandle(udfread_file_open(udf_.get(), ("/" + file).c_str()));
  }

  // How far the file's last block ends past the image's end (files lie in
  // the image in the order of their blocks).
  std::uint64_t pastEnd(UDFFILE *file) const {
    const std::int64_t bytes = udfread_file_size(file);
    std::error_code ec;
    const std::uint64_t imageBytes = fs::file_size(image_, ec);
    if (bytes <= 0 || ec)
      return 0;
    const std::uint32_t last = udfread_file_lba(file, static_cast<std::uint32_t>((bytes - 1) / UDF_BLOCK_SIZE));
    const std::uint64_t end = (static_cast<std::uint64_t>(last) + 1) * UDF_BLOCK_SIZE;
    return last != 0 && end > imageBytes ? end - imageBytes : 0;
  }

  fs::path image_;
  std::unique_ptr<udfread, CloseImage> udf_;
};

} // namespace

std::unique_ptr<DiscFiles> openDiscImage(const fs::path &image) {
  return std::make_unique<IsoImage>(image);
}

} // namespace kestrova::disc
