// An in-memory backend for native unit tests: windows are records, time is a virtual clock that
// the test advances, text metrics are deterministic, pictures carry the sizes of the files that
// the creator's resource lookup hands over, and process starts, shell calls and message boxes
// are recorded instead of performed.
// Space: like the platform, it shows windows at a display scale (`dpi`, 96 unless a test sets it
// before making windows): input is injected, and draws are recorded, in a window's client device
// pixels, mapped to and from the toolkit's logical pixels by the same DisplayScale the Win32
// backend uses (DevicePoint, DeviceRect). Input reaches the window, or the one holding the
// capture, as the platform would deliver it. Owners: the toolkit owns each HeadlessWindow, as it
// owns any native window; the backend keeps a list of them to find them by caption.
#pragma once
#include "../backend.h"
#include "../display_scale.h"
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tk::headless {

class HeadlessBackend;

struct DrawOp {
    enum class Kind { Fill, Frame, SunkenEdge, Line, Text, Picture, FocusRect } kind;
    DeviceRect rect;
    Color color = 0;
    std::string text;
    const Picture* picture = nullptr;
};

class HeadlessWindow final : public NativeWindow {
public:
    HeadlessWindow(HeadlessBackend& b, const WindowSpec& spec, WindowEvents& events);
    ~HeadlessWindow() override;

    bool create() override;        // refused while the backend's refuseWindows is set
    void show() override;
    void invalidate(RectPx) override { ++invalidations; }
    void captureMouse() override;
    void releaseMouse() override;
    RectPx outerRect() const override { return scale.toLogical(outer); }
    PointPx cursorPos() const override;
    void startTimer(int id, int milliseconds) override;
    void stopTimer(int id) override;
    void refreshToolTip() override {}
    void focusMoved(int accessibleIndex) override { focusEvents.push_back(accessibleIndex); }
    void accessibleChanged(AccessibleEvent e, int accessibleIndex) override
    {
        accessibleEvents.push_back({e, accessibleIndex});
    }
    SizePx measureText(std::string_view text, const Font& font, int wrapWidth) override;

    // What a test may look at or do.
    void close();                  // the user's close box
    // The user drags the window onto a monitor of another DPI, its outer top-left corner to
    // `topLeft` (screen device pixels): it lays itself out again there, as the platform's does.
    void moveToMonitor(int dpi, DevicePoint topLeft);
    std::vector<DrawOp> paint();   // one full paint, recorded in device pixels
    DeviceSize clientSize() const { return scale.toDevice(spec.clientSize); }

    HeadlessBackend& backend;
    WindowSpec spec;
    WindowEvents* events;
    DisplayScale scale;            // the display's when the window was made
    DeviceRect outer;              // on the screen
    bool created = false;
    bool visible = false;
    int showCount = 0;
    int invalidations = 0;
    bool focusCueHidden = true;    // the platform's UI state: until the keyboard is used here
    std::vector<int> focusEvents;  // what assistive technology was told, item indexes
    std::vector<std::pair<AccessibleEvent, int>> accessibleEvents;
    struct TimerState { int interval; long long due; long long order; };
    std::map<int, TimerState> timers;
};

// The bytes of the picture file behind a resource id, empty when there is none. Whoever creates
// the backend knows the program's resources; the backend does not.
using ResourceLookup = std::function<std::vector<std::uint8_t>(int resourceId)>;

class HeadlessBackend final : public Backend {
public:
    explicit HeadlessBackend(ResourceLookup resources = {});
    ~HeadlessBackend() override;

    // Backend
    std::unique_ptr<NativeWindow> createWindow(const WindowSpec& spec, WindowEvents& events) override;
    PicturePtr loadPicture(int resourceId) override;
    // Deterministic metrics, the same at every scale unless textSize says otherwise; wrapWidth
    // > 0 word-wraps at that width.
    SizePx measureText(std::string_view text, const Font& font, int wrapWidth, int dpi);
    void messageBox(std::string_view text, std::string_view title, int style) override;
    bool systemFileExists(std::string_view fileName) override;
    bool startSystemProgram(std::string_view programFile, std::string_view commandLine, int showState) override;
    void shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                      std::string_view directory, int showCommand) override;
    void quit() override { quitRequested = true; }

    // Windows
    std::vector<HeadlessWindow*> topLevelWindows() const; // alive, in creation order
    HeadlessWindow* findWindow(std::string_view caption) const;

    // The display's DPI for windows made from now on.
    int dpi = DisplayScale::kDesignDpi;

    // Input, in the top-level window's client device pixels.
    void mouseMove(HeadlessWindow& top, DevicePoint p, short buttons = 0, short shift = 0);
    void mouseDown(HeadlessWindow& top, DevicePoint p, short button = 1, short shift = 0);
    void mouseUp(HeadlessWindow& top, DevicePoint p, short button = 1, short shift = 0);
    void doubleClickPress(HeadlessWindow& top, DevicePoint p, short button = 1, short shift = 0);
    void click(HeadlessWindow& top, DevicePoint p);       // press and release of the left button
    void doubleClick(HeadlessWindow& top, DevicePoint p); // click, then the second press and release

    // The keyboard reaches the window that has the focus; a shown window takes it. A key down
    // first shows the focus cue, as the platform's UI state does once the keyboard is used.
    void keyDown(int key, short shift = 0, bool repeat = false);
    void keyUp(int key, short shift = 0);
    void press(int key, short shift = 0); // down and up
    void setFocusCueHidden(HeadlessWindow& w, bool hidden);
    void focus(HeadlessWindow* w);        // none: another program has it
    HeadlessWindow* focused = nullptr;

    // Virtual clock
    void advance(long long milliseconds);
    long long now() const { return now_; }

    // Records
    struct ProcessStart { std::string program, commandLine; int showState; };
    struct ShellCall { std::string verb, file, parameters, directory; int showCommand; };
    struct MessageBoxCall { std::string text, title; int style; };
    std::vector<ProcessStart> processStarts;
    std::vector<ShellCall> shellCalls;
    std::vector<MessageBoxCall> messageBoxes;
    std::function<void()> duringMessageBox; // runs while the box is "open"
    // When set, what a window measures for a text measured so at its DPI: a face of other
    // metrics, or one that does not scale exactly.
    std::function<SizePx(std::string_view text, SizePx measured, int dpi)> textSize;
    bool refuseProcessStarts = false;
    bool refuseWindows = false; // the system cannot make windows (out of resources)
    // The system directory's files, by name in any case; unset, it holds every file asked for.
    std::optional<std::set<std::string>> systemFiles;
    bool quitRequested = false;
    DevicePoint cursor;                      // on the screen

    // Internals used by HeadlessWindow.
    void forget(HeadlessWindow* w);
    HeadlessWindow* capture = nullptr;
    long long nextTimerOrder = 0;

private:
    void deliver(HeadlessWindow& top, MouseEvent::Kind kind, short button, short shift, DevicePoint p);
    ResourceLookup resources_;
    std::vector<HeadlessWindow*> windows_;
    long long now_ = 0;
    int nextDefaultPosition_ = 0;
};

} // namespace tk::headless
