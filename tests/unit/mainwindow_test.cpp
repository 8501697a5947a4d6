// The control panel window driven through the headless backend: start-up, hover strip over the
// hotspots and their overlaps, clicks that start applets, the menus and the program's end.
#include "test_support.h"
#include <array>
#include <memory>
#include <string>

using namespace testsupport;
using tk::PointPx;

namespace {

// Picture1's inner area starts at client pixel (5, 6): outer edge at (3, 4) plus its 2-pixel border.
PointPx at(int twipsX, int twipsY) { return {5 + twipsX / 15, 6 + twipsY / 15}; }
PointPx centreOf(const Spot& s) { return at(s.left + s.width / 2, s.top + s.height / 2); }

constexpr int kClientWidth = 433, kClientHeight = 368;

class MainWindowTest : public MainWindowTestBase {
protected:
    void move(PointPx p) { backend.mouseMove(*mainWin, mainWin->scale.toDevice(p)); }

    void expectStrip(const char* title, int icon, const std::string& where = "")
    {
        EXPECT_EQ(frm().lblInfo.Caption(), title) << where;
        EXPECT_EQ(frm().imgPreview.Picture(), icon < 0 ? nullptr : icons[std::size_t(icon)]) << where;
    }
    void expectStrip(const Spot& s, const std::string& where = "") { expectStrip(s.title, s.icon, where); }
    void expectEmptyStrip(const std::string& where = "") { expectStrip("", -1, where); }

