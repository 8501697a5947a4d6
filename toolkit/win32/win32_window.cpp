#include "win32_window.h"
#include "win32_backend.h"
#include "win32_canvas.h"
#include "wide.h"
#include <commctrl.h>
#include <windowsx.h>
#include <algorithm>
#include <string>

namespace tk::win32 {

namespace {

constexpr std::string_view kWindowClass = "TkForm"; // the toolkit's, whatever program it serves
constexpr UINT kGetDpiScaledSize = 0x02E4; // WM_GETDPISCALEDSIZE, Windows 10 1703 on

// A window's class, registered at first use: one per icon (0: none). Windows take their icons
// from their class: the system then takes them up once, as it makes the window, where each
// WM_SETICON afterwards has them converted again (under Wine about 4 ms for the two sizes).
// They are made for the primary display's DPI; a window on another display sets its own.
Wide classFor(Win32Backend& backend, WNDPROC proc, int iconResource)
{
    HINSTANCE instance = backend.instance();
    const Wide name(std::string(kWindowClass) + (iconResource ? "." + std::to_string(iconResource) : ""));
    WNDCLASSEXW known{};
    known.cbSize = sizeof(known);
    if (GetClassInfoExW(instance, name.c_str(), &known))
        return name;
    auto icon = [&](bool small) { return iconResource ? backend.icon(iconResource, small, backend.systemDpi()) : nullptr; };
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = icon(false);
    wc.hIconSm = icon(true);
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name.c_str();
    RegisterClassExW(&wc);
    return name;
}

struct Styles {
    DWORD style, exStyle;
};

Styles stylesFor(const WindowSpec& spec)
{
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    DWORD ex = 0;
    if (spec.minimizeBox)
        style |= WS_MINIMIZEBOX;
    if (spec.frame == Frame::FixedToolWindow)
        ex |= WS_EX_TOOLWINDOW;
    else if (spec.showInTaskbar)
        ex |= WS_EX_APPWINDOW;
    return {style, ex};
}

// The window the user is working in, when it is one of ours and on show.
HWND activeWindow()
{
    const HWND active = GetActiveWindow();
    return active && IsWindowVisible(active) && !IsIconic(active) ? active : nullptr;
}

// Centred over the active window, else over the work area, of the monitor that window is on
// (the one holding the pointer when there is none), and kept inside that work area.
POINT centredPosition(SIZE outer, HWND active)
{
    const HMONITOR monitor = active ? MonitorFromWindow(active, MONITOR_DEFAULTTONEAREST)
                                    : MonitorFromPoint(screenCursorPos(), MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    RECT area{};
    if (GetMonitorInfoW(monitor, &info))
        area = info.rcWork;
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT over = area;
    if (active)
        GetWindowRect(active, &over);
    LONG x = over.left + (over.right - over.left - outer.cx) / 2;
    LONG y = over.top + (over.bottom - over.top - outer.cy) / 2;
    x = std::max(area.left, std::min(x, area.right - outer.cx));
    y = std::max(area.top, std::min(y, area.bottom - outer.cy));
    return {x, y};
}

short shiftState(WPARAM wp)
{
    short s = 0;
    if (wp & MK_SHIFT)
        s |= ShiftKey::Shift;
    if (wp & MK_CONTROL)
        s |= ShiftKey::Ctrl;
    if (GetKeyState(VK_MENU) < 0)
        s |= ShiftKey::Alt;
    return s;
}

short keyShift()
{
    short s = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        s |= ShiftKey::Shift;
    if (GetKeyState(VK_CONTROL) < 0)
        s |= ShiftKey::Ctrl;
    if (GetKeyState(VK_MENU) < 0)
        s |= ShiftKey::Alt;
    return s;
}

short buttonsHeld(WPARAM wp)
{
    short b = 0;
    if (wp & MK_LBUTTON)
        b |= Button::Left;
    if (wp & MK_RBUTTON)
        b |= Button::Right;
    if (wp & MK_MBUTTON)
        b |= Button::Middle;
    return b;
}

} // namespace

Win32Window::Win32Window(Win32Backend& backend, const WindowSpec& spec, WindowEvents& events)
    : backend_(backend), events_(&events), spec_(spec), clientSize_(spec.clientSize),
      scale_(backend.systemDpi())
{
    const Styles st = stylesFor(spec);
    style_ = st.style;
    exStyle_ = st.exStyle;
    hasMenu_ = !spec.menu.empty();
}

bool Win32Window::create()
{
    UniqueMenu menu;
    if (hasMenu_) {
        menu.reset(CreateMenu());
        auto fill = [](auto& self, HMENU into, const std::vector<MenuSpec>& items) -> void {
            for (const MenuSpec& m : items) {
                if (m.caption == "-") {
                    AppendMenuW(into, MF_SEPARATOR, 0, nullptr);
                } else if (!m.items.empty()) {
                    UniqueMenu popup(CreatePopupMenu());
                    self(self, popup.get(), m.items);
                    if (AppendMenuW(into, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup.get()), wide(m.caption).c_str()))
                        popup.release(); // the parent menu destroys it
                } else {
                    AppendMenuW(into, MF_STRING, UINT_PTR(m.id), wide(m.caption).c_str());
                }
            }
        };
        fill(fill, menu.get(), spec_.menu);
    }

