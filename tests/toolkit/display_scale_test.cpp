// The one mapping between the design's 96-DPI pixels and a display's device pixels, at the
// scales people use (100, 125, 150, 175, 200 and 250 %): what shares an edge in the design shares
// it on the display, and every device pixel hit-tests to the logical pixel drawn there.
#include "toolkit/display_scale.h"
#include "toolkit/form.h"
#include "toolkit/headless/headless_backend.h"
#include <gtest/gtest.h>

using tk::DisplayScale;

namespace {

TEST(DisplayScale, EachEdgeLandsOnTheNearestDevicePixelHalvesUp)
{
    // Worked by hand; 433 by 368 is the main window's client area.
    const struct { int dpi, logical, device; } cases[] = {
        {96, 7, 7},     {120, 2, 3},   {120, 3, 4},    {120, -2, -2},  {120, -3, -4}, {120, 433, 541}, {120, 368, 460},
        {144, 1, 2},    {144, 5, 8},   {144, 433, 650}, {168, 2, 4},   {192, 433, 866}, {240, 1, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayScale(c.dpi).toDevice(c.logical), c.device) << c.dpi << " DPI, " << c.logical;
    EXPECT_EQ(DisplayScale(144).toDevice(tk::RectPx{5, 6, 430, 337}), (tk::DeviceRect{8, 9, 645, 506}));
    EXPECT_EQ(DisplayScale(120).toDevice(tk::PointPx{-3, 3}), (tk::DevicePoint{-4, 4}));
    EXPECT_TRUE(DisplayScale(0).isIdentity()) << "an unknown DPI is the design's";
}

TEST(DisplayScale, SpansTileWithoutGapsAndEachDevicePixelMapsBackToItsLogicalPixel)
{
    for (int dpi : {96, 120, 144, 168, 192, 240}) {
        const DisplayScale s(dpi);
        for (int x = -40; x < 600; ++x) {
            SCOPED_TRACE(testing::Message() << dpi << " DPI, x " << x);
            // Each logical pixel is at least one device pixel; its span starts where the last ends,
            // and left of the window (under a capture) too.
            ASSERT_LT(s.toDevice(x), s.toDevice(x + 1));
            EXPECT_EQ(s.toLogical(s.toDevice(x)), x);
            EXPECT_EQ(s.toLogical(s.toDevice(x + 1) - 1), x);
            if (x >= 0) { // measured text gets the smallest logical length that holds it
                const int logical = s.lengthToLogical(x);
                EXPECT_TRUE(logical * dpi >= x * 96 && (logical - 1) * dpi < x * 96) << logical;
            }
        }
    }
}

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
    // The window moved to a display where this text is a pixel a character wider.
    backend.textSize = [](std::string_view text, tk::SizePx s, int) { return tk::SizePx{s.cx + int(text.size()), s.cy}; };
    backend.findWindow("Labels")->events->scaleChanged();
    EXPECT_EQ(form.onForm.Width(), narrow + 4);
    EXPECT_EQ(form.inBox.Width(), narrow + 4);
}

} // namespace
