// The narrow platform interface under the toolkit. Two implementations: the real Win32 one
// (toolkit/win32) and an in-memory one with a virtual clock for unit tests (toolkit/headless).
// Space: logical pixels only (types.h), client pixels of the window concerned, or screen
// positions in that window's logical pixels where a name says so; a backend maps them to its
// display with DisplayScale. Owners: the backend owns native resources; the toolkit owns the
// objects that implement WindowEvents and the NativeWindow objects it asked for, and always
// outlives them.
#pragma once
#include "types.h"
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tk {

// A decoded image; immutable and shared between controls (copying a picture shares it).
class Picture {
public:
    virtual ~Picture() = default;
    virtual SizePx size() const = 0;
};
using PicturePtr = std::shared_ptr<const Picture>;

// Drawing surface for one paint of one window, in that window's client pixels.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void fill(RectPx r, Color c) = 0;
    virtual void frame(RectPx r, Color c) = 0;          // 1-pixel outline inside r
    virtual void sunkenEdge(RectPx r) = 0;              // 2-pixel 3-D sunken edge inside r
    virtual void line(PointPx from, PointPx to, Color c) = 0; // 1 pixel wide, end point included
    virtual void text(RectPx r, std::string_view s, const Font& f, Color c, Align a, bool wrap) = 0;
    virtual void picture(const Picture& p, RectPx dest) = 0; // stretched when sizes differ
    // Until the matching popClip, draws are clipped to r and placed relative to its top-left
    // corner: a picture box inside a window draws in its own client pixels.
    virtual void pushClip(RectPx r) = 0;
    virtual void popClip() = 0;
    virtual void focusRect(RectPx r) = 0; // the platform's dotted keyboard-focus outline inside r
};

struct MouseEvent {
    enum class Kind { Move, Down, Up, DoubleClick, CaptureLost };
    Kind kind = Kind::Move;
    short button = 0; // for Down/Up/DoubleClick: the one button; for Move: buttons held
    short shift = 0;  // ShiftKey bits held
    PointPx pos;      // client pixels
};

// A key pressed or released while the window has the keyboard focus. Keys the system keeps
// for itself (Alt, F10 and Alt combinations: the menu bar's) never arrive.
struct KeyEvent {
    bool down = true;    // false: released
    int key = 0;         // a Key:: number
    short shift = 0;     // ShiftKey bits held
    bool repeat = false; // a held key repeating
};

// What assistive technology is told an item is (the platform maps each to its own role).
enum class Role { None, StaticText, PushButton, Link, Graphic };

// One item of a window as a screen reader sees it.
struct AccessibleItem {
    std::string name, defaultAction;
    Role role = Role::None;
    RectPx rect; // client pixels
    bool focused = false, focusable = false;
    bool visible = true;
};

// What assistive technology is told of an item as it changes.
enum class AccessibleEvent { Show, Hide, NameChange, LocationChange };

// What a native window asks of the toolkit object behind it.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void paint(Canvas& canvas) = 0;
    virtual void mouse(const MouseEvent& e) = 0;
    virtual int cursorAt(PointPx p) = 0;             // cursor resource id, 0 for the default
    virtual std::string toolTipAt(PointPx p) = 0;    // empty: no tool tip
    virtual void timer(int id) = 0;
    virtual void menuCommand(int id) = 0;
    virtual void destroyed() = 0;                    // the native window is gone
    virtual void key(const KeyEvent& e) = 0;
    virtual void focus(bool has) = 0;                // the window got or lost the keyboard focus
    // Whether keyboard cues show: the platform hides them until the keyboard is used there.
    virtual void focusCue(bool shown) = 0;
    // The window's items for assistive technology, hidden ones too, each at an index fixed for
    // the window's life (the reading order at load); indexes from 0, -1: none.
    virtual int accessibleCount() = 0;
    virtual AccessibleItem accessibleItem(int index) = 0;
    virtual int accessibleAt(PointPx p) = 0;         // the item the pointer would be over at p
    virtual int accessibleFocus() = 0;
    virtual void accessibleAction(int index) = 0;    // its default action, as a click does it
    virtual bool accessibleTakeFocus(int index) = 0; // false: it cannot have the focus
    // The window now shows at another display scale: text measures differently there.
    virtual void scaleChanged() = 0;
};

struct MenuSpec {
    std::string caption;             // "-" is a separator
    int id = 0;                      // command id for items without children
    std::vector<MenuSpec> items;     // a drop-down menu when not empty
};

enum class Frame {
    FixedSingle,     // title bar and thin frame, not resizable
    FixedToolWindow, // small title bar, close button only
};

enum class Placement { Default, CenterActive };

struct WindowSpec {
    std::string caption;
    Frame frame = Frame::FixedSingle;
    SizePx clientSize;
    Placement placement = Placement::Default;
    bool minimizeBox = false;
    int iconResource = 0;             // 0: no icon
    bool showInTaskbar = true;
    std::vector<MenuSpec> menu;
};

class NativeWindow {
public:
    virtual ~NativeWindow() = default; // destroys the window if it still exists
    // Makes the platform's window, hidden; false when the system refuses. Made in a second step
    // so that whoever holds this object can already answer the callbacks creation sends.
    virtual bool create() = 0;
    virtual void show() = 0;           // shows and activates (brings to front)
    virtual void invalidate(RectPx r) = 0;
    virtual void captureMouse() = 0;
    virtual void releaseMouse() = 0;
    // Screen questions belong to a window, since each monitor has its own scale: both answers
    // are screen positions in this window's logical pixels, so that they compare exactly.
    virtual RectPx outerRect() const = 0; // frame included
    virtual PointPx cursorPos() const = 0;
    virtual void startTimer(int id, int milliseconds) = 0; // (re)starts the countdown
    virtual void stopTimer(int id) = 0;
    virtual void refreshToolTip() = 0;    // the control under the pointer changed
    virtual void focusMoved(int accessibleIndex) = 0; // tells assistive technology
    virtual void accessibleChanged(AccessibleEvent e, int accessibleIndex) = 0;
    // Text as this window draws it, at its display's scale; wrapWidth > 0 word-wraps there.
    virtual SizePx measureText(std::string_view text, const Font& font, int wrapWidth) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    // The object for a window; nothing exists on screen until its create().
    virtual std::unique_ptr<NativeWindow> createWindow(const WindowSpec& spec, WindowEvents& events) = 0;
    virtual PicturePtr loadPicture(int resourceId) = 0;
    virtual void messageBox(std::string_view text, std::string_view title, int style) = 0;
    // Whether the system directory holds a file (not a folder) of this plain name. Only asks;
    // loads nothing.
    virtual bool systemFileExists(std::string_view fileName) = 0;
    // Starts a program of the system directory with the given command line and that directory
    // as its current folder. Returns false when the start is refused.
    virtual bool startSystemProgram(std::string_view programFile, std::string_view commandLine,
                                    int showState) = 0;
    virtual void shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                              std::string_view directory, int showCommand) = 0;
    virtual void quit() = 0;         // leave the event loop
};

// The one backend of the process, installed by its owner for its lifetime.
Backend& backend();
class BackendInstaller {
public:
    explicit BackendInstaller(Backend& b);
    ~BackendInstaller();
    BackendInstaller(const BackendInstaller&) = delete;
    BackendInstaller& operator=(const BackendInstaller&) = delete;
private:
    Backend* previous_;
};

} // namespace tk