    // A window placed over the active one opens on that one's monitor: sized for its DPI.
    const HWND over = spec_.placement == Placement::CenterActive ? activeWindow() : nullptr;
    if (over)
        scale_ = DisplayScale(backend_.windowDpi(over));
    const SIZE outer = outerSize(scale_);
    const POINT pos = spec_.placement == Placement::CenterActive ? centredPosition(outer, over)
                                                                 : POINT{CW_USEDEFAULT, CW_USEDEFAULT};
    const Wide windowClass = classFor(backend_, windowProc, spec_.iconResource);
    CreateWindowExW(exStyle_, windowClass.c_str(), wide(spec_.caption).c_str(), style_, pos.x, pos.y,
                    outer.cx, outer.cy, nullptr, menu.get(), backend_.instance(), this);
    if (!hwnd())
        return false; // the menu is still ours, and goes
    menu.release(); // the window destroys it

    // Made on a monitor of another DPI than the primary one: laid out for that one.
    if (const int dpi = backend_.windowDpi(hwnd()); dpi != scale_.dpi())
        rescale(dpi, nullptr);
    else
        fitClientArea(nullptr);

    // Focus cues start hidden unless the user asked to see them always.
    BOOL cues = FALSE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    if (cues)
        uiState(UIS_CLEAR, UISF_HIDEFOCUS);
    return true;
}

Win32Window::~Win32Window()
{
    accessible_.disconnect();
    if (!window_)
        return;
    events_ = nullptr; // the toolkit destroys us: it needs no news of it
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
}

void Win32Window::show()
{
    if (!hwnd())
        return;
    if (!shown_ || !IsWindowVisible(hwnd())) {
        ShowWindow(hwnd(), SW_SHOWNORMAL);
        shown_ = true;
    } else if (IsIconic(hwnd())) {
        ShowWindow(hwnd(), SW_RESTORE);
    }
    // Painted before it is brought forward: a window just shown is already active, and under
    // Wine asking again costs the first paint some 1.5 ms of round trips.
    UpdateWindow(hwnd());
    if (GetForegroundWindow() != hwnd()) {
        SetForegroundWindow(hwnd());
        BringWindowToTop(hwnd());
    }
}

// Sizes the window so that its client area is the design's at the current scale, at the
// suggested place when the system gives one.
SIZE Win32Window::outerSize(DisplayScale scale) const
{
    const DeviceSize client = scale.toDevice(clientSize_);
    RECT r{0, 0, client.cx, client.cy};
    backend_.adjustWindowRect(r, style_, hasMenu_, exStyle_, scale.dpi());
    return {r.right - r.left, r.bottom - r.top};
}

void Win32Window::fitClientArea(const RECT* suggested)
{
    const DeviceSize client = scale_.toDevice(clientSize_);
    const SIZE outer = outerSize(scale_);
    if (suggested) {
        SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        RECT now{};
        GetWindowRect(hwnd(), &now);
        if (now.right - now.left != outer.cx || now.bottom - now.top != outer.cy)
            SetWindowPos(hwnd(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // A menu bar that wraps takes client height, and a suggested size may be off by a pixel:
    // correct the window until the client area fits.
    RECT now{}, got{};
    GetWindowRect(hwnd(), &now);
    GetClientRect(hwnd(), &got);
    const int wider = client.cx - got.right, taller = client.cy - got.bottom;
    if (wider != 0 || taller != 0)
        SetWindowPos(hwnd(), nullptr, 0, 0, now.right - now.left + wider, now.bottom - now.top + taller,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// On a monitor of another DPI: the same design at the new scale, where the system suggests.
// Pictures and fonts for the new scale are made at the next paint.
void Win32Window::rescale(int dpi, const RECT* suggested)
{
    scale_ = DisplayScale(dpi);
    fitClientArea(suggested);
    if (const int icon = spec_.iconResource) {
        SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(backend_.icon(icon, true, dpi)));
        SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(backend_.icon(icon, false, dpi)));
    }
    if (events_)
        events_->scaleChanged();
    InvalidateRect(hwnd(), nullptr, FALSE);
}

SizePx Win32Window::measureText(std::string_view text, const Font& font, int wrapWidth)
{
    return backend_.measureText(text, font, wrapWidth, scale_.dpi());
}

PointPx Win32Window::cursorInClient() const
{
    POINT p = screenCursorPos();
    ScreenToClient(hwnd(), &p);
    return scale_.toLogical(DevicePoint{p.x, p.y});
}

void Win32Window::invalidate(RectPx r)
{
    if (!hwnd())
        return;
    const DeviceRect d = scale_.toDevice(r);
    const RECT rc{d.left, d.top, d.right, d.bottom};
    InvalidateRect(hwnd(), &rc, FALSE);
}

void Win32Window::captureMouse()
{
    if (hwnd())
        SetCapture(hwnd());
}

void Win32Window::releaseMouse()
{
    if (hwnd() && GetCapture() == hwnd())
        ReleaseCapture();
}

// Per-monitor aware, the system speaks screen device pixels: mapped by this window's scale.
RectPx Win32Window::outerRect() const
{
    RECT r{};
    if (hwnd())
        GetWindowRect(hwnd(), &r);
    return scale_.toLogical(DeviceRect{r.left, r.top, r.right, r.bottom});
}

PointPx Win32Window::cursorPos() const
{
    const POINT p = screenCursorPos();
    return scale_.toLogical(DevicePoint{p.x, p.y});
}

void Win32Window::startTimer(int id, int milliseconds)
{
    if (hwnd())
        SetTimer(hwnd(), UINT_PTR(id), UINT(milliseconds), nullptr);
}

void Win32Window::stopTimer(int id)
{
    if (hwnd())
        KillTimer(hwnd(), UINT_PTR(id));
}

void Win32Window::refreshToolTip()
{
    if (!hwnd())
        return;
    if (!toolTip_) {
        if (events_->toolTipAt(cursorInClient()).empty())
            return; // created on first need: most windows never show one
        backend_.loadCommonControls();
        toolTip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                                   backend_.instance(), nullptr);
        TOOLINFOW ti{};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd();
        ti.uId = reinterpret_cast<UINT_PTR>(hwnd());
        ti.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    // The whole window is one tool whose text depends on the control under the pointer:
    // restarting the tool makes it wait and ask again for the new control.
    SendMessageW(toolTip_, TTM_ACTIVATE, FALSE, 0);
    SendMessageW(toolTip_, TTM_ACTIVATE, TRUE, 0);
}

void Win32Window::accessibleChanged(AccessibleEvent e, int accessibleIndex)
{
    DWORD event = EVENT_OBJECT_LOCATIONCHANGE;
    switch (e) {
    case AccessibleEvent::Show: event = EVENT_OBJECT_SHOW; break;
    case AccessibleEvent::Hide: event = EVENT_OBJECT_HIDE; break;
    case AccessibleEvent::NameChange: event = EVENT_OBJECT_NAMECHANGE; break;
    case AccessibleEvent::LocationChange: break;
    }
    // Costs nothing when no one listens.
    if (hwnd())
        NotifyWinEvent(event, hwnd(), OBJID_CLIENT, accessibleIndex + 1);
}

void Win32Window::focusMoved(int accessibleIndex)
{
    // Costs nothing when no one listens; a reader listening announces the item's name.
    if (hwnd())
        NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd(), OBJID_CLIENT, accessibleIndex + 1);
}

void Win32Window::uiState(WORD action, WORD flags)
{
    if (!(flags & UISF_HIDEFOCUS) || (action != UIS_SET && action != UIS_CLEAR))
        return;
    const bool hidden = action == UIS_SET;
    if (hidden == cueHidden_)
        return;
    cueHidden_ = hidden;
    if (events_)
        events_->focusCue(!hidden);
}

void Win32Window::paintTo(HDC dc, const RECT& area)
{
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0)
        return;
    // Drawn off screen first so hover changes never flicker.
    UniqueMemDc mem(CreateCompatibleDC(dc));
    UniqueBitmap buffer(CreateCompatibleBitmap(dc, w, h));
    SelectScope select(mem.get(), buffer.get());
    IntersectClipRect(mem.get(), area.left, area.top, area.right, area.bottom);
    Win32Canvas canvas(mem.get(), backend_, scale_);
    events_->paint(canvas);
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, mem.get(), area.left, area.top,
           SRCCOPY);
}

void Win32Window::mouse(MouseEvent::Kind kind, short button, WPARAM wp, LPARAM lp)
{
    MouseEvent e;
    e.kind = kind;
    e.button = kind == MouseEvent::Kind::Move ? buttonsHeld(wp) : button;
    e.shift = shiftState(wp);
    e.pos = scale_.toLogical(DevicePoint{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
    events_->mouse(e);
}

bool Win32Window::setCursor()
{
    const int id = events_->cursorAt(cursorInClient());
    if (!id)
        return false;
    SetCursor(backend_.cursor(id, scale_.dpi()));
    return true;
}

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto* created = reinterpret_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        created->window_.reset(hwnd); // ours until WM_NCDESTROY
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->events_)
        return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

LRESULT Win32Window::handle(UINT msg, WPARAM wp, LPARAM lp)
{
    using Kind = MouseEvent::Kind;
    switch (msg) {
    case WM_PAINT: {
        PaintScope ps(hwnd());
        paintTo(ps.dc(), ps.area());
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(hwnd(), &client);
        paintTo(reinterpret_cast<HDC>(wp), client);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE: mouse(Kind::Move, 0, wp, lp); return 0;
    case WM_LBUTTONDOWN: mouse(Kind::Down, Button::Left, wp, lp); return 0;
    case WM_RBUTTONDOWN: mouse(Kind::Down, Button::Right, wp, lp); return 0;
    case WM_MBUTTONDOWN: mouse(Kind::Down, Button::Middle, wp, lp); return 0;
    case WM_LBUTTONDBLCLK: mouse(Kind::DoubleClick, Button::Left, wp, lp); return 0;
    case WM_RBUTTONDBLCLK: mouse(Kind::DoubleClick, Button::Right, wp, lp); return 0;
    case WM_MBUTTONDBLCLK: mouse(Kind::DoubleClick, Button::Middle, wp, lp); return 0;
    case WM_LBUTTONUP: mouse(Kind::Up, Button::Left, wp, lp); return 0;
    case WM_RBUTTONUP: mouse(Kind::Up, Button::Right, wp, lp); return 0;
    case WM_MBUTTONUP: mouse(Kind::Up, Button::Middle, wp, lp); return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lp) != hwnd())
            events_->mouse({Kind::CaptureLost, 0, 0, {}});
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT && reinterpret_cast<HWND>(wp) == hwnd() && setCursor())
            return TRUE;
        break;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        if (hdr->hwndFrom == toolTip_ && hdr->code == TTN_GETDISPINFOW) {
            static Wide text(""); // the tool tip copies it before the next request
            text = wide(events_->toolTipAt(cursorInClient()));
            reinterpret_cast<NMTTDISPINFOW*>(lp)->lpszText = text.data();
            return 0;
        }
        break;
    }
    case WM_KEYDOWN:
    case WM_KEYUP: {
        // The keyboard is in use here: focus cues show from now on, as dialogs do it. Told to
        // the system for its own state, and applied here in case it had them shown already.
        if (msg == WM_KEYDOWN && cueHidden_) {
            SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            uiState(UIS_CLEAR, UISF_HIDEFOCUS);
        }
        const bool repeat = msg == WM_KEYDOWN && (lp & (1 << 30)) != 0; // was down already
        events_->key({msg == WM_KEYDOWN, int(wp), keyShift(), repeat});
        return 0;
    }
    case WM_UPDATEUISTATE:
        uiState(LOWORD(wp), HIWORD(wp));
        break; // the system keeps its own record too
    case WM_SETFOCUS:
        events_->focus(true);
        return 0;
    case WM_KILLFOCUS:
        events_->focus(false);
        return 0;
    case WM_GETOBJECT:
        // Only the client area is ours to describe; oleacc is loaded at the first question.
        if (DWORD(lp) == DWORD(OBJID_CLIENT))
            if (const AccessibilityApi* api = backend_.accessibility())
                if (const LRESULT r = accessible_.answer(*api, hwnd(), *events_, scale_, wp))
                    return r;
        break;
    case WM_TIMER:
        events_->timer(int(wp));
        return 0;
    case WM_DPICHANGED:
        rescale(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_COMMAND:
        if (HIWORD(wp) == 0 && lp == 0) {
            events_->menuCommand(LOWORD(wp));
            return 0;
        }
        break;
    case kGetDpiScaledSize: {
        // About to move to a monitor of another DPI: the size it will want there, so that the
        // system suggests the right one with WM_DPICHANGED.
        *reinterpret_cast<SIZE*>(lp) = outerSize(DisplayScale(int(LOWORD(wp))));
        return TRUE;
    }
    case kDefaultActionMessage:
        events_->accessibleAction(int(wp));
        return 0;
    case WM_NCDESTROY: {
        // The last message: detach, let the system finish, then tell the toolkit, which frees
        // this object. Nothing of it is touched after that.
        WindowEvents* events = events_;
        const HWND window = window_.release(); // the system is destroying it
        accessible_.disconnect();
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        const LRESULT result = DefWindowProcW(window, msg, wp, lp);
        events->destroyed();
        return result;
    }
    }
    return DefWindowProcW(hwnd(), msg, wp, lp);
}

} // namespace tk::win32
