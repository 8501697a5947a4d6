// The keyboard's focus and the accessible items of a form whose tab stops lie both on the form
// and in a picture box: one order across both, hidden and non-stop controls skipped, the cue in
// window pixels, and the platform's UI state and window focus deciding whether it shows.
#include "toolkit/form.h"
#include "toolkit/headless/headless_backend.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace tk;
using tk::headless::DrawOp;
using tk::headless::HeadlessBackend;

namespace {

// Pixel scale. The box's inside starts at (102, 12): outer (100, 10) plus its 2-pixel border.
class FocusForm : public Form {
public:
    Image left, right, inBox, decoration, hiddenStop;
    Label text;
    PictureBox box;
    std::vector<std::string> log;

protected:
    void Build() override
    {
        SetDesign({.caption = "Focus", .clientWidth = 300 * 15, .clientHeight = 200 * 15, .scale = ScaleMode::Pixels});
        auto stop = [](const char* n) { return Access{.role = Role::PushButton, .name = n, .defaultAction = "Press", .tabStop = true}; };
        Add(box, "box", {.left = 100, .top = 10, .width = 90, .height = 90, .border = PictureBorder::Sunken,
                         .scale = ScaleMode::Pixels});
        box.Add(inBox, "inBox", {.left = 10, .top = 0, .width = 20, .height = 20, .access = stop("in box")});
        Add(right, "right", {.left = 50, .top = 12, .width = 20, .height = 20, .access = stop("right")});
        Add(left, "left", {.left = 10, .top = 12, .width = 20, .height = 20, .access = stop("left")});
        Add(decoration, "decoration", {.left = 10, .top = 150, .width = 20, .height = 20});
        Add(hiddenStop, "hiddenStop",
            {.left = 10, .top = 5, .width = 20, .height = 20, .visible = false, .access = stop("hidden")});
        Add(text, "text", {.left = 10, .top = 120, .width = 50, .height = 15, .caption = "Caption text",
                           .access = {.role = Role::StaticText}});
        for (auto [c, n] : {std::pair<Control*, const char*>{&left, "left"}, {&right, "right"}, {&inBox, "in box"}}) {
            std::string name = n;
            c->Click = [this, name] { log.push_back(name + ".click"); };
            c->GotFocus = [this, name] { log.push_back(name + ".focus"); };
        }
    }
};

class FocusTest : public ::testing::Test {
protected:
    HeadlessBackend backend;
    BackendInstaller install{backend};
    FocusForm form;
    headless::HeadlessWindow* window = nullptr;

    void SetUp() override
    {
        form.Show();
        window = backend.findWindow("Focus");
        ASSERT_NE(window, nullptr);
    }
    std::string focused() const { return form.FocusedControl() ? form.FocusedControl()->Name() : "none"; }
    std::vector<RectPx> cues()
    {
        std::vector<RectPx> out;
        for (const DrawOp& op : window->paint())
            if (op.kind == DrawOp::Kind::FocusRect)
                out.push_back(window->scale.toLogical(op.rect));
        return out;
    }
};

TEST_F(FocusTest, OneReadingOrderAcrossTheFormAndItsBoxSkippingHiddenAndNonStopControls)
{
    // Tops: left and right at 12, the box's image at 12 too (its box's inside starts there).
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        backend.press(Key::Tab);
        order.push_back(focused());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"left", "right", "inBox", "left"}));
    EXPECT_EQ(form.log, (std::vector<std::string>{"left.focus", "right.focus", "in box.focus", "left.focus"}));
    form.right.SetVisible(false); // a hidden stop is passed over
    backend.press(Key::Tab);
    EXPECT_EQ(focused(), "inBox");
    backend.press(Key::Left); // to the nearest visible one that way
    EXPECT_EQ(focused(), "left");
}

