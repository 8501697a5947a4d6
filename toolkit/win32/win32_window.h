// One native window of the toolkit. The object is attached to its HWND at WM_NCCREATE and
// detached at WM_NCDESTROY, the window's last message, when the toolkit is told the window is
// gone and frees the object. Destroying the object destroys a window that still exists,
// silently.
// The toolkit sees logical (96-DPI) pixels only: the window maps its client area by the DPI
// of the monitor it is on, and lays itself out again when it moves to another.
#pragma once
#include "../backend.h"
#include "../display_scale.h"
#include "handles.h"
#include "win32_accessible.h"

namespace tk::win32 {

class Win32Backend;

class Win32Window final : public NativeWindow {
public:
    Win32Window(Win32Backend& backend, const WindowSpec& spec, WindowEvents& events);
    ~Win32Window() override;

    bool create() override;
    void show() override;
    void invalidate(RectPx r) override;
    void captureMouse() override;
    void releaseMouse() override;
    RectPx outerRect() const override;
    PointPx cursorPos() const override;
    void startTimer(int id, int milliseconds) override;
    void stopTimer(int id) override;
    void refreshToolTip() override;
    void focusMoved(int accessibleIndex) override;
    void accessibleChanged(AccessibleEvent e, int accessibleIndex) override;
    SizePx measureText(std::string_view text, const Font& font, int wrapWidth) override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void paintTo(HDC dc, const RECT& area);
    void mouse(MouseEvent::Kind kind, short button, WPARAM wp, LPARAM lp);
    bool setCursor();
    void uiState(WORD action, WORD flags);
    SIZE outerSize(DisplayScale scale) const; // the window whose client area is the design's
    void fitClientArea(const RECT* suggested);
    void rescale(int dpi, const RECT* suggested);
    PointPx cursorInClient() const;

    HWND hwnd() const { return window_.get(); }

    Win32Backend& backend_;
    WindowEvents* events_;
    WindowSpec spec_;
    UniqueWindow window_;
    DWORD style_ = 0, exStyle_ = 0;
    bool hasMenu_ = false;
    SizePx clientSize_;       // logical
    DisplayScale scale_;      // of the monitor the window is on
    HWND toolTip_ = nullptr; // owned by the window, destroyed with it
    bool shown_ = false;
    bool cueHidden_ = true; // the UI state's UISF_HIDEFOCUS, as this window last heard it
    AccessibleClient accessible_; // made at the first WM_GETOBJECT
};

} // namespace tk::win32
