#include "SliceRewriter.h"
#include "Bitstream.h"
#include "ParameterSets.h"
#include "ViewEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::mvhevc {
namespace {

// A short, moving picture sequence encoded the way the converter encodes a view.
std::vector<CodedPicture> encodeSample(int frames) {
  EncoderSettings settings;
  settings.width = 64;
  settings.height = 64;
  settings.preset = "ultrafast";
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

TEST(SliceRewriter, GrowsHeadersByWholeBytesAndKeepsSliceData) {
  const auto pictures = encodeSample(18);
  ASSERT_EQ(pictures.size(), 18U);
  const auto sps = parseSps(first(pictures, NalType::sps));
  const auto pps = parsePps(first(pictures, NalType::pps));
  ASSERT_EQ(sps.log2MaxPocLsb, 8U);
  const SliceRewriter rewriter(sps, pps, 1);
  EXPECT_EQ(rewriter.paddingBits(), 5U);

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
      const std::size_t growth = isIdr(type) ? 2 : 1;
      ASSERT_EQ(after.size(), before.size() + growth);
      // Everything from the middle of the header on, slice data included, moved by whole bytes.
      ASSERT_GT(before.size(), 8U);
      const std::size_t tail = before.size() - 6;
      EXPECT_TRUE(std::equal(before.end() - static_cast<std::ptrdiff_t>(tail), before.end(),
                             after.end() - static_cast<std::ptrdiff_t>(tail)));

      BitReader header(after);
      EXPECT_TRUE(header.flag()); // one slice per picture
      if (isIrap(type)) {
        header.bits(1);
      }
      EXPECT_EQ(header.ue(), 1U);
      EXPECT_EQ(header.bits(5), 0U);
      const auto sliceType = header.ue();
      if (isIdr(type)) {
        EXPECT_EQ(sliceType, 2U);
        EXPECT_EQ(header.bits(8), 0U); // POC LSBs of an IDR picture
        EXPECT_FALSE(header.flag());   // no inter-layer prediction
        ++idrSlices;
      } else {
        ++otherSlices;
      }
    }
  }
  EXPECT_EQ(idrSlices, 3); // keyframe interval 8 over 18 pictures
  EXPECT_GT(otherSlices, 0);
}

TEST(SliceRewriter, LayerOneParameterSetsTakeTheirOwnIds) {
  const auto pictures = encodeSample(2);
  const auto &spsNal = first(pictures, NalType::sps);
  const auto &ppsNal = first(pictures, NalType::pps);
  const auto sps1 = layerOneSps(spsNal, 1);
  const auto pps1 = layerOnePps(ppsNal, 1, 1, 5);
  EXPECT_EQ(layerIdOf(sps1), 1);
  EXPECT_EQ(layerIdOf(pps1), 1);
  const auto spsInfo = parseSps(sps1);
  const auto original = parseSps(spsNal);
  EXPECT_EQ(spsInfo.spsId, 1U);
  EXPECT_EQ(spsInfo.width, original.width);
  EXPECT_EQ(spsInfo.temporalMvpEnabled, original.temporalMvpEnabled);
  const auto ppsInfo = parsePps(pps1);
  EXPECT_EQ(ppsInfo.ppsId, 1U);
  EXPECT_EQ(ppsInfo.spsId, 1U);
  EXPECT_EQ(ppsInfo.numExtraSliceHeaderBits, parsePps(ppsNal).numExtraSliceHeaderBits + 5);
  EXPECT_THROW(layerOnePps(ppsNal, 1, 1, 8), BitstreamError);
}

} // namespace
} // namespace kestrova::mvhevc
