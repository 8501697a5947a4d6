// Ownership of Windows handles in the type: a Unique* owns and frees, a raw handle borrows.
#pragma once
#include <windows.h>
#include <utility>

namespace tk::win32 {

template <typename H, auto Free>
class Unique {
public:
    Unique() = default;
    explicit Unique(H h) : h_(h) {}
    ~Unique() { reset(); }
    Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
    Unique& operator=(Unique&& o) noexcept
    {
        if (this != &o)
            reset(std::exchange(o.h_, H{}));
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    H get() const { return h_; }
    explicit operator bool() const { return h_ != H{}; }
    void reset(H h = H{})
    {
        if (h_)
            Free(h_);
        h_ = h;
    }
    H release() { return std::exchange(h_, H{}); } // someone else frees it now

private:
    H h_{};
};

inline void freeFont(HFONT h) { DeleteObject(h); }
inline void freeBitmap(HBITMAP h) { DeleteObject(h); }
inline void freePen(HPEN h) { DeleteObject(h); }
inline void freeIcon(HICON h) { DestroyIcon(h); } // and cursors
inline void freeDc(HDC h) { DeleteDC(h); }
inline void freeHandle(HANDLE h) { CloseHandle(h); }
inline void freeWindow(HWND h) { DestroyWindow(h); }
inline void freeMenu(HMENU h) { DestroyMenu(h); } // and its drop-down menus

// A COM object held by one reference of ours.
template <typename T> void releaseCom(T* p) { p->Release(); }
template <typename T> using ComRef = Unique<T*, releaseCom<T>>;

using UniqueFont = Unique<HFONT, freeFont>;
using UniqueBitmap = Unique<HBITMAP, freeBitmap>;
using UniquePen = Unique<HPEN, freePen>;
using UniqueIcon = Unique<HICON, freeIcon>;
using UniqueMemDc = Unique<HDC, freeDc>;
using UniqueHandle = Unique<HANDLE, freeHandle>;
using UniqueWindow = Unique<HWND, freeWindow>;
using UniqueMenu = Unique<HMENU, freeMenu>; // until a window or a parent menu takes it

// A DC borrowed from a window (GetDC) and given back on scope exit.
class WindowDc {
public:
    explicit WindowDc(HWND w) : w_(w), dc_(GetDC(w)) {}
    ~WindowDc() { ReleaseDC(w_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }
private:
    HWND w_;
    HDC dc_;
};

// BeginPaint/EndPaint as a scope.
class PaintScope {
public:
    explicit PaintScope(HWND w) : w_(w) { dc_ = BeginPaint(w, &ps_); }
    ~PaintScope() { EndPaint(w_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return dc_; }
    const RECT& area() const { return ps_.rcPaint; }
private:
    HWND w_;
    HDC dc_;
    PAINTSTRUCT ps_{};
};

// SelectObject undone on scope exit.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~SelectScope() { SelectObject(dc_, old_); }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;
private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace tk::win32
