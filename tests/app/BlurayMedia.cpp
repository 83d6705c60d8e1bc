#include "BlurayMedia.h"

namespace kestrova::test {

namespace {

std::string nal(char header, const std::string &payload) {
  return std::string("\0\0\0\1", 4) + header + payload;
}

std::string viewText(int frames, int width, int height, bool mvc) {
  std::string stream;
  for (int frame = 0; frame < frames; ++frame) {
    stream += nal(mvc ? 0x18 : 0x09, "\x10");
    if (frame == 0)
      stream += nal(mvc ? 0x6F : 0x67, "W" + std::to_string(width) + "H" + std::to_string(height));
    stream += nal(mvc ? 0x74 : (frame == 0 ? 0x65 : 0x41), "F" + std::to_string(frame));
  }
  return stream;
}

} // namespace

std::string baseViewText(int frames, int width, int height) {
  return viewText(frames, width, height, false);
}

std::string mvcViewText(int frames, int width, int height) {
  return viewText(frames, width, height, true);
}

} // namespace kestrova::test
