#include "OpenGopFilm.h"

#include "Validator.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::bluray::test {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

namespace {

constexpr std::size_t kPictureBytes = kOpenGopWidth * kOpenGopHeight * 3 / 2;
// A picture decoded from the wrong references, or its neighbour in its place
// (24 dB apart on the moving left eye), falls far below this; the encoded
// pictures are at 41 dB or more.
constexpr double kLowestPicture = 36.0;

} // namespace

fs::path openGopClip(const RealTools &tools, const fs::path &clips, bool pyramid) {
  const fs::path folder = kestrova::test::buildDir() / (pyramid ? "bluray-open-gop-pyramid" : "bluray-open-gop");
  if (!fs::exists(folder / "clip.m2ts")) {
    const auto made =
        run(quote((kestrova::test::sourceDir() / "tests/bluray/scripts/make-open-gop-clip.sh").string()) + " " +
            quote(tools.ldecod.parent_path().string()) + " " + quote(clips.string()) + " " + quote(folder.string()) +
            " " + std::to_string(kOpenGopPictures) + " " + std::to_string(kOpenGopWidth) + "x" +
            std::to_string(kOpenGopHeight) + " " + (pyramid ? "1" : "0") + " 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
  }
  return folder;
}

void expectEveryPicture(const fs::path &movie, const fs::path &clip, bool sideBySide, const fs::path &scratch) {
  const auto packed = sideBySide ? decodePictures(movie, scratch) : std::vector<std::uint8_t>{};
  for (int eye = 0; eye < 2; ++eye) {
    SCOPED_TRACE("eye " + std::to_string(eye));
    const auto pictures =
        sideBySide ? halfOf(packed, 2 * kOpenGopWidth, kOpenGopHeight, eye)
                   : mvhevc::test::decodeView(*mvhevc::test::validatorFfmpeg(), movie, eye, scratch / "eye.yuv");
    const auto reference = readBytes(clip / (eye == 0 ? "ref_ViewId0000.yuv" : "ref_ViewId0001.yuv"));
    ASSERT_EQ(pictures.size(), kOpenGopPictures * kPictureBytes);
    ASSERT_EQ(reference.size(), kOpenGopPictures * kPictureBytes);
    for (std::size_t at = 0; at < pictures.size(); at += kPictureBytes) {
      const auto picture = [at](const std::vector<std::uint8_t> &bytes) {
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(at + kPictureBytes));
      };
      EXPECT_GT(mvhevc::test::psnr(picture(pictures), picture(reference)), kLowestPicture)
          << "picture " << at / kPictureBytes;
    }
  }
}

} // namespace kestrova::bluray::test
