#include "SliceRewriter.h"
#include "Bitstream.h"
#include "ParameterSets.h"
#include "SliceHeader.h"
#include "ViewEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::mvhevc {
namespace {

// A short, moving picture sequence encoded the way the converter encodes a view.
std::vector<CodedPicture> encodeSample(int frames, const std::string &preset = "ultrafast") {
  EncoderSettings settings;
  settings.width = 64;
  settings.height = 64;
  settings.preset = preset;
  settings.keyframeInterval = 8;
  ViewEncoder encoder(settings);
  std::vector<std::uint8_t> luma(64 * 64), chroma(32 * 32, 128);
  std::vector<CodedPicture> coded;
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        luma[static_cast<std::size_t>(y * 64 + x)] = static_cast<std::uint8_t>((x * 3 + y + f * 5) ^ (y * f));
      }
    }
    PlanarPicture picture;
    picture.planes[0] = luma.data();
    picture.planes[1] = chroma.data();
    picture.planes[2] = chroma.data();
    picture.strides[0] = 64;
    picture.strides[1] = picture.strides[2] = 32;
    encoder.encode(picture, f, coded);
  }
  encoder.flush(coded);
  return coded;
}

const NalBytes &first(const std::vector<CodedPicture> &pictures, NalType type) {
  for (const auto &picture : pictures) {
    for (const auto &nal : picture.nals) {
      if (nalTypeOf(nal) == static_cast<std::uint8_t>(type)) {
        return nal;
      }
    }
  }
  throw std::runtime_error("missing parameter set");
}

// The presets differ in the header fields they use: weighted prediction, several references
// (list sizes and collocated picture), B-frames, SAO.
TEST(SliceRewriter, LayerOneSlicesParseUnderTheLayerOneSetsAndKeepTheirData) {
  for (const std::string preset : {"ultrafast", "medium", "slower"}) {
    const auto pictures = encodeSample(18, preset);
    ASSERT_EQ(pictures.size(), 18U) << preset;
    const auto &ppsNal = first(pictures, NalType::pps);
    const auto sps = parseSps(first(pictures, NalType::sps));
    const auto pps = parsePps(ppsNal);
    const auto pps1 = parsePps(rewrittenPps(ppsNal, 1, 1, 1));
    EXPECT_EQ(pps1.numExtraSliceHeaderBits, 0U);
    EXPECT_EQ(pps1.ppsId, 1U);
    const SliceRewriter rewriter(sps, pps, 1);
    int idrSlices = 0;
    int otherSlices = 0;
    for (const auto &picture : pictures) {
      for (const auto &nal : picture.nals) {
        const auto type = nalTypeOf(nal);
        if (!isSlice(type)) {
          continue;
        }
        const auto rewritten = rewriter.rewrite(nal);
        EXPECT_EQ(nalTypeOf(rewritten), type);
        EXPECT_EQ(layerIdOf(rewritten), 1);
        const auto before = rbspOf(nal);
        const auto after = rbspOf(rewritten);
        const auto original = parseSliceHeader(before, type, 0, sps, pps, InterLayerSignal::none);
        const auto layout = parseSliceHeader(after, type, 1, sps, pps1, InterLayerSignal::perSlice);
        EXPECT_EQ(layout.sliceType, original.sliceType) << preset;
        EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(original.sliceDataByte), before.end(),
                               after.begin() + static_cast<std::ptrdiff_t>(layout.sliceDataByte), after.end()))
            << preset << ": slice data changed";
        BitReader header(after);
        header.skip(layout.ppsIdAt);
        EXPECT_EQ(header.ue(), 1U);
        header.skip(layout.interLayerAt - header.position());
        EXPECT_FALSE(header.flag()) << "inter-layer prediction";
        if (isIdr(type)) {
          BitReader poc(after);
          poc.skip(layout.pocAt);
          EXPECT_EQ(poc.bits(8), 0U); // POC LSBs of an IDR picture
          ++idrSlices;
        } else {
          ++otherSlices;
        }
      }
    }
    EXPECT_EQ(idrSlices, 3) << preset; // keyframe interval 8 over 18 pictures
    EXPECT_GT(otherSlices, 0) << preset;
  }
}

TEST(SliceRewriter, LayerOneSpsTakesItsOwnId) {
  const auto pictures = encodeSample(2);
  const auto &spsNal = first(pictures, NalType::sps);
  const auto sps1 = layerOneSps(spsNal, 1);
  EXPECT_EQ(layerIdOf(sps1), 1);
  const auto spsInfo = parseSps(sps1);
  const auto original = parseSps(spsNal);
  EXPECT_EQ(spsInfo.spsId, 1U);
  EXPECT_EQ(spsInfo.width, original.width);
  EXPECT_EQ(spsInfo.temporalMvpEnabled, original.temporalMvpEnabled);
}

} // namespace
} // namespace kestrova::mvhevc
