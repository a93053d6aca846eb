// The progress bar's painting, read back pixel by pixel from a memory surface.
#include <gtest/gtest.h>

#include "tests/win/pixel_surface.h"
#include "ui/gradient_progress_ctrl.h"

namespace {

constexpr COLORREF kBar = RGB(0, 132, 255);
constexpr COLORREF kUnfilled = RGB(42, 56, 119);
constexpr COLORREF kMarker = RGB(1, 2, 3);  // what was there before painting
constexpr int kWidth = 300;
constexpr int kHeight = 6;

struct PaintCase {
    int low, high, pos;
    int barPixels;        // columns in the bar colour from the left, the rest unfilled
    bool grey;            // the whole bar grey instead
};

class GradientProgressPaint : public ::testing::TestWithParam<PaintCase> {};

TEST_P(GradientProgressPaint, PaintsBandsUpToTheFirstBandEdgePastThePosition)
{
    const PaintCase c = GetParam();
    CGradientProgressCtrl bar;
    bar.SetBarColor(kBar);
    bar.SetBarEndColor(kBar);
    bar.SetBkColor(kUnfilled);
    bar.SetRange(c.low, c.high);
    bar.SetPos(c.pos);
    PixelSurface surface(kWidth, kHeight, kMarker);
    bar.Draw(surface.dc(), RECT{0, 0, kWidth, kHeight});

    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const COLORREF expected = c.grey ? CGradientProgressCtrl::kOutOfRange : x < c.barPixels ? kBar : kUnfilled;
            ASSERT_EQ(surface.Pixel(x, y), expected) << "pixel " << x << "," << y;
        }
}

// One colour (0, 132, 255) makes 255 bands of 300/255 pixels; half of 300 is 150, and the
// first band edge beyond it is trunc(129 * 300/255) = 151.
INSTANTIATE_TEST_SUITE_P(Positions, GradientProgressPaint,
                         ::testing::Values(PaintCase{0, 100, 0, 0, true},       // at the low end
                                           PaintCase{0, 100, -5, 0, true},      // below the range
                                           PaintCase{0, 100, 101, 0, true},     // above the range
                                           PaintCase{0, 100, 50, 151, false},
                                           PaintCase{0, 100, 1, 4, false},      // 3 px: edge of band 3
                                           PaintCase{0, 100, 100, kWidth, false}));

TEST(GradientProgressCtrl, DefaultColoursPaintTheFirstColourWithoutPercentText)
{
    CGradientProgressCtrl bar;  // red to blue: 255 bands, all red; black unfilled part, no text
    bar.SetPos(50);
    PixelSurface surface(kWidth, 20, kMarker);
    bar.Draw(surface.dc(), RECT{0, 0, kWidth, 20});
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(surface.Pixel(x, y), x < 151 ? RGB(255, 0, 0) : RGB(0, 0, 0)) << x << "," << y;
}

TEST(GradientProgressCtrl, PercentTextIsDrawnInTheTextColourWhenSwitchedOn)
{
    CGradientProgressCtrl bar;
    bar.SetBarColor(kBar);
    bar.SetBarEndColor(kBar);
    bar.SetTextColor(RGB(255, 255, 0));
    bar.ShowPercent(TRUE);
    bar.SetPos(50);
    PixelSurface surface(kWidth, 20, kMarker);
    bar.Draw(surface.dc(), RECT{0, 0, kWidth, 20});
    int textPixels = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < kWidth; ++x) textPixels += surface.Pixel(x, y) == RGB(255, 255, 0);
    EXPECT_GT(textPixels, 0);
}

TEST(GradientProgressCtrl, RangeResetsThePositionToItsLowEnd)
{
    CGradientProgressCtrl bar;
    // Inside the range set next: kept, it would draw a bar from the left edge.
    bar.SetPos(30);
    bar.SetRange(20, 40);
    EXPECT_EQ(bar.GetPos(), 20);
    PixelSurface surface(kWidth, kHeight, kMarker);
    bar.Draw(surface.dc(), RECT{0, 0, kWidth, kHeight});
    EXPECT_EQ(surface.Pixel(0, 0), CGradientProgressCtrl::kOutOfRange);
    EXPECT_EQ(surface.Pixel(kWidth - 1, 0), CGradientProgressCtrl::kOutOfRange);
}

}  // namespace
