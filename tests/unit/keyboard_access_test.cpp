// The windows without a mouse: the keyboard's order over the hotspots, the strip that follows
// it, applets started from the keyboard, and what a screen reader is told of the main window and
// the About window (items, names, roles, places, hit tests, actions, focus events).
#include "../../app/appinfo_record.h"
#include "test_support.h"
#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;
namespace Key = tk::Key;

namespace {

// Reading order: by top edge, then left edge (Modem and CDs share a top, as do Keyboard and Mouse).
const std::vector<int> kReadingOrder{Map,  Clock,    Display,  RightSpeaker, LeftSpeaker, Globe, Modem,
                                     CDs,  Computer, HardDisk, Keyboard,     Mouse,       Keys};

class KeyboardTest : public MainWindowTestBase {
protected:
    tk::WindowEvents& events() { return *mainWin->events; }

    // The hotspot with the keyboard's focus by its catalogue row, -1 for none.
    int focused()
    {
        for (int i = 0; i < 13; ++i)
            if (frm().FocusedControl() == &frm().imgHotspot(i))
                return i;
        return frm().FocusedControl() ? -2 : -1;
    }
    std::vector<std::string> starts()
    {
        std::vector<std::string> out;
        for (const auto& s : backend.processStarts)
            out.push_back(s.program + "|" + s.commandLine + "|" + std::to_string(s.showState));
        return out;
    }
    static std::string applet(int spot)
    {
        return "rundll32.exe|" + std::string(kAppletCommands[kSpots[std::size_t(spot)].applet]) + "|5";
    }
};

TEST_F(KeyboardTest, TabGoesRoundTheHotspotsInReadingOrderBothWays)
{
    EXPECT_EQ(focused(), -1) << "no focus until a key picks one";
    std::vector<int> forward, backward;
    for (int i = 0; i < 14; ++i) {
        backend.press(Key::Tab);
        forward.push_back(focused());
        expectStrip(forward.back(), "tab"); // the strip follows the focus as it follows hover
    }
    std::vector<int> expected = kReadingOrder;
    expected.push_back(Map); // round again
    EXPECT_EQ(forward, expected);
    for (int i = 0; i < 14; ++i) {
        backend.press(Key::Tab, tk::ShiftKey::Shift);
        backward.push_back(focused());
    }
    std::vector<int> reversed(kReadingOrder.rbegin(), kReadingOrder.rend());
    reversed.push_back(Keys);
    EXPECT_EQ(backward, reversed);

    backend.press(Key::End);
    EXPECT_EQ(focused(), Keys);
    backend.press(Key::Home);
    EXPECT_EQ(focused(), Map);
    backend.keyDown(Key::Tab, tk::ShiftKey::Ctrl); // Ctrl+Tab belongs to no one here
    EXPECT_EQ(focused(), Map);
}

TEST_F(KeyboardTest, ArrowsGoToTheNearestHotspotThatWayAndStayAtDeadEnds)
{
    // From each centre, the nearest centre within the quarter turn around the arrow's direction.
    const struct { int from, key, to; } moves[] = {
        {Map, Key::Right, Display},        {Map, Key::Down, LeftSpeaker},    {Display, Key::Right, RightSpeaker},
        {Display, Key::Down, Computer},    {RightSpeaker, Key::Right, Clock}, {Clock, Key::Down, CDs},
        {LeftSpeaker, Key::Down, Globe},   {Globe, Key::Right, Computer},     {Modem, Key::Left, Keyboard},
        {Modem, Key::Down, HardDisk},      {Mouse, Key::Left, HardDisk},      {Keys, Key::Up, Globe},
        // Dead ends: nothing that way, the focus stays.
        {Map, Key::Up, Map},               {Clock, Key::Right, Clock},        {Mouse, Key::Down, Mouse},
        {Keys, Key::Left, Keys},
    };
    for (const auto& m : moves) {
        backend.press(Key::Home);
        while (focused() != m.from)
            backend.press(Key::Tab);
        const std::size_t eventsBefore = mainWin->focusEvents.size();
        backend.press(m.key);
        EXPECT_EQ(focused(), m.to) << kSpots[std::size_t(m.from)].name << " key " << m.key;
        if (m.to == m.from)
            EXPECT_EQ(mainWin->focusEvents.size(), eventsBefore) << "a dead end announces nothing";
    }
}

TEST_F(KeyboardTest, EnterOrSpaceStartsTheFocusedAppletOncePerPressAsAClickDoes)
{
    backend.press(Key::Enter);
    EXPECT_TRUE(backend.processStarts.empty()) << "nothing focused, nothing started";
    backend.press(Key::Tab); // the map
    backend.keyDown(Key::Enter);
    for (int i = 0; i < 5; ++i)
        backend.keyDown(Key::Enter, 0, true); // held down: the keyboard repeats
    backend.keyUp(Key::Enter);
    backend.press(Key::End); // the keys
    backend.keyDown(Key::Space);
    backend.keyDown(Key::Space, 0, true);
    backend.keyUp(Key::Space);
    clickAt(*mainWin, centre(rectOf(kSpots[Keys])));
    EXPECT_EQ(starts(), (std::vector<std::string>{applet(Map), applet(Keys), applet(Keys)}));
    expectStrip(Keys, "after the starts");
}

TEST_F(KeyboardTest, AScreenReaderSeesThirteenButtonsInReadingOrderNamedAsTheStripNamesThem)
{
    ASSERT_EQ(events().accessibleCount(), 14);
    for (int i = 0; i < 13; ++i) {
        const Spot& s = kSpots[std::size_t(kReadingOrder[std::size_t(i)])];
        const tk::AccessibleItem item = events().accessibleItem(i);
        EXPECT_EQ(item.name, s.title) << i;
        EXPECT_EQ(item.role, tk::Role::PushButton) << s.name;
        EXPECT_EQ(item.defaultAction, "Open") << s.name;
        EXPECT_EQ(item.rect, rectOf(s)) << s.name;
        EXPECT_TRUE(item.focusable && !item.focused) << s.name;
        backend.processStarts.clear();
        events().accessibleAction(i); // the default action starts what a click starts
        EXPECT_EQ(starts(), std::vector<std::string>{applet(kReadingOrder[std::size_t(i)])}) << s.name;
    }
    EXPECT_EQ(focused(), -1) << "the action moves no focus";

    // Last, under the picture, the strip's title as text: a reader hears it change with the hover.
    EXPECT_EQ(events().accessibleItem(13).role, tk::Role::StaticText);
    EXPECT_FALSE(events().accessibleItem(13).focusable);
    mainWin->accessibleEvents.clear();
    move(centre(rectOf(kSpots[Map])));
    EXPECT_EQ(events().accessibleItem(13).name, "Regional Settings");
    EXPECT_EQ(std::count(mainWin->accessibleEvents.begin(), mainWin->accessibleEvents.end(),
                         std::pair{tk::AccessibleEvent::NameChange, 13}), 1);

    // Focus: the item the keyboard is on, told to the reader at each move by its index.
    backend.press(Key::Tab);
    backend.press(Key::Right);
    EXPECT_EQ(events().accessibleFocus(), 2);
    EXPECT_TRUE(events().accessibleItem(2).focused);
    backend.focus(nullptr);
    EXPECT_EQ(events().accessibleFocus(), -1) << "the window has no focus to name";
    backend.focus(mainWin);
    EXPECT_EQ(mainWin->focusEvents, (std::vector<int>{0, 2, 2})) << "the map, the display, and on coming back";
}

TEST_F(KeyboardTest, TheReadersHitTestAnswersWhatTheMouseWouldHover)
{
    // The topmost hotspot at a client point by the catalogue's z-order, -1 for none.
    auto spotAt = [](PointPx p) {
        for (std::size_t i = 0; i < kSpots.size(); ++i)
            if (rectOf(kSpots[i]).contains(p))
                return int(i);
        return -1;
    };
    std::vector<PointPx> points{{4, 100}, {430, 100}, {200, 355}, {200, 3}}; // borders, strip, edge
    for (const Spot& s : kSpots) {
        const RectPx r = rectOf(s);
        points.insert(points.end(), {centre(r), {r.left, r.top}, {r.right - 1, r.bottom - 1}, {r.left - 1, r.top},
                                     {r.right, r.top}, {r.left, r.bottom}, {r.left, r.top - 1}});
    }
    for (PointPx p : points) {
        const std::string where = std::to_string(p.x) + "," + std::to_string(p.y);
        const int expected = spotAt(p), item = events().accessibleAt(p);
        if (expected < 0 || !RectPx{5, 6, 430, 337}.contains(p)) {
            EXPECT_EQ(item, -1) << where;
            continue;
        }
        ASSERT_GE(item, 0) << where;
        EXPECT_EQ(events().accessibleItem(item).name, kSpots[std::size_t(expected)].title) << where;
        move(p); // the mouse agrees
        EXPECT_EQ(frm().lblInfo.Caption(), kSpots[std::size_t(expected)].title) << where;
    }
}

class AboutKeyboardTest : public AboutTestBase {
protected:
    tk::WindowEvents& events() { return *aboutWin->events; }
    std::vector<std::string> shellCalls()
    {
        std::vector<std::string> out;
        for (const auto& c : backend.shellCalls)
            out.push_back(c.verb + "|" + c.file + "|" + c.parameters + "|" + c.directory + "|" + std::to_string(c.showCommand));
        return out;
    }
    int itemNamed(std::string_view name)
    {
        for (int i = 0; i < events().accessibleCount(); ++i)
            if (events().accessibleItem(i).name == name)
                return i;
        return -1;
    }
};

TEST_F(AboutKeyboardTest, TheTwoLinksOpenTheFixedAddressesFromTheKeyboardAndAReaderSeesThemAndTheTexts)
{
    ASSERT_EQ(events().accessibleCount(), 9);
    EXPECT_EQ(events().accessibleItem(0).name, "Lumeno Control Panel"); // the title first
    EXPECT_EQ(events().accessibleItem(1).name, "Logo");
    EXPECT_EQ(events().accessibleItem(1).role, tk::Role::Graphic);
    const int web = itemNamed(WebSite), mail = itemNamed(ContactEmail);
    for (int link : {web, mail}) {
        ASSERT_GE(link, 0);
        EXPECT_EQ(events().accessibleItem(link).role, tk::Role::Link);
        EXPECT_TRUE(events().accessibleItem(link).focusable);
    }
    EXPECT_EQ(events().accessibleItem(web).rect, about->lblWeb.pixelRect());
    for (const tk::Label* label : {&about->lblVersion, &about->lblComments, &about->lblCopyright, &about->Label3}) {
        const int i = itemNamed(label->Caption());
        ASSERT_GE(i, 0) << label->Name();
        EXPECT_EQ(events().accessibleItem(i).role, tk::Role::StaticText) << label->Name();
        EXPECT_FALSE(events().accessibleItem(i).focusable) << label->Name();
    }

    // Both links on one line: the web address on the left comes first; Enter follows a link once
    // however long it is held; the reader's action and a click do what Enter does, and the fixed
    // address is opened whatever the label shows.
    backend.press(Key::Tab);
    backend.press(Key::Enter);
    backend.press(Key::Tab);
    backend.keyDown(Key::Enter);
    backend.keyDown(Key::Enter, 0, true);
    events().accessibleAction(web);
    about->lblEmail.SetCaption("someone@else.example");
    clickAt(*aboutWin, centre(about->lblEmail.pixelRect()));
    const std::string toSite = "Open|" + std::string(WebSite) + "|||1";
    const std::string toMail = "Open|mailto:" + std::string(ContactEmail) + "|||1";
    EXPECT_EQ(shellCalls(), (std::vector<std::string>{toSite, toMail, toSite, toMail}));
    EXPECT_TRUE(backend.messageBoxes.empty());
    backend.press(Key::Tab);
    EXPECT_EQ(about->FocusedControl(), &about->lblWeb) << "round again";
    EXPECT_EQ(app.MainWindow().FocusedControl(), nullptr) << "the main window keeps its own focus";

    // The hidden disclaimer keeps its index and says it is hidden; the reader is told.
    const int disclaimer = itemNamed(about->lblDisc.Caption());
    ASSERT_GE(disclaimer, 0);
    backend.advance(5000);
    EXPECT_EQ(itemNamed(about->lblDisc.Caption()), disclaimer);
    EXPECT_FALSE(events().accessibleItem(disclaimer).visible);
    EXPECT_EQ(std::count(aboutWin->accessibleEvents.begin(), aboutWin->accessibleEvents.end(),
                         std::pair{tk::AccessibleEvent::Hide, disclaimer}), 1);
}

} // namespace
