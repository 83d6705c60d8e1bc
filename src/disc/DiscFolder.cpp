// A disc kept as a folder on a file system.
#include "core/Errors.h"
#include "disc/DiscFiles.h"

#include <algorithm>
#include <fstream>

namespace kestrova::disc {
namespace fs = std::filesystem;

namespace {

class DiscFolder final : public DiscFiles {
public:
  explicit DiscFolder(fs::path root) : root_(std::move(root)) {}

  std::vector<std::string> list(const std::string &folder) const override {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(root_ / folder, error), end; !error && it != end; it.increment(error))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<std::uint64_t> size(const std::string &file) const override {
    std::error_code error;
    const auto bytes = fs::file_size(root_ / file, error);
    return error ? std::nullopt : std::optional<std::uint64_t>(bytes);
  }

  std::optional<std::string> read(const std::string &file, std::size_t limit) const override {
    std::ifstream in(root_ / file, std::ios::binary);
    if (!in)
      return std::nullopt;
    std::string bytes(limit, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    if (in.bad())
      return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
  }

  std::string label() const override { return fs::absolute(root_).lexically_normal().filename().string(); }

  std::optional<fs::path> realPath(const std::string &file) const override { return fs::absolute(root_ / file); }

  void copy(const std::string &file, const fs::path &target) const override {
    fs::copy_file(root_ / file, target, fs::copy_options::overwrite_existing);
  }

private:
  fs::path root_;
};

} // namespace

std::unique_ptr<DiscFiles> openDiscFolder(const fs::path &root) {
  return std::make_unique<DiscFolder>(root);
}

} // namespace kestrova::disc
