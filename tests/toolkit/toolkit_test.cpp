// The toolkit's essentials on the headless backend: z-order hit testing, picture boxes,
// auto-size, reloads, and the platform's click, double-click and capture rules.
#include "toolkit/form.h"
#include "toolkit/headless/headless_backend.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace tk;
using tk::headless::HeadlessBackend;

namespace {

// A pixel-scaled form with two overlapping images, a label and a picture box holding one image.
class TestForm : public Form {
public:
    Image top, below;
    Label caption;
    PictureBox box;
    Image inBox;
    std::vector<std::string> log;

protected:
    void Build() override
    {
        SetDesign({.caption = "Test", .clientWidth = 200 * 15, .clientHeight = 100 * 15, .scale = ScaleMode::Pixels});
        Add(box, "box", {.left = 150, .top = 10, .width = 40, .height = 40, .border = PictureBorder::Sunken,
                         .scale = ScaleMode::Pixels});
        box.Add(inBox, "inBox", {.left = 0, .top = 0, .width = 10, .height = 10});
        Add(top, "top", {.left = 10, .top = 10, .width = 20, .height = 20});
        Add(below, "below", {.left = 20, .top = 20, .width = 30, .height = 30});
        Add(caption, "caption", {.left = 60, .top = 60, .width = 10, .height = 10, .caption = "x", .autoSize = true});
        for (auto [img, name] : {std::pair{&top, "top"}, {&below, "below"}, {&inBox, "inBox"}}) {
            std::string n = name;
            img->MouseMove = [this, n](short, short, float, float) { log.push_back(n + ".move"); };
            img->MouseDown = [this, n](short b, short s, float, float) {
                log.push_back(n + ".down" + std::to_string(b) + "/" + std::to_string(s));
            };
            img->MouseUp = [this, n](short b, short, float, float) { log.push_back(n + ".up" + std::to_string(b)); };
            img->Click = [this, n] { log.push_back(n + ".click"); };
            img->DblClick = [this, n] { log.push_back(n + ".dblclick"); };
        }
        MouseMove = [this](short, short, float, float) { log.push_back("form.move"); };
        box.MouseMove = [this](short, short, float, float) { log.push_back("box.move"); };
    }
};

class ToolkitTest : public ::testing::Test {
protected:
    HeadlessBackend backend;
    BackendInstaller install{backend};
    TestForm form;
    headless::HeadlessWindow* window = nullptr;