    // Where icons of the store are drawn in a window; no picture may lie right of the client area.
    std::vector<tk::RectPx> iconsDrawn(HeadlessWindow& w)
    {
        std::vector<tk::RectPx> out;
        for (const auto& op : w.paint()) {
            if (op.kind != tk::headless::DrawOp::Kind::Picture)
                continue;
            EXPECT_LE(op.rect.right, kClientWidth) << "picture drawn right of the client area";
            for (const auto& icon : icons)
                if (op.picture == icon.get())
                    out.push_back(w.scale.toLogical(op.rect));
        }
        return out;
    }
};

TEST(ProgramStart, FailsWhenTheMainWindowCannotBeMade)
{
    HeadlessBackend backend{artResource};
    tk::BackendInstaller install{backend};
    backend.refuseWindows = true;
    Application app;
    EXPECT_FALSE(app.Start()) << "the program must end with a failure";
    EXPECT_FALSE(app.MainWindow().Loaded());
    EXPECT_TRUE(backend.topLevelWindows().empty());
}

TEST_F(MainWindowTest, StartsShownWithTheSceneInPlaceAndAnEmptyStrip)
{
    EXPECT_TRUE(mainWin->visible);
    EXPECT_EQ(mainWin->spec.clientSize, (tk::SizePx{kClientWidth, kClientHeight}));
    // The picture's inner area, where the hotspots live, is exactly the 425 by 331 scene.
    EXPECT_EQ(frm().Picture1.clientRect(), (tk::RectPx{5, 6, 430, 337}));
    expectEmptyStrip();
    EXPECT_TRUE(iconsDrawn(*mainWin).empty()); // the icon store is never drawn, nor in the picture
    for (const auto& op : mainWin->paint())
        EXPECT_EQ(op.text.find("..."), std::string::npos) << "designed caption shows: " << op.text;
    EXPECT_EQ(app.AboutWindowIfCreated(), nullptr);
    EXPECT_TRUE(backend.processStarts.empty());
}

TEST_F(MainWindowTest, EachHotspotShowsItsTitleAndIconInThePreviewAndOnlyAClickOnOneStartsAnApplet)
{
    for (const Spot& s : kSpots) {
        backend.processStarts.clear();
        move(centreOf(s));
        expectStrip(s, s.title);
        const auto drawn = iconsDrawn(*mainWin);
        ASSERT_EQ(drawn.size(), 1u) << s.title;
        EXPECT_EQ(drawn[0].left, 6) << s.title; // only the preview, 90 by 5190 twips
        EXPECT_EQ(drawn[0].top, 346) << s.title;
        backend.click(*mainWin, mainWin->scale.toDevice(centreOf(s)));
        expectStrip(s, std::string("after click on ") + s.title); // a click leaves the strip alone
        ASSERT_EQ(backend.processStarts.size(), 1u) << s.title;
        EXPECT_EQ(backend.processStarts[0].commandLine, kAppletCommands[s.applet]) << s.title;
    }
    backend.processStarts.clear();
    backend.click(*mainWin, mainWin->scale.toDevice(at(3000, 60))); // bare picture
    backend.click(*mainWin, {200, 355});   // the strip
    EXPECT_TRUE(backend.processStarts.empty());
    backend.doubleClick(*mainWin, mainWin->scale.toDevice(centreOf(kSpots[Clock]))); // starts it once
    ASSERT_EQ(backend.processStarts.size(), 1u);
    EXPECT_EQ(backend.processStarts[0].commandLine, kAppletCommands[2]);
}

TEST_F(MainWindowTest, WhereHotspotsOverlapTheUpperOneTakesTheMouse)
{
    // Upper, lower, and a point of their shared area in twips. Each case first shows the lower
    // hotspot alone, so the move into the shared area has to switch title and icon.
    struct Overlap { int upper, lower, x, y; };
    const Overlap cases[] = {
        {Keyboard, Computer, 3240, 4230},   {HardDisk, Computer, 4710, 3975}, {HardDisk, CDs, 4980, 3810},
        {Computer, Modem, 4560, 3720},      {Computer, CDs, 4980, 3720},      {Display, RightSpeaker, 4200, 2340},
        {Display, Modem, 4200, 3360},       {Display, Map, 2400, 1500},       {RightSpeaker, Modem, 4560, 3240},
        {RightSpeaker, CDs, 4935, 3255},    {Modem, CDs, 4920, 3480},         {LeftSpeaker, Map, 1440, 1695},
    };
    for (const Overlap& c : cases) {
        const Spot &upper = kSpots[std::size_t(c.upper)], &lower = kSpots[std::size_t(c.lower)];
        const std::string where = std::string(upper.title) + " over " + lower.title;
        move(centreOf(lower));
        expectStrip(lower, where);
        move(at(c.x, c.y));
        expectStrip(upper, where);
    }
}

TEST_F(MainWindowTest, BarePictureEmptiesTheStripButLeavingThroughTheEdgeLeavesItAsItWas)
{
    move(centreOf(kSpots[Keyboard]));
    move(at(3000, 60));
    expectEmptyStrip();
    move(centreOf(kSpots[Keyboard]));
    expectStrip(kSpots[Keyboard]);
    frm().imgPreview.SetPicture(nullptr);
    move(at(1440, 4200)); // another point of the keyboard: same title, icon set again
    expectStrip(kSpots[Keyboard]);

    move(at(6360, 4300)); // the mouse hotspot's last column, at the picture's right edge
    expectStrip(kSpots[Mouse]);
    // Across the border, past it into the window, down into the strip and to the window's foot.
    for (PointPx p : {PointPx{430, 292}, PointPx{431, 292}, PointPx{432, 292}, PointPx{200, 355},
                      PointPx{10, 350}, PointPx{kClientWidth - 1, kClientHeight - 1}})
        move(p);
    expectStrip(kSpots[Mouse]);

    move(at(600, 4920)); // the keys hotspot's last row, at the picture's bottom edge
    move({50, 337});     // the bottom border
    expectStrip(kSpots[Keys]);
}

TEST_F(MainWindowTest, QuickHelpShowsTheSixLineNoteAndLeavesTheStripAlone)
{
    move(centreOf(kSpots[Globe]));
    chooseMenu(*mainWin, "&Quick help");
    ASSERT_EQ(backend.messageBoxes.size(), 1u);
    const auto& box = backend.messageBoxes[0];
    EXPECT_EQ(box.text.substr(0, 43), "Place the mouse over parts of the picture\r\n"); // all six lines: e2e
    EXPECT_EQ(box.title, "Quick help");
    EXPECT_EQ(box.style, 64);
    expectStrip(kSpots[Globe]);
}

TEST_F(MainWindowTest, ExitClosesEveryWindowAndEndsTheProgram)
{
    ASSERT_NE(chooseAbout(), nullptr);
    chooseMenu(*mainWin, "E&xit");
    EXPECT_TRUE(backend.quitRequested);
    EXPECT_TRUE(backend.topLevelWindows().empty());
    EXPECT_FALSE(frm().Loaded());
    EXPECT_FALSE(app.AboutWindowIfCreated()->Loaded());
    backend.advance(10000); // the About window's timers died with it
}

// Closing the main window ends the program only once no About window is open.
TEST_F(MainWindowTest, ClosingTheMainWindowEndsTheProgramOnlyWithoutAnAboutWindow)
{
    HeadlessWindow* aboutWin = chooseAbout();
    ASSERT_NE(aboutWin, nullptr);
    mainWin->close();
    EXPECT_FALSE(backend.quitRequested);
    ASSERT_EQ(backend.topLevelWindows().size(), 1u);
    backend.advance(5000); // its timers still run
    EXPECT_FALSE(app.AboutWindowIfCreated()->lblDisc.Visible());
    aboutWin->close();
    EXPECT_TRUE(backend.quitRequested);
}

} // namespace
