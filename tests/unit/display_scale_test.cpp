// The main window at 100, 125, 150 and 200 %: its client area grows by the scale, the scene fills
// its box exactly, and every hotspot answers the pointer up to its edges, left and top inclusive,
// right and bottom exclusive, with neither gaps nor overlaps where the design has none.
#include "test_support.h"
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

using namespace testsupport;
using tk::PointPx;
using tk::RectPx;

namespace {

struct Scale {
    int dpi;
    tk::DeviceSize client; // the design's 433 x 368, scaled and rounded by hand
};
constexpr Scale kScales[] = {{96, {433, 368}}, {120, {541, 460}}, {144, {650, 552}}, {192, {866, 736}}};

// A design pixel's edge on the display: the nearest device pixel, halves up.
int onDisplay(int logical, int dpi) { return int(std::floor(logical * dpi / 96.0 + 0.5)); }

// Picture1's inner area starts at client pixel (5, 6); hotspots are in twips inside it.
RectPx logicalRect(const Spot& s)
{
    return {5 + s.left / 15, 6 + s.top / 15, 5 + (s.left + s.width) / 15, 6 + (s.top + s.height) / 15};
}

// The title the strip should show for the pointer over this design pixel of the picture:
// the topmost hotspot there, or nothing on bare picture.
std::string expectedTitle(PointPx p)
{
    for (const Spot& s : kSpots)
        if (logicalRect(s).contains(p))
            return s.title;
    return "";
}

class DisplayScaleTest : public ::testing::TestWithParam<Scale> {
protected:
    HeadlessBackend backend{artResource};
    tk::BackendInstaller install{backend};
    std::optional<Application> app;
    HeadlessWindow* mainWin = nullptr;

    void SetUp() override
    {
        backend.dpi = GetParam().dpi;
        app.emplace();
        app->Start();
        mainWin = backend.findWindow("Lumeno ControlPanel");
        ASSERT_NE(mainWin, nullptr);
    }
    int device(int logical) const { return onDisplay(logical, GetParam().dpi); }
    std::string stripAfterMovingTo(tk::DevicePoint devicePoint)
    {
        backend.mouseMove(*mainWin, {device(7), device(300)}); // bare picture: the strip empties
        EXPECT_EQ(app->MainWindow().lblInfo.Caption(), "");
        backend.mouseMove(*mainWin, devicePoint);
        return app->MainWindow().lblInfo.Caption();
    }
};

TEST_P(DisplayScaleTest, TheClientAreaIsTheDesignTimesTheScaleAndTheSceneFillsItsSunkenBox)
{
    EXPECT_EQ(mainWin->clientSize(), GetParam().client);
    // The scene is the first picture drawn; pictures keep their design size at every scale.
    std::vector<tk::DeviceRect> edges;
    std::optional<tk::DeviceRect> drawn;
    for (const auto& op : mainWin->paint()) {
        if (op.kind == tk::headless::DrawOp::Kind::SunkenEdge)
            edges.push_back(op.rect);
        if (op.kind == tk::headless::DrawOp::Kind::Picture && !drawn) {
            EXPECT_EQ(op.picture->size(), (tk::SizePx{425, 331}));
            drawn = op.rect;
        }
    }
    ASSERT_TRUE(drawn);
    const tk::DeviceRect box{device(3), device(4), device(432), device(339)};
    EXPECT_NE(std::find(edges.begin(), edges.end(), box), edges.end()) << "the picture box's sunken edge";
    EXPECT_EQ(*drawn, (tk::DeviceRect{device(5), device(6), device(430), device(337)}));
}

TEST_P(DisplayScaleTest, EveryHotspotAnswersFromItsLeftAndTopEdgesUpToButNotIncludingItsRightAndBottom)
{
    for (const Spot& s : kSpots) {
        const RectPx r = logicalRect(s);
        SCOPED_TRACE(s.name);
        // Its own corners on the display, unless a hotspot above it covers them in the design.
        EXPECT_EQ(stripAfterMovingTo({device(r.left), device(r.top)}), expectedTitle({r.left, r.top}));
        EXPECT_EQ(stripAfterMovingTo({device(r.right) - 1, device(r.bottom) - 1}),
                  expectedTitle({r.right - 1, r.bottom - 1}));
        // One device pixel beyond each edge is the neighbour's, or bare picture, or no picture.
        EXPECT_EQ(stripAfterMovingTo({device(r.left) - 1, device(r.top)}), expectedTitle({r.left - 1, r.top}));
        EXPECT_EQ(stripAfterMovingTo({device(r.left), device(r.top) - 1}), expectedTitle({r.left, r.top - 1}));
        EXPECT_EQ(stripAfterMovingTo({device(r.right), device(r.bottom) - 1}), expectedTitle({r.right, r.bottom - 1}));
        EXPECT_EQ(stripAfterMovingTo({device(r.right) - 1, device(r.bottom)}), expectedTitle({r.right - 1, r.bottom}));
    }
}

TEST_P(DisplayScaleTest, EachHotspotsCentreShowsItsTitleAndAClickThereStartsItsApplet)
{
    for (const Spot& s : kSpots) {
        const RectPx r = logicalRect(s);
        const tk::DevicePoint c{device((r.left + r.right) / 2), device((r.top + r.bottom) / 2)};
        if (expectedTitle({(r.left + r.right) / 2, (r.top + r.bottom) / 2}) != s.title)
            continue; // covered there by a hotspot above it
        EXPECT_EQ(stripAfterMovingTo(c), s.title);
        backend.processStarts.clear();
        backend.click(*mainWin, c);
        ASSERT_EQ(backend.processStarts.size(), 1u) << s.name;
        EXPECT_EQ(backend.processStarts[0].commandLine, kAppletCommands[s.applet]) << s.name;
    }
}

INSTANTIATE_TEST_SUITE_P(AtEachScale, DisplayScaleTest, ::testing::ValuesIn(kScales),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

} // namespace