TEST_F(FocusTest, TheCueWaitsForTheKeyboardFollowsTheFocusInWindowPixelsAndHidesWithoutTheWindowsFocus)
{
    // A platform that shows cues from the start (the user's setting) still shows none before a
    // key: nothing has the focus yet.
    backend.setFocusCueHidden(*window, false);
    EXPECT_TRUE(cues().empty());
    backend.press(Key::End);
    EXPECT_EQ(cues(), (std::vector<RectPx>{{112, 12, 132, 32}}));
    const int before = window->invalidations;
    backend.press(Key::Home);
    EXPECT_GT(window->invalidations, before) << "the old and new places are repainted";
    EXPECT_EQ(cues(), (std::vector<RectPx>{{10, 12, 30, 32}}));
    backend.setFocusCueHidden(*window, true);
    window->events->key({true, Key::Tab, 0, false}); // a key the UI state was not told of
    EXPECT_TRUE(cues().empty()) << "the focus moves, the cue stays hidden";
    EXPECT_EQ(focused(), "right");
    backend.setFocusCueHidden(*window, false);
    backend.focus(nullptr);
    EXPECT_TRUE(cues().empty());
}

TEST_F(FocusTest, AccessibleItemsAreTheControlsWithARoleAtIndexesFixedForTheWindowsLife)
{
    auto names = [this] {
        std::vector<std::string> out;
        for (int i = 0; i < window->events->accessibleCount(); ++i)
            out.push_back(window->events->accessibleItem(i).name + (window->events->accessibleItem(i).visible ? "" : " (hidden)"));
        return out;
    };
    // In reading order at load, hidden ones too; a label without a name of its own is read by
    // its caption; the decoration is not read.
    EXPECT_EQ(names(), (std::vector<std::string>{"hidden (hidden)", "left", "right", "in box", "Caption text"}));
    EXPECT_EQ(window->events->accessibleItem(3).rect, (RectPx{112, 12, 132, 32}));
    EXPECT_EQ(window->events->accessibleItem(9).name, "") << "out of range: nothing";
    EXPECT_EQ(window->events->accessibleAt({115, 15}), 3);
    EXPECT_EQ(window->events->accessibleAt({101, 15}), -1) << "the box's border";
    EXPECT_EQ(window->events->accessibleAt({20, 160}), -1) << "the decoration";
    for (int i : {3, 4, 0, -1}) // a label without a click, a hidden item and no item do nothing
        window->events->accessibleAction(i);
    EXPECT_EQ(form.log, std::vector<std::string>{"in box.click"});

    // Enter clicks the focused control; keys released, held or with Ctrl or Alt do nothing.
    backend.press(Key::Tab);
    form.log.clear();
    backend.keyUp(Key::Enter);
    backend.keyDown(Key::Enter, 0, true);
    backend.keyDown(Key::Enter, ShiftKey::Alt);
    backend.keyDown(Key::Space, ShiftKey::Ctrl);
    backend.keyDown(Key::Space);
    EXPECT_EQ(form.log, std::vector<std::string>{"left.click"});

    // Hiding, renaming and moving keep every index, and the reader hears of each change.
    form.left.SetVisible(false);
    form.text.SetCaption("Other text");
    form.right.Move(60, 300);
    form.hiddenStop.SetVisible(true);
    EXPECT_EQ(names(), (std::vector<std::string>{"hidden", "left (hidden)", "right", "in box", "Other text"}));
    using E = AccessibleEvent;
    EXPECT_EQ(window->accessibleEvents, (std::vector<std::pair<E, int>>{
                                            {E::Hide, 1}, {E::NameChange, 4}, {E::LocationChange, 2}, {E::Show, 0}}));
    // Taking the focus: a tab stop on show can, a hidden one or a text cannot.
    EXPECT_TRUE(window->events->accessibleTakeFocus(2));
    EXPECT_EQ(window->events->accessibleFocus(), 2);
    EXPECT_FALSE(window->events->accessibleTakeFocus(1));
    EXPECT_FALSE(window->events->accessibleTakeFocus(4));
}

} // namespace