    void SetUp() override
    {
        form.Show();
        window = backend.findWindow("Test");
        ASSERT_NE(window, nullptr);
    }
    std::vector<std::string> take() { return std::exchange(form.log, {}); }
};

using Log = std::vector<std::string>;

TEST_F(ToolkitTest, HitTestingFollowsZOrderSkipsHiddenControlsAndExcludesRightAndBottom)
{
    backend.mouseMove(*window, {20, 20}); // in both: the upper one gets it
    backend.mouseMove(*window, {29, 29}); // last pixel of the upper one
    backend.mouseMove(*window, {30, 30}); // first pixel past it: the lower one
    backend.mouseMove(*window, {49, 49}); // last pixel of the lower one
    backend.mouseMove(*window, {50, 50}); // outside both
    backend.mouseMove(*window, {10, 9});  // just above the upper one
    EXPECT_EQ(take(), (Log{"top.move", "top.move", "below.move", "below.move", "form.move", "form.move"}));
    form.top.SetVisible(false); // hidden controls are not hit
    backend.mouseMove(*window, {15, 15});
    backend.mouseMove(*window, {25, 25});
    EXPECT_EQ(take(), (Log{"form.move", "below.move"}));
}

TEST_F(ToolkitTest, PictureBoxTakesTheMouseOverItsClientAreaAndIgnoresItsBorder)
{
    // The box's outer edge is at (150, 10), its 2-pixel border around the client area.
    backend.mouseMove(*window, {152, 12}); // first client pixel: the image inside
    backend.mouseMove(*window, {165, 30}); // client, no control: the box itself
    backend.mouseMove(*window, {151, 30}); // on the border: nobody
    EXPECT_EQ(take(), (Log{"inBox.move", "box.move"}));
}

class SquarePicture final : public Picture {
public:
    SizePx size() const override { return {10, 10}; }
};

TEST_F(ToolkitTest, PictureBoxDrawsAboveTheFormsControlsInItsOwnClientPixels)
{
    SquarePicture square;
    form.inBox.SetPicture(std::shared_ptr<const Picture>(&square, [](const Picture*) {}));
    // In order: the label, then the box's edge and the picture at the box's (0, 0) inside its border.
    std::vector<std::pair<headless::DrawOp::Kind, DeviceRect>> drawn;
    for (const auto& op : window->paint())
        if (op.kind != headless::DrawOp::Kind::Fill)
            drawn.emplace_back(op.kind, op.rect);
    using K = headless::DrawOp::Kind;
    EXPECT_EQ(drawn, (std::vector<std::pair<K, DeviceRect>>{
                         {K::Text, {60, 60, 65, 73}}, {K::SunkenEdge, {150, 10, 190, 50}}, {K::Picture, {152, 12, 162, 22}}}));
    form.inBox.SetPicture(nullptr);
}

TEST_F(ToolkitTest, AutoSizeKeepsLeftAndTopAndFitsTheText)
{
    Label& l = form.caption;
    backend.textSize = [](std::string_view text, SizePx, int) { return SizePx{3 * int(text.size()), 11}; };
    l.SetCaption("a longer caption");
    EXPECT_EQ(form.Describe().substr(form.Describe().find("caption ")), "caption 60,60 48x11 \"a longer caption\"\n");
    l.SetCaption("");
    EXPECT_EQ(l.Width(), 0);
    EXPECT_EQ(l.Left(), 60);
}

TEST_F(ToolkitTest, AClickIsAPressAndReleaseOnTheSameControlAndASecondQuickOneADoubleClick)
{
    backend.click(*window, {15, 15});
    EXPECT_EQ(take(), (Log{"top.down1/0", "top.up1", "top.click"}));

    backend.mouseDown(*window, {15, 15});
    backend.mouseUp(*window, {40, 40}); // released over another control: no click
    EXPECT_EQ(take(), (Log{"top.down1/0", "top.up1"}));

    backend.mouseDown(*window, {15, 15}, Button::Right, ShiftKey::Ctrl);
    backend.mouseUp(*window, {15, 15}, Button::Right);
    EXPECT_EQ(take(), (Log{"top.down2/2", "top.up2"})); // no click for the right button

    // The second press is a double click only: no press, and its release clicks nothing.
    backend.doubleClick(*window, {15, 15});
    EXPECT_EQ(take(), (Log{"top.down1/0", "top.up1", "top.click", "top.dblclick", "top.up1"}));
}

TEST_F(ToolkitTest, APressCapturesThePointerForThePressedControlUntilReleaseOrCaptureLoss)
{
    backend.mouseDown(*window, {15, 15});
    backend.mouseMove(*window, {40, 40}, Button::Left); // over "below", but "top" holds the capture
    backend.mouseMove(*window, {190, 90}, Button::Left);
    backend.mouseUp(*window, {190, 90});
    backend.mouseMove(*window, {40, 40});
    EXPECT_EQ(take(), (Log{"top.down1/0", "top.move", "top.move", "top.up1", "below.move"}));

    backend.mouseDown(*window, {15, 15}); // losing the capture releases the pressed control
    window->events->mouse({MouseEvent::Kind::CaptureLost, 0, 0, {}});
    EXPECT_EQ(take(), (Log{"top.down1/0", "top.up1"}));
}

TEST_F(ToolkitTest, ALoadAfterACloseGivesWhatTheFirstGaveAndAddsNothing)
{
    const std::string firstLoad = form.Describe();
    EXPECT_EQ(firstLoad, "box 150,10 40x40\n  inBox 0,0 10x10\ntop 10,10 20x20\nbelow 20,20 30x30\n"
                         "caption 60,60 5x13 \"x\"\n");
    for (int i = 0; i < 3; ++i) {
        form.top.Move(90, 90);
        form.top.SetVisible(false);
        form.caption.SetCaption("changed");
        window->close();
        form.Show();
        window = backend.findWindow("Test");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(form.Describe(), firstLoad);
    }
    EXPECT_EQ(form.box.Controls().size(), 1u);
    const auto ops = window->paint();
    EXPECT_EQ(std::count_if(ops.begin(), ops.end(), [](const headless::DrawOp& op) { return op.text == "x"; }), 1);
}

TEST_F(ToolkitTest, AWindowTheSystemCannotMakeLeavesTheFormUnloadedAndNothingOpen)
{
    window->close();
    backend.quitRequested = false;
    backend.refuseWindows = true;
    EXPECT_FALSE(form.Show());
    EXPECT_FALSE(form.Loaded());
    EXPECT_TRUE(backend.topLevelWindows().empty()) << "the refused window's object is gone too";
    // Nothing was counted as open: the next load is the only open form, and its close ends.
    backend.refuseWindows = false;
    ASSERT_TRUE(form.Show());
    backend.findWindow("Test")->close();
    EXPECT_TRUE(backend.quitRequested);
}

} // namespace
