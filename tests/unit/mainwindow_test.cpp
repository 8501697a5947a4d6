// The control panel window driven through the headless backend: start-up, hover strip over the
// hotspots and their overlaps, clicks that start applets, the menus and the program's end.
#include "test_support.h"
#include <string>

using namespace testsupport;

namespace {

constexpr PointPx kBarePicture = at(3000, 60);

class MainWindowTest : public MainWindowTestBase {
protected:
    // Where icons of the store are drawn; no picture may lie right of the 433-pixel client area.
    std::vector<RectPx> iconsDrawn()
    {
        std::vector<RectPx> out;
        for (const auto& op : mainWin->paint()) {
            if (op.kind != tk::headless::DrawOp::Kind::Picture)
                continue;
            EXPECT_LE(op.rect.right, 433) << "a picture drawn right of the client area";
            for (const auto& icon : icons)
                if (op.picture == icon.get())
                    out.push_back(mainWin->scale.toLogical(op.rect));
        }
        return out;
    }
};

TEST(ProgramStart, FailsWhenTheMainWindowCannotBeMade)
{
    HeadlessBackend backend;
    tk::BackendInstaller install{backend};
    backend.refuseWindows = true;
    Application app;
    EXPECT_FALSE(app.Start());
    EXPECT_FALSE(app.MainWindow().Loaded());
    EXPECT_TRUE(backend.topLevelWindows().empty());
}

TEST_F(MainWindowTest, StartsShownWithTheSceneInPlaceAndAnEmptyStrip)
{
    EXPECT_TRUE(mainWin->visible);
    EXPECT_EQ(mainWin->spec.clientSize, (tk::SizePx{433, 368}));
    // The picture's inner area, where the hotspots live, is exactly the 425 by 331 scene.
    EXPECT_EQ(frm().Picture1.clientRect(), (RectPx{5, 6, 430, 337}));
    expectStrip(-1);
    EXPECT_TRUE(iconsDrawn().empty()); // the icon store is never drawn, nor in the picture
    for (const auto& op : mainWin->paint())
        EXPECT_EQ(op.text.find("..."), std::string::npos) << "designed caption shows: " << op.text;
    EXPECT_EQ(app.AboutWindowIfCreated(), nullptr);
    EXPECT_TRUE(backend.processStarts.empty());
}

TEST_F(MainWindowTest, EachHotspotShowsItsTitleAndIconInThePreviewAndOnlyAClickOnOneStartsAnApplet)
{
    for (std::size_t i = 0; i < kSpots.size(); ++i) {
        const Spot& s = kSpots[i];
        backend.processStarts.clear();
        move(centre(rectOf(s)));
        expectStrip(int(i), s.title);
        EXPECT_EQ(iconsDrawn(), (std::vector<RectPx>{{6, 346, 22, 362}})) << "only the preview";
        clickAt(*mainWin, centre(rectOf(s)));
        expectStrip(int(i), std::string("after click on ") + s.title); // a click leaves the strip alone
        ASSERT_EQ(backend.processStarts.size(), 1u) << s.title;
        EXPECT_EQ(backend.processStarts[0].commandLine, kAppletCommands[s.applet]) << s.title;
    }
    backend.processStarts.clear();
    clickAt(*mainWin, kBarePicture);
    clickAt(*mainWin, {200, 355}); // the strip
    EXPECT_TRUE(backend.processStarts.empty());
    backend.doubleClick(*mainWin, mainWin->scale.toDevice(centre(rectOf(kSpots[Clock])))); // starts it once
    ASSERT_EQ(backend.processStarts.size(), 1u);
    EXPECT_EQ(backend.processStarts[0].commandLine, kAppletCommands[2]);
}

TEST_F(MainWindowTest, WhereHotspotsOverlapTheUpperOneTakesTheMouse)
{
    // Upper, lower, and a point of their shared area in twips. Each case first shows the lower
    // hotspot alone, so the move into the shared area has to switch title and icon.
    const struct { int upper, lower, x, y; } cases[] = {
        {Keyboard, Computer, 3240, 4230},   {HardDisk, Computer, 4710, 3975}, {HardDisk, CDs, 4980, 3810},
        {Computer, Modem, 4560, 3720},      {Computer, CDs, 4980, 3720},      {Display, RightSpeaker, 4200, 2340},
        {Display, Modem, 4200, 3360},       {Display, Map, 2400, 1500},       {RightSpeaker, Modem, 4560, 3240},
        {RightSpeaker, CDs, 4935, 3255},    {Modem, CDs, 4920, 3480},         {LeftSpeaker, Map, 1440, 1695},
    };
    for (const auto& c : cases) {
        const std::string where = std::string(kSpots[std::size_t(c.upper)].title) + " over " + kSpots[std::size_t(c.lower)].title;
        move(centre(rectOf(kSpots[std::size_t(c.lower)])));
        expectStrip(c.lower, where);
        move(at(c.x, c.y));
        expectStrip(c.upper, where);
    }
}

TEST_F(MainWindowTest, BarePictureEmptiesTheStripButLeavingThroughTheEdgeLeavesItAsItWas)
{
    move(centre(rectOf(kSpots[Keyboard])));
    move(kBarePicture);
    expectStrip(-1);
    move(centre(rectOf(kSpots[Keyboard])));
    frm().imgPreview.SetPicture(nullptr);
    move(at(1440, 4200)); // another point of the keyboard: same title, icon set again
    expectStrip(Keyboard);

    move(at(6360, 4300)); // the mouse hotspot's last column, at the picture's right edge
    // Across the border, past it into the window, down into the strip and to the window's foot.
    for (PointPx p : {PointPx{430, 292}, PointPx{431, 292}, PointPx{432, 292}, PointPx{200, 355}, PointPx{432, 367}})
        move(p);
    expectStrip(Mouse);
    move(at(600, 4920)); // the keys hotspot's last row, at the picture's bottom edge
    move({50, 337});     // the bottom border
    expectStrip(Keys);
}

TEST_F(MainWindowTest, QuickHelpShowsTheSixLineNoteAndLeavesTheStripAlone)
{
    move(centre(rectOf(kSpots[Globe])));
    chooseMenu(*mainWin, "&Quick help");
    ASSERT_EQ(backend.messageBoxes.size(), 1u);
    EXPECT_EQ(backend.messageBoxes[0].text, "Place the mouse over parts of the picture\r\n"
                                            "When the mouse is over a hotspot,\r\n"
                                            "a title of the item will be displayed\r\n"
                                            " at the bottom of the window.\r\n"
                                            "If this is the item you want\r\n"
                                            "simple click it once.");
    EXPECT_EQ(backend.messageBoxes[0].title, "Quick help");
    EXPECT_EQ(backend.messageBoxes[0].style, 64);
    expectStrip(Globe);
}

TEST_F(MainWindowTest, ExitClosesEveryWindowAndEndsTheProgram)
{
    ASSERT_NE(chooseAbout(), nullptr);
    chooseMenu(*mainWin, "E&xit");
    EXPECT_TRUE(backend.quitRequested);
    EXPECT_TRUE(backend.topLevelWindows().empty());
    EXPECT_FALSE(app.AboutWindowIfCreated()->Loaded());
    backend.advance(10000); // the About window's timers died with it
}

TEST_F(MainWindowTest, ClosingTheMainWindowEndsTheProgramOnlyWithoutAnAboutWindow)
{
    HeadlessWindow* aboutWin = chooseAbout();
    ASSERT_NE(aboutWin, nullptr);
    mainWin->close();
    EXPECT_FALSE(backend.quitRequested);
    backend.advance(5000); // the About window's timers still run
    EXPECT_FALSE(app.AboutWindowIfCreated()->lblDisc.Visible());
    aboutWin->close();
    EXPECT_TRUE(backend.quitRequested);
}

} // namespace
