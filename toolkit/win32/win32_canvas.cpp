#include "win32_canvas.h"
#include "win32_backend.h"
#include "win32_picture.h"
#include <string>

namespace tk::win32 {

COLORREF resolveColor(Color c)
{
    return IsSystemColor(c) ? GetSysColor(int(c & 0xFF)) : COLORREF(c & 0x00FFFFFF);
}

namespace {
RECT toRect(RectPx r) { return {r.left, r.top, r.right, r.bottom}; }
}

void Win32Canvas::fill(RectPx r, Color c)
{
    const RECT rc = toRect(r);
    SetDCBrushColor(dc_, resolveColor(c));
    FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void Win32Canvas::frame(RectPx r, Color c)
{
    const RECT rc = toRect(r);
    SetDCBrushColor(dc_, resolveColor(c));
    FrameRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void Win32Canvas::sunkenEdge(RectPx r)
{
    RECT rc = toRect(r);
    DrawEdge(dc_, &rc, EDGE_SUNKEN, BF_RECT);
}

void Win32Canvas::line(PointPx from, PointPx to, Color c)
{
    SelectScope pen(dc_, GetStockObject(DC_PEN));
    SetDCPenColor(dc_, resolveColor(c));
    MoveToEx(dc_, from.x, from.y, nullptr);
    LineTo(dc_, to.x, to.y);
    SetPixel(dc_, to.x, to.y, resolveColor(c)); // LineTo leaves out the end point
}

void Win32Canvas::text(RectPx r, std::string_view s, const Font& f, Color c, Align a, bool wrap)
{
    SelectScope font(dc_, backend_.font(f));
    SetTextColor(dc_, resolveColor(c));
    SetBkMode(dc_, TRANSPARENT);
    RECT rc = toRect(r);
    UINT format = DT_NOPREFIX | (wrap ? DT_WORDBREAK : DT_SINGLELINE);
    format |= a == Align::Center ? DT_CENTER : a == Align::Right ? DT_RIGHT : DT_LEFT;
    const std::string copy(s);
    DrawTextA(dc_, copy.c_str(), int(copy.size()), &rc, format);
}

void Win32Canvas::pushClip(RectPx r)
{
    SaveDC(dc_);
    IntersectClipRect(dc_, r.left, r.top, r.right, r.bottom);
    OffsetViewportOrgEx(dc_, r.left, r.top, nullptr);
}

void Win32Canvas::popClip() { RestoreDC(dc_, -1); }

void Win32Canvas::focusRect(RectPx r)
{
    // Its dots are the DC's text and background colours combined by XOR: black and white make
    // them invert what lies under them, as the system draws them, whatever text drew before.
    const RECT rc = toRect(r);
    SetTextColor(dc_, RGB(0, 0, 0));
    SetBkColor(dc_, RGB(255, 255, 255));
    DrawFocusRect(dc_, &rc);
}

void Win32Canvas::picture(const Picture& p, RectPx dest)
{
    static_cast<const Win32Picture&>(p).draw(dc_, dest);
}

} // namespace tk::win32
