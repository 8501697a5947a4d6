// The one mapping between the design's 96-DPI pixels and a display's device pixels, at the
// scales people use (100, 125, 150, 175, 200 and 250 %): what shares an edge in the design shares
// it on the display, and every device pixel hit-tests to the logical pixel drawn there.
#include "toolkit/display_scale.h"
#include "toolkit/form.h"
#include "toolkit/headless/headless_backend.h"
#include <gtest/gtest.h>
#include <cmath>

using tk::DisplayScale;

namespace {

class TwoLabels : public tk::Form {
public:
    tk::Label onForm, inBox;
    tk::PictureBox box;

protected:
    void Build() override
    {
        SetDesign({.caption = "Labels", .clientWidth = 200 * 15, .clientHeight = 100 * 15, .scale = tk::ScaleMode::Pixels});
        Add(onForm, "onForm", {.left = 0, .top = 0, .width = 10, .height = 10, .caption = "abcd", .autoSize = true});
        Add(box, "box", {.left = 100, .top = 0, .width = 90, .height = 90, .scale = tk::ScaleMode::Pixels});
        box.Add(inBox, "inBox", {.left = 0, .top = 0, .width = 10, .height = 10, .caption = "abcd", .autoSize = true});
    }
};

TEST(DisplayScaleChange, AutoSizedLabelsMeasureAgainAndThoseInPictureBoxesToo)
{
    tk::headless::HeadlessBackend backend;
    tk::BackendInstaller install{backend};
    TwoLabels form;
    form.Show();
    const float narrow = form.onForm.Width();
    ASSERT_EQ(form.inBox.Width(), narrow);
    // The window moved to a display where this text is a pixel a character wider.
    backend.textSize = [](std::string_view text, tk::SizePx s, int) { return tk::SizePx{s.cx + int(text.size()), s.cy}; };
    backend.findWindow("Labels")->events->scaleChanged();
    EXPECT_EQ(form.onForm.Width(), narrow + 4);
    EXPECT_EQ(form.inBox.Width(), narrow + 4);
}

constexpr int kDpis[] = {96, 120, 144, 168, 192, 240};

TEST(DisplayScale, EachEdgeLandsOnTheNearestDevicePixelAndSpansTileWithoutGapsOrOverlaps)
{
    for (int dpi : kDpis) {
        const DisplayScale s(dpi);
        const double factor = dpi / 96.0;
        for (int x = -40; x < 600; ++x) {
            SCOPED_TRACE(testing::Message() << dpi << " DPI, x " << x);
            EXPECT_LE(std::abs(s.toDevice(x) - x * factor), 0.5);
            // Each logical pixel is at least one device pixel, and its span starts where the
            // previous one ends.
            ASSERT_LT(s.toDevice(x), s.toDevice(x + 1));
            EXPECT_EQ(s.toLogical(s.toDevice(x)), x) << "left edge inclusive";
            EXPECT_EQ(s.toLogical(s.toDevice(x + 1) - 1), x) << "last device pixel of the span";
            EXPECT_EQ(s.toLogical(s.toDevice(x + 1)), x + 1) << "right edge exclusive";
        }
    }
}

TEST(DisplayScale, RectanglesAndSizesMapEdgeByEdge)
{
    // The main window's client area and the scene's place in it, by hand at each scale.
    EXPECT_EQ(DisplayScale(96).toDevice(tk::SizePx{433, 368}), (tk::DeviceSize{433, 368}));
    EXPECT_EQ(DisplayScale(120).toDevice(tk::SizePx{433, 368}), (tk::DeviceSize{541, 460}));
    EXPECT_EQ(DisplayScale(144).toDevice(tk::SizePx{433, 368}), (tk::DeviceSize{650, 552}));
    EXPECT_EQ(DisplayScale(192).toDevice(tk::SizePx{433, 368}), (tk::DeviceSize{866, 736}));
    EXPECT_EQ(DisplayScale(120).toDevice(tk::RectPx{5, 6, 430, 337}), (tk::DeviceRect{6, 8, 538, 421}));
    EXPECT_EQ(DisplayScale(144).toDevice(tk::RectPx{5, 6, 430, 337}), (tk::DeviceRect{8, 9, 645, 506}));
    // Two neighbours meeting at x = 3 at 125 %: 3.75 rounds to 4 for both.
    EXPECT_EQ(DisplayScale(120).toDevice(tk::RectPx{0, 0, 3, 1}).right, DisplayScale(120).toDevice(tk::RectPx{3, 0, 7, 1}).left);
    EXPECT_EQ(DisplayScale(120).toDevice(tk::PointPx{-3, 3}), (tk::DevicePoint{-4, 4}));
    EXPECT_TRUE(DisplayScale().isIdentity());
    EXPECT_TRUE(DisplayScale(0).isIdentity()) << "an unknown DPI is the design's";
}

TEST(DisplayScale, PointsLeftOfOrAboveTheWindowMapBackToNegativePixels)
{
    // Under a mouse capture the pointer may be anywhere; -1 device is left of pixel 0.
    for (int dpi : kDpis) {
        EXPECT_EQ(DisplayScale(dpi).toLogical(-1), -1) << dpi;
        EXPECT_EQ(DisplayScale(dpi).toLogical(0), 0) << dpi;
    }
}

TEST(DisplayScale, MeasuredTextGetsTheSmallestLogicalLengthThatHoldsIt)
{
    for (int dpi : kDpis) {
        const DisplayScale s(dpi);
        for (int device = 0; device < 300; ++device) {
            const int logical = s.lengthToLogical(device);
            EXPECT_GE(logical * dpi, device * 96) << dpi << " DPI, " << device;
            EXPECT_LT((logical - 1) * dpi, device * 96) << dpi << " DPI, " << device;
        }
    }
}

} // namespace
