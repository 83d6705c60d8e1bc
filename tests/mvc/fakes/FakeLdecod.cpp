// A stand-in for the JM decoder: takes the same "-p Key=Value" arguments,
// reads the interleaved two-view stream it is given and writes the two views
// as planar 4:2:0 files named like the real decoder's.
//
// The stream it understands is the one the tests generate: a NAL unit of type
// 7 (or 15 in the MVC view) carrying "W<width>H<height>" (a type-7 unit in
// binary form is a real sequence parameter set and is passed over), and picture slices
// of type 5 or 1 (base view) and 20 (MVC view) carrying "F<frame>". Pictures
// must alternate base, MVC, base, MVC with matching frame numbers, so a wrong
// interleave fails here just as it would garble the real decoder's output.
//
// View 0 is dark (luma 40), view 1 bright (luma 200); the frame number is
// burnt into the top rows as 16 bit cells (255 set, 0 clear), so halves and
// frame order can be checked after an encode.
//
// What it prints and writes follows the real JM 19.0 decoder's recorded run
// (recordings/): one line per picture with the frame's number, once per
// view; "N frames are decoded." counting the pictures of both views; log.dec
// appended in the current folder at the end, and when that cannot be opened
// "Error open file log.dec for appending" and exit status 244.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct Picture {
  int view;
  long frame;
};

int fail(int status, const std::string &message) {
  std::cerr << message << '\n';
  return status;
}

// The payload of every NAL unit, keyed by position, with its type.
struct Nal {
  int type;
  std::string payload;
};

std::vector<Nal> splitNalUnits(const std::string &data) {
  std::vector<Nal> units;
  std::size_t at = data.find(std::string("\0\0\1", 3));
  while (at != std::string::npos) {
    std::size_t header = at + 3;
    std::size_t next = data.find(std::string("\0\0\1", 3), header);
    std::size_t end = next == std::string::npos ? data.size() : next;
    // A four-byte start code leaves its leading zero at the end of the previous unit.
    std::size_t payloadEnd = end;
    while (payloadEnd > header + 1 && data[payloadEnd - 1] == '\0')
      --payloadEnd;
    if (header < data.size())
      units.push_back(
          {static_cast<unsigned char>(data[header]) & 0x1F, data.substr(header + 1, payloadEnd - header - 1)});
    at = next;
  }
  return units;
}

void writeFrame(std::ofstream &out, int width, int height, int view, long frame) {
  std::string luma(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                   static_cast<char>(view == 0 ? 40 : 200));
  const int cell = 4;
  for (int bit = 0; bit < 16 && (bit + 1) * cell <= width; ++bit) {
    char value = (frame >> bit) & 1 ? static_cast<char>(255) : 0;
    for (int row = 0; row < cell && row < height; ++row)
      for (int column = bit * cell; column < (bit + 1) * cell; ++column)
        luma[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(column)] =
            value;
  }
  std::string chroma(static_cast<std::size_t>(width / 2) * static_cast<std::size_t>(height / 2) * 2,
                     static_cast<char>(128));
  out << luma << chroma;
}

} // namespace

int main(int argc, char **argv) {
  std::map<std::string, std::string> config;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key != "-p" || value.find('=') == std::string::npos)
      return fail(1, "Invalid parameter: " + key + " " + value);
    config[value.substr(0, value.find('='))] = value.substr(value.find('=') + 1);
  }
  std::ifstream input(config["InputFile"], std::ios::binary);
  if (!input)
    return fail(244, "Input file " + config["InputFile"] + " does not exist");
  std::string data((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());

  int width = 0, height = 0;
  std::vector<Picture> pictures;
  for (const auto &nal : splitNalUnits(data)) {
    // A type-7 unit without the text form is a real sequence parameter set
    // (for readers such as ldecod-pipe); the size then comes from type 15.
    if (nal.type == 7 && !nal.payload.starts_with('W'))
      continue;
    if ((nal.type == 7 || nal.type == 15) && std::sscanf(nal.payload.c_str(), "W%dH%d", &width, &height) != 2)
      return fail(1, "Error: unreadable sequence parameter set");
    if (nal.type == 5 || nal.type == 1 || nal.type == 20) {
      long frame = 0;
      if (std::sscanf(nal.payload.c_str(), "F%ld", &frame) != 1)
        return fail(1, "Error: unreadable slice");
      pictures.push_back({nal.type == 20 ? 1 : 0, frame});
    }
  }
  if (width <= 0 || height <= 0)
    return fail(1, "Error: no sequence parameter set before the first slice");
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const Picture &p = pictures[i];
    bool expectedView = p.view == static_cast<int>(i % 2);
    bool samePair = p.view == 0 || p.frame == pictures[i - 1].frame;
    if (!expectedView || !samePair)
      return fail(1, "Error: picture " + std::to_string(i) + " (view " + std::to_string(p.view) + ", frame " +
                         std::to_string(p.frame) + ") out of order: views are not interleaved");
  }
  if (pictures.size() % 2 != 0)
    return fail(1, "Error: the last base picture has no MVC picture");

  std::string output = config.count("OutputFile") ? config["OutputFile"] : "test_dec.yuv";
  std::string stem = output.size() > 4 && output.ends_with(".yuv") ? output.substr(0, output.size() - 4) : output;
  bool allLayers = config["DecodeAllLayers"] == "1";
  std::ofstream view0(allLayers ? stem + "_ViewId0000.yuv" : output, std::ios::binary | std::ios::trunc);
  std::ofstream view1;
  if (allLayers)
    view1.open(stem + "_ViewId0001.yuv", std::ios::binary | std::ios::trunc);

  std::cout << "----------------------------- JM 19.0 (FRExt) -----------------------------\n"
            << " Decoder config file                    : (null)\n"
            << " Input H.264 bitstream                  : " << config["InputFile"] << "\n"
            << "POC must = frame# or field# for SNRs to be correct\n"
            << "  Frame          POC  Pic#   QP    SnrY     SnrU     SnrV   Y:U:V Time(ms)\n";
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const Picture &p = pictures[i];
    if (p.view == 0)
      writeFrame(view0, width, height, 0, p.frame);
    else if (allLayers)
      writeFrame(view1, width, height, 1, p.frame);
    char line[128];
    std::snprintf(line, sizeof line, "%05ld(%s)  %6ld %5ld    28                             4:2:0     1\n", p.frame,
                  p.frame == 0 && p.view == 0 ? "IDR" : " P ", 2 * p.frame, p.frame);
    std::cout << line;
  }
  std::cout << " Total decoding time : 0.002 sec (1500.000 fps)[" << pictures.size() << " frm/2 ms]\n"
            << " Exit JM 19 (FRExt) decoder, ver 19.0 \n"
            << " Output status file                     : log.dec \n"
            << std::flush;
  std::ofstream status("log.dec", std::ios::app);
  if (!status)
    return fail(244, "Error open file log.dec for appending");
  status << "|19.0/(FRExt)| " << config["InputFile"] << " |\n";
  std::cout << pictures.size() << " frames are decoded.\n";
  return 0;
}
