// The windows without a mouse: the keyboard's focus over the hotspots and the About window's
// links, the strip and the focus cue that follow it, applets started from the keyboard, and what
// a screen reader is told (items, names, roles, places, hit tests, actions, focus events).
#include "test_support.h"
#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;
using tk::PointPx;
using tk::RectPx;
namespace Key = tk::Key;

namespace {

// Reading order: by top edge, then left edge (Modem and CDs share a top, as do Keyboard and Mouse).
const std::vector<int> kReadingOrder{Map,  Clock,    Display,  RightSpeaker, LeftSpeaker, Globe, Modem,
                                     CDs,  Computer, HardDisk, Keyboard,     Mouse,       Keys};

// A hotspot's rectangle in the window's client pixels: the picture's inside starts at (5, 6).
RectPx rectOf(const Spot& s)
{
    return {5 + s.left / 15, 6 + s.top / 15, 5 + (s.left + s.width) / 15, 6 + (s.top + s.height) / 15};
}

// The topmost hotspot at a client point by the catalogue's z-order, -1 for none.
int spotAt(PointPx p)
{
    for (std::size_t i = 0; i < kSpots.size(); ++i)
        if (rectOf(kSpots[i]).contains(p))
            return int(i);
    return -1;
}

class KeyboardTest : public MainWindowTestBase {
protected:
    tk::WindowEvents& events() { return *mainWin->events; }

