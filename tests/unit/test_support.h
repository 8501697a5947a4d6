// Shared pieces of the window tests: the program started on the headless backend, menu
// commands sent the way a menu click arrives, the hotspot catalogue and the applet command lines
// byte for byte.
#pragma once
#include "../../about/frmAbout.h"
#include "../../app/frame.h"
#include "toolkit/headless/headless_backend.h"
#include "../../mainwindow/frmCPanel.h"
#include <gtest/gtest.h>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

using tk::headless::HeadlessBackend;
using tk::headless::HeadlessWindow;
using tk::PointPx;
using tk::RectPx;

inline constexpr std::string_view kAppletCommands[15] = {
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1",
    "rundll32.exe shell32.dll,Control_RunDLL timedate.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL joy.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL modem.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @0",
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL netcpl.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL password.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL intl.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl,,0",
};

struct Spot {
    const char* name; // the image's name, as debug output shows it
    const char* title;
    int icon, applet;
    int left, top, width, height; // twips in the picture's inner area
};

// The hotspot catalogue as the user meets it, topmost first.
inline constexpr std::array<Spot, 13> kSpots{{
    {"imgMouse", "Mouse", 2, 8, 5760, 4200, 615, 375},
    {"imgClock", "Date/Time", 9, 2, 5520, 600, 735, 2055},
    {"imgKeys", "Passwords", 6, 11, 240, 4440, 855, 495},
    {"imgGlobe", "Internet options", 12, 4, 180, 2760, 675, 1230},
    {"imgKeyboard", "Keyboard", 5, 6, 1440, 4200, 3885, 480},
    {"imgHardDisk", "Add/New Hardware", 4, 0, 4395, 3765, 675, 435},
    {"imgComputer", "System Properites", 10, 14, 990, 3720, 4065, 555},
    {"imgDisplay", "Display", 11, 3, 1920, 1200, 2295, 2295},
    {"imgRightSpeaker", "Multimedia", 3, 9, 4200, 1440, 780, 1830},
    {"imgModem", "Modems", 1, 7, 4200, 3240, 735, 495},
    {"imgCDs", "Add/New Programs", 8, 1, 4920, 3240, 735, 615},
    {"imgLeftSpeaker", "Sounds", 7, 13, 1080, 1560, 735, 1695},
    {"imgMap", "Regional Settings", 0, 12, 360, 240, 2535, 1575},
}};

// Rows of kSpots by the object they are.
enum SpotIndex { Mouse, Clock, Keys, Globe, Keyboard, HardDisk, Computer, Display, RightSpeaker, Modem, CDs, LeftSpeaker, Map };

// A point given in twips of the picture, in the main window's client pixels: Picture1's inner
// area starts at (5, 6), its outer edge at (3, 4) plus a 2-pixel border.
inline constexpr PointPx at(int twipsX, int twipsY) { return {5 + twipsX / 15, 6 + twipsY / 15}; }
inline RectPx rectOf(const Spot& s)
{
    const PointPx a = at(s.left, s.top), b = at(s.left + s.width, s.top + s.height);
    return {a.x, a.y, b.x, b.y};
}
inline PointPx centre(RectPx r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

inline const tk::MenuSpec* findMenuItem(const std::vector<tk::MenuSpec>& items, std::string_view caption)
{
    for (const tk::MenuSpec& m : items) {
        if (m.caption == caption && m.items.empty())
            return &m;
        if (const tk::MenuSpec* found = findMenuItem(m.items, caption))
            return found;
    }
    return nullptr;
}

// Sends the command of the menu item with this caption, as the platform does on a menu click.
inline void chooseMenu(HeadlessWindow& w, std::string_view caption)
{
    const tk::MenuSpec* item = findMenuItem(w.spec.menu, caption);
    ASSERT_NE(item, nullptr) << caption;
    ASSERT_NE(item->id, 0) << caption;
    w.events->menuCommand(item->id);
}

// The program as started: the main window loaded and shown, no About window yet.
class AppTest : public ::testing::Test {
protected:
    HeadlessBackend backend; // no art: the tests check pictures by identity
    tk::BackendInstaller install{backend};
    Application app;
    HeadlessWindow* mainWin = nullptr;

    void SetUp() override
    {
        app.Start();
        mainWin = backend.findWindow("Lumeno ControlPanel");
        ASSERT_NE(mainWin, nullptr);
    }
    HeadlessWindow* chooseAbout()
    {
        chooseMenu(*mainWin, "&About");
        return backend.findWindow("About");
    }
    void clickAt(HeadlessWindow& w, PointPx p) { backend.click(w, w.scale.toDevice(p)); }
};

// Stand-ins for the icon art, so that which icon the preview shows is checked by identity.
class FakeIcon final : public tk::Picture {
public:
    tk::SizePx size() const override { return {16, 16}; }
};

class MainWindowTestBase : public AppTest {
protected:
    std::array<tk::PicturePtr, 13> icons;

    void SetUp() override
    {
        AppTest::SetUp();
        for (std::size_t i = 0; i < icons.size(); ++i)
            frm().imgIcons(int(i)).SetPicture(icons[i] = std::make_shared<FakeIcon>());
    }
    frmCPanel& frm() { return app.MainWindow(); }
    void move(PointPx p) { backend.mouseMove(*mainWin, mainWin->scale.toDevice(p)); }
    // The strip shows this hotspot's title and icon, or is empty for -1.
    void expectStrip(int spot, const std::string& where = "")
    {
        EXPECT_EQ(frm().lblInfo.Caption(), spot < 0 ? "" : kSpots[std::size_t(spot)].title) << where;
        EXPECT_EQ(frm().imgPreview.Picture(), spot < 0 ? nullptr : icons[std::size_t(kSpots[std::size_t(spot)].icon)])
            << where;
    }
};

// The program with its About window chosen from the menu, as a user opens it.
class AboutTestBase : public AppTest {
protected:
    frmAbout* about = nullptr;
    HeadlessWindow* aboutWin = nullptr;

    void SetUp() override
    {
        AppTest::SetUp();
        if (!HasFatalFailure())
            reopen();
    }
    void reopen() // closes it first when it is open
    {
        if (aboutWin)
            aboutWin->close();
        aboutWin = chooseAbout();
        about = app.AboutWindowIfCreated();
        ASSERT_NE(aboutWin, nullptr);
        ASSERT_NE(about, nullptr);
    }
};

} // namespace testsupport
