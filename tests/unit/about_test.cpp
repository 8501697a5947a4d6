// The About window: what each load fills in and the three animations on the virtual clock (the
// links are in the keyboard tests, with the reader's view of them).
#include "../../about/version_text.h"
#include "../../app/appinfo_record.h"
#include "test_support.h"
#include <string>
#include <vector>

using namespace testsupport;
namespace Button = tk::Button;
namespace ShiftKey = tk::ShiftKey;

namespace {

class AboutTest : public AboutTestBase {
protected:
    // The logo's centre in the window's interior pixels.
    PointPx logo() const { return centre(about->imgLogo.pixelRect()); }
    void press(short button, short shift = 0) { backend.mouseDown(*aboutWin, aboutWin->scale.toDevice(logo()), button, shift); }
    void release(short button) { backend.mouseUp(*aboutWin, aboutWin->scale.toDevice(logo()), button); }
    void clickLogo(short button) { press(button); release(button); }
    PointPx cursorFromWindowCorner() const
    {
        return {backend.cursor.x - aboutWin->outer.left, backend.cursor.y - aboutWin->outer.top};
    }
    void expectLogoHome() const
    {
        EXPECT_EQ(about->imgLogo.pixelRect(), (RectPx{8, 8, 86, 86}));
    }
};

TEST_F(AboutTest, LoadFillsTheLabelsAndShortCommentsStandStill)
{
    EXPECT_EQ(about->lblTit.Caption(), "Lumeno Control Panel");
    EXPECT_EQ(about->lblVersion.Caption(), "1.00.0000");
    // The comments, copyright and contact values are fixed at build time.
    EXPECT_EQ(about->lblComments.Caption(), App.Comments);
    EXPECT_EQ(about->lblCopyright.Caption(), App.LegalCopyright);
    EXPECT_EQ(about->lblEmail.Caption(), ContactEmail);
    EXPECT_EQ(about->lblWeb.Caption(), WebSite);
    EXPECT_EQ(about->lblVersion.ForeColor(), tk::Rgb(0, 0, 255));
    EXPECT_EQ(about->lblCopyright.ForeColor(), tk::Rgb(80, 80, 255));
    EXPECT_EQ(about->BackColor(), tk::Rgb(255, 255, 0));
    EXPECT_EQ(about->picCont.BackColor(), tk::Rgb(255, 255, 0));
    // The title is far wider than the comments, so it spans the window's outer width.
    EXPECT_EQ(about->lblTit.Left(), 0);
    EXPECT_EQ(about->lblTit.Width(), float(aboutWin->outer.width()));
    EXPECT_TRUE(about->lblDisc.Visible());
    expectLogoHome();
    EXPECT_EQ(about->Timer1.Interval(), 200);
    backend.advance(10000);
    EXPECT_TRUE(about->lblComments.AutoSize());
    EXPECT_LE(about->lblComments.Height(), about->picCont.Height());
    EXPECT_EQ(about->lblComments.Top(), 0);
}

TEST(VersionText, PadsMinorAndRevisionOnTheLeftAndNeverCuts)
{
    EXPECT_EQ(VersionText(1, 0, 0), "1.00.0000");
    EXPECT_EQ(VersionText(2, 15, 3), "2.15.0003");
    EXPECT_EQ(VersionText(1, 100, 0), "1.100.0000");
    EXPECT_EQ(VersionText(10, 5, 12345), "10.05.12345");
}

TEST_F(AboutTest, TheDisclaimerTickHidesItOnceAtFiveSecondsWhateverThePressesDid)
{
    backend.advance(4999);
    EXPECT_TRUE(about->lblDisc.Visible());
    backend.advance(1);
    EXPECT_FALSE(about->lblDisc.Visible());
    clickLogo(Button::Left);
    backend.advance(60000);
    EXPECT_TRUE(about->lblDisc.Visible()) << "one tick only";

    reopen(); // a press before the tick hides it, a second shows it, and the tick hides it
    backend.advance(1000);
    clickLogo(Button::Left);
    EXPECT_FALSE(about->lblDisc.Visible());
    backend.advance(3900);
    clickLogo(Button::Right);
    EXPECT_TRUE(about->lblDisc.Visible());
    backend.advance(100);
    EXPECT_FALSE(about->lblDisc.Visible());
}

TEST_F(AboutTest, EveryPressOnTheLogoTogglesTheDisclaimerButOnlyCtrlLeftStartsTheChase)
{
    const struct { short button, shift; } presses[] = {
        {Button::Left, 0}, {Button::Right, 0}, {Button::Middle, 0},
        {Button::Left, ShiftKey::Shift}, {Button::Left, ShiftKey::Alt},
        {Button::Left, ShiftKey::Ctrl | ShiftKey::Shift}, {Button::Left, ShiftKey::Ctrl | ShiftKey::Alt},
        {Button::Right, ShiftKey::Ctrl}, {Button::Middle, ShiftKey::Ctrl}, {Button::Left, ShiftKey::Ctrl},
    };
    for (const auto& p : presses) {
        const std::string where = "button " + std::to_string(p.button) + " shift " + std::to_string(p.shift);
        const bool shown = about->lblDisc.Visible();
        press(p.button, p.shift);
        EXPECT_EQ(about->lblDisc.Visible(), !shown) << where;
        EXPECT_EQ(about->bFollowCursor, p.button == Button::Left && p.shift == ShiftKey::Ctrl) << where;
        release(p.button);
        EXPECT_EQ(about->lblDisc.Visible(), !shown) << where; // the release does not toggle
        EXPECT_FALSE(about->bFollowCursor) << where;
    }
}

TEST_F(AboutTest, TheLogoFollowsTheCursorWhileHeldWithCtrlAndGoesHomeAfterRelease)
{
    backend.cursor = {500, 400};
    backend.advance(200); // first logo tick: not chasing, stays home, then every 50 ms
    expectLogoHome();
    press(Button::Left, ShiftKey::Ctrl);
    backend.advance(49);
    expectLogoHome();
    backend.advance(1);
    EXPECT_EQ(logo(), cursorFromWindowCorner());
    EXPECT_EQ(about->imgLogo.Width(), 78);

    backend.cursor = {650, 470};
    aboutWin->accessibleEvents.clear();
    backend.advance(50);
    EXPECT_EQ(logo(), cursorFromWindowCorner());
    // A reader hears the logo move.
    ASSERT_FALSE(aboutWin->accessibleEvents.empty());
    EXPECT_EQ(aboutWin->accessibleEvents[0], std::pair(tk::AccessibleEvent::LocationChange, 1));
    EXPECT_EQ(aboutWin->events->accessibleItem(1).rect, about->imgLogo.pixelRect());
    // Moving the window keeps the relation to its outer corner.
    aboutWin->outer = {aboutWin->outer.left + 40, aboutWin->outer.top + 10, aboutWin->outer.right + 40,
                       aboutWin->outer.bottom + 10};
    backend.advance(50);
    EXPECT_EQ(logo(), cursorFromWindowCorner());
    const PointPx lastChase = logo();

    backend.advance(20);
    release(Button::Left); // the rest is 200 ms again
    backend.cursor = {100, 100};
    backend.advance(199);
    EXPECT_EQ(logo(), lastChase);
    backend.advance(1);
    expectLogoHome();
}

// A 96-DPI primary monitor and a 192-DPI one to its right, where text measures a pixel wider a
// character than twice its 96-DPI width.
TEST_F(AboutTest, OnEachOfTwoMonitorsTheChaseIsExactAndLabelsMeasureAtThatMonitorsDpi)
{
    backend.textSize = [](std::string_view text, tk::SizePx s, int dpi) {
        return dpi == 192 ? tk::SizePx{s.cx + int(text.size()), s.cy} : s;
    };
    const float versionAt96 = about->lblVersion.Width(), outerAt96 = float(aboutWin->outer.width());
    for (const int dpi : {96, 192, 96}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        aboutWin->moveToMonitor(dpi, dpi == 96 ? tk::DevicePoint{200, 150} : tk::DevicePoint{2200, 300});
        const tk::DisplayScale scale(dpi);
        EXPECT_EQ(about->lblVersion.Width(), versionAt96 + (dpi == 192 ? 9 : 0)) << "\"1.00.0000\" measured here";
        EXPECT_EQ(about->lblTit.Width(), outerAt96) << "the title still spans the window";
        backend.cursor = {aboutWin->outer.left + scale.toDevice(150), aboutWin->outer.top + scale.toDevice(120)};
        backend.mouseDown(*aboutWin, scale.toDevice(logo()), Button::Left, ShiftKey::Ctrl); // device pixels
        backend.advance(250);
        EXPECT_EQ(logo(), (PointPx{150, 120})) << "the logo's middle is on the pointer";
        backend.mouseUp(*aboutWin, scale.toDevice(logo()), Button::Left);
        backend.advance(250); // home again
    }
    // A window made on the 192-DPI monitor measures there from the start.
    aboutWin->close();
    backend.dpi = 192;
    ASSERT_NE(chooseAbout(), nullptr);
    EXPECT_EQ(about->lblVersion.Width(), versionAt96 + 9);
}

TEST_F(AboutTest, LongCommentsScrollHalfAPixelPerTickAndReenterFromBelow)
{
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "word ";
    about->lblComments.SetCaption(text);
    const float below = about->picCont.Height() + 2;

    backend.advance(50);
    const float h = about->lblComments.Height();
    ASSERT_GT(h, about->picCont.Height());
    EXPECT_EQ(about->lblComments.Top(), -0.5f);
    backend.advance(100);
    EXPECT_EQ(about->lblComments.Top(), -1.5f); // fractions accumulate
    EXPECT_EQ(about->lblComments.Width(), 198);

    // From 0, Top reaches exactly -h on tick 2h: the text has just left and wraps on that tick.
    // The next pass starts below the box and wraps again on reaching exactly -h.
    for (int ticks : {int(2 * h) - 1 - 3, int(2 * (below + h)) - 1}) {
        backend.advance(50LL * ticks);
        EXPECT_EQ(about->lblComments.Top(), -h + 0.5f);
        backend.advance(50);
        EXPECT_EQ(about->lblComments.Top(), below);
    }
}

} // namespace