    // The hotspot with the keyboard's focus, -1 for none, by its image.
    int focused()
    {
        for (int i = 0; i < 13; ++i)
            if (frm().FocusedControl() == &frm().imgHotspot(i))
                return i;
        return frm().FocusedControl() ? -2 : -1;
    }
    void expectStrip(int spot, const std::string& where)
    {
        EXPECT_EQ(frm().lblInfo.Caption(), kSpots[std::size_t(spot)].title) << where;
        EXPECT_EQ(frm().imgPreview.Picture(), icons[std::size_t(kSpots[std::size_t(spot)].icon)]) << where;
    }
    std::vector<std::string> starts()
    {
        std::vector<std::string> out;
        for (const auto& s : backend.processStarts)
            out.push_back(s.commandLine);
        return out;
    }
    static std::string applet(int spot) { return std::string(kAppletCommands[kSpots[std::size_t(spot)].applet]); }
};

TEST_F(KeyboardTest, TabGoesRoundTheHotspotsInReadingOrderBothWays)
{
    std::vector<int> forward, backward;
    for (int i = 0; i < 14; ++i) {
        backend.press(Key::Tab);
        forward.push_back(focused());
    }
    std::vector<int> expected = kReadingOrder;
    expected.push_back(Map); // round again
    EXPECT_EQ(forward, expected);

    for (int i = 0; i < 14; ++i) {
        backend.press(Key::Tab, tk::ShiftKey::Shift);
        backward.push_back(focused());
    }
    // From the map backwards: the last one first, round to the map and past it.
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
        {Map, Key::Right, Display},        {Map, Key::Down, LeftSpeaker},      {Display, Key::Left, LeftSpeaker},
        {Display, Key::Right, RightSpeaker}, {Display, Key::Down, Computer},   {RightSpeaker, Key::Right, Clock},
        {Clock, Key::Left, RightSpeaker},  {Clock, Key::Down, CDs},            {LeftSpeaker, Key::Up, Map},
        {LeftSpeaker, Key::Down, Globe},   {Globe, Key::Right, Computer},      {Modem, Key::Left, Keyboard},
        {Modem, Key::Right, CDs},          {Modem, Key::Down, HardDisk},       {CDs, Key::Down, Mouse},
        {Computer, Key::Up, Display},      {Keyboard, Key::Right, HardDisk},   {Mouse, Key::Left, HardDisk},
        {Mouse, Key::Up, CDs},             {Keys, Key::Up, Globe},             {Keys, Key::Right, Computer},
        // Dead ends: nothing that way, the focus stays.
        {Map, Key::Up, Map},               {Map, Key::Left, Map},              {Clock, Key::Right, Clock},
        {Clock, Key::Up, Clock},           {Mouse, Key::Right, Mouse},         {Mouse, Key::Down, Mouse},
        {Keys, Key::Left, Keys},           {Keys, Key::Down, Keys},            {Globe, Key::Left, Globe},
    };
    for (const auto& m : moves) {
        // Reach the start by Tab from the first, as a user would.
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

TEST_F(KeyboardTest, EnterOrSpaceStartsTheFocusedAppletOncePerPressAndRepeatsStartNothing)
{
    backend.press(Key::Enter);
    backend.press(Key::Space);
    EXPECT_TRUE(backend.processStarts.empty()) << "nothing focused, nothing started";

    backend.press(Key::Tab); // the map
    backend.keyDown(Key::Enter);
    for (int i = 0; i < 5; ++i)
        backend.keyDown(Key::Enter, 0, true); // held down: the keyboard repeats
    backend.keyUp(Key::Enter);
    EXPECT_EQ(starts(), std::vector<std::string>{applet(Map)});

    backend.press(Key::End); // the keys
    backend.keyDown(Key::Space);
    backend.keyDown(Key::Space, 0, true);
    backend.keyUp(Key::Space);
    backend.press(Key::Enter);
    EXPECT_EQ(starts(), (std::vector<std::string>{applet(Map), applet(Keys), applet(Keys)}));

    // Exactly as a click: the same line, and the strip untouched by the start.
    backend.processStarts.clear();
    backend.click(*mainWin, mainWin->scale.toDevice(centre(rectOf(kSpots[Keys]))));
    backend.press(Key::Enter);
    ASSERT_EQ(backend.processStarts.size(), 2u);
    EXPECT_EQ(backend.processStarts[0].commandLine, backend.processStarts[1].commandLine);
    EXPECT_EQ(backend.processStarts[0].program, backend.processStarts[1].program);
    EXPECT_EQ(backend.processStarts[0].showState, backend.processStarts[1].showState);
    expectStrip(Keys, "after Enter");
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
        EXPECT_TRUE(item.focusable) << s.name;
        EXPECT_FALSE(item.focused) << s.name;
    }
    EXPECT_EQ(events().accessibleItem(6).name, "Modems"); // index 6 of the reading order
    EXPECT_EQ(events().accessibleItem(8).name, "System Properites");

    // Last, under the picture, the strip's title as text: a reader hears it change with the hover.
    EXPECT_EQ(events().accessibleItem(13).role, tk::Role::StaticText);
    EXPECT_FALSE(events().accessibleItem(13).focusable);
    mainWin->accessibleEvents.clear();
    backend.mouseMove(*mainWin, mainWin->scale.toDevice(centre(rectOf(kSpots[Map]))));
    EXPECT_EQ(events().accessibleItem(13).name, kSpots[Map].title);
    EXPECT_EQ(std::count(mainWin->accessibleEvents.begin(), mainWin->accessibleEvents.end(),
                         std::pair{tk::AccessibleEvent::NameChange, 13}), 1);
    backend.mouseMove(*mainWin, {0, 0});

    // Focus: the item the keyboard is on, told to the reader at each move by its index.
    backend.press(Key::Tab);
    backend.press(Key::Right);
    EXPECT_EQ(mainWin->focusEvents, (std::vector<int>{0, 2})); // the map, then the display
    EXPECT_EQ(events().accessibleFocus(), 2);
    EXPECT_TRUE(events().accessibleItem(2).focused);
    EXPECT_FALSE(events().accessibleItem(0).focused);
    backend.focus(nullptr);
    EXPECT_EQ(events().accessibleFocus(), -1) << "the window has no focus to name";
    EXPECT_FALSE(events().accessibleItem(2).focused);
    backend.focus(mainWin);
    EXPECT_EQ(mainWin->focusEvents, (std::vector<int>{0, 2, 2})) << "coming back announces it again";
}

TEST_F(KeyboardTest, TheReadersHitTestAnswersWhatTheMouseWouldHover)
{
    std::vector<PointPx> points;
    for (const Spot& s : kSpots) {
        const RectPx r = rectOf(s);
        points.insert(points.end(), {centre(r), {r.left, r.top}, {r.right - 1, r.bottom - 1}, {r.left - 1, r.top},
                                     {r.right, r.top}, {r.left, r.bottom}, {r.left, r.top - 1}});
    }
    points.insert(points.end(), {{4, 100}, {430, 100}, {200, 355}, {200, 3}}); // borders, strip, edge
    for (PointPx p : points) {
        const std::string where = std::to_string(p.x) + "," + std::to_string(p.y);
        const int expected = spotAt(p);
        const int item = events().accessibleAt(p);
        if (expected < 0 || p.x < 5 || p.x >= 430 || p.y < 6 || p.y >= 337) {
            EXPECT_EQ(item, -1) << where;
            continue;
        }
        ASSERT_GE(item, 0) << where;
        EXPECT_EQ(events().accessibleItem(item).name, kSpots[std::size_t(expected)].title) << where;
        backend.mouseMove(*mainWin, mainWin->scale.toDevice(p)); // the mouse agrees
        EXPECT_EQ(frm().lblInfo.Caption(), kSpots[std::size_t(expected)].title) << where;
    }
}

// ---- The About window ----

class AboutKeyboardTest : public AboutTestBase {
protected:    tk::WindowEvents& events() { return *aboutWin->events; }
    std::string lastShellCall()
    {
        if (backend.shellCalls.empty())
            return "none";
        const auto& c = backend.shellCalls.back();
        return c.verb + "|" + c.file + "|" + c.parameters + "|" + c.directory + "|" + std::to_string(c.showCommand);
    }
    int itemNamed(const std::string& name)
    {
        for (int i = 0; i < events().accessibleCount(); ++i)
            if (events().accessibleItem(i).name == name)
                return i;
        return -1;
    }
};

TEST_F(AboutKeyboardTest, AScreenReaderSeesTwoLinksAndTheTextsByTheirCaptions)
{
    const int web = itemNamed(about->lblWeb.Caption()), mail = itemNamed(about->lblEmail.Caption());
    ASSERT_GE(web, 0);
    ASSERT_GE(mail, 0);
    for (int link : {web, mail}) {
        const tk::AccessibleItem item = events().accessibleItem(link);
        EXPECT_EQ(item.role, tk::Role::Link) << item.name;
        EXPECT_TRUE(item.focusable) << item.name;
        EXPECT_FALSE(item.defaultAction.empty()) << item.name;
    }
    EXPECT_EQ(events().accessibleItem(web).rect, about->lblWeb.pixelRect());

    const tk::Label* texts[] = {&about->lblTit, &about->lblVersion, &about->lblComments, &about->lblCopyright,
                                &about->Label3, &about->lblDisc};
    for (const tk::Label* label : texts) {
        const int i = itemNamed(label->Caption());
        ASSERT_GE(i, 0) << label->Name();
        EXPECT_EQ(events().accessibleItem(i).role, tk::Role::StaticText) << label->Name();
        EXPECT_FALSE(events().accessibleItem(i).focusable) << label->Name();
    }
    EXPECT_EQ(itemNamed("Logo"), 1);
    EXPECT_EQ(events().accessibleItem(1).role, tk::Role::Graphic);
    EXPECT_EQ(events().accessibleCount(), 9);
    // Reading order: the title first; the comments, inside their box, by their place in the window.
    EXPECT_EQ(events().accessibleItem(0).name, about->lblTit.Caption());

    // The default action does what a click does.
    backend.click(*aboutWin, aboutWin->scale.toDevice(centre(about->lblEmail.pixelRect())));
    const std::string byClick = lastShellCall();
    backend.shellCalls.clear();
    events().accessibleAction(mail);
    EXPECT_EQ(lastShellCall(), byClick);

    // The hidden disclaimer keeps its index, and says it is hidden; the reader is told.
    const int disclaimer = itemNamed(about->lblDisc.Caption());
    ASSERT_GE(disclaimer, 0);
    aboutWin->accessibleEvents.clear();
    backend.advance(5000);
    EXPECT_EQ(events().accessibleCount(), 9);
    EXPECT_EQ(itemNamed(about->lblDisc.Caption()), disclaimer);
    EXPECT_FALSE(events().accessibleItem(disclaimer).visible);
    EXPECT_EQ(std::count(aboutWin->accessibleEvents.begin(), aboutWin->accessibleEvents.end(),
                         std::pair{tk::AccessibleEvent::Hide, disclaimer}), 1);
}

} // namespace
