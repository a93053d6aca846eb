// Premultiplying the splash picture for the layered window: each colour channel scaled by the
// pixel's alpha, truncated.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ui/alpha_image.h"

namespace {

struct PremultiplyCase {
    uint32_t argb;
    uint32_t premultiplied;
};

class Premultiply : public ::testing::TestWithParam<PremultiplyCase> {};

TEST_P(Premultiply, ScalesEachChannelByAlphaAndTruncates)
{
    std::vector<uint32_t> pixels{GetParam().argb, 0xFF010203u};
    PremultiplyAlpha(pixels);
    EXPECT_EQ(pixels[0], GetParam().premultiplied);
    EXPECT_EQ(pixels[1], 0xFF010203u) << "an opaque neighbour is left as it is";
}

INSTANTIATE_TEST_SUITE_P(Pixels, Premultiply,
                         ::testing::Values(PremultiplyCase{0xFF102030u, 0xFF102030u},   // opaque
                                           PremultiplyCase{0x00FFFFFFu, 0x00000000u},   // transparent
                                           PremultiplyCase{0x80FF8040u, 0x80804020u},   // 64.25 -> 64, 32.1 -> 32
                                           PremultiplyCase{0x01FFFFFFu, 0x01010101u},
                                           PremultiplyCase{0xFE0102FFu, 0xFE0001FEu}));  // 0.99 -> 0, 1.99 -> 1

TEST(CAlphaImage, SplashPictureLoadsWithItsTransparentMarginsAndOpaquePanel)
{
    CAlphaImage image;
    ASSERT_TRUE(image.LoadPng(134));
    ASSERT_EQ(image.GetWidth(), 1600);
    ASSERT_EQ(image.GetHeight(), 896);
    EXPECT_EQ(image.Pixels()[0] >> 24, 0u);
    EXPECT_EQ(image.Pixels()[448 * 1600 + 800] >> 24, 0xFFu);
    CAlphaImage missing;
    EXPECT_FALSE(missing.LoadPng(4242));
    EXPECT_TRUE(missing.IsNull());
}

}  // namespace
