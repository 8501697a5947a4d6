#include "win32_canvas.h"
#include "win32_backend.h"
#include "win32_picture.h"
#include "wide.h"
#include <algorithm>
#include <string>

namespace tk::win32 {

COLORREF resolveColor(Color c)
{
    return IsSystemColor(c) ? GetSysColor(int(c & 0xFF)) : COLORREF(c & 0x00FFFFFF);
}

RECT Win32Canvas::device(RectPx r) const
{
    const DeviceRect d = scale_.toDevice(origins_.empty() ? r : r.shifted(origins_.back()));
    return {d.left, d.top, d.right, d.bottom};
}

void Win32Canvas::fillDevice(const RECT& r, COLORREF c)
{
    SetDCBrushColor(dc_, c);
    FillRect(dc_, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void Win32Canvas::fill(RectPx r, Color c) { fillDevice(device(r), resolveColor(c)); }

void Win32Canvas::frame(RectPx r, Color c)
{
    // Four bands, each one logical pixel thick on the display.
    const COLORREF colour = resolveColor(c);
    fillDevice(device({r.left, r.top, r.right, r.top + 1}), colour);
    fillDevice(device({r.left, r.bottom - 1, r.right, r.bottom}), colour);
    fillDevice(device({r.left, r.top + 1, r.left + 1, r.bottom - 1}), colour);
    fillDevice(device({r.right - 1, r.top + 1, r.right, r.bottom - 1}), colour);
}

void Win32Canvas::sunkenEdge(RectPx r)
{
    // The system draws each of the edge's two borders one device pixel thick; on a denser
    // display each is drawn again, inside the last, until it is one logical pixel thick.
    RECT rc = device(r);
    const RECT inner = device({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1});
    const RECT core = device({r.left + 2, r.top + 2, r.right - 2, r.bottom - 2});
    auto rings = [&](UINT border, const RECT& until) {
        while (rc.left < until.left && rc.top < until.top && rc.right > rc.left && rc.bottom > rc.top) {
            DrawEdge(dc_, &rc, border, BF_RECT);
            InflateRect(&rc, -1, -1);
        }
    };
    rings(BDR_SUNKENOUTER, inner);
    rings(BDR_SUNKENINNER, core);
}

void Win32Canvas::line(PointPx from, PointPx to, Color c)
{
    const COLORREF colour = resolveColor(c);
    if (from.x == to.x || from.y == to.y) {
        // A row or column of logical pixels, end points included.
        fillDevice(device({std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x) + 1,
                           std::max(from.y, to.y) + 1}),
                   colour);
        return;
    }
    // A slanted line: a pen as wide as a logical pixel, through the pixels' centres.
    const RECT a = device({from.x, from.y, from.x + 1, from.y + 1}), b = device({to.x, to.y, to.x + 1, to.y + 1});
    const int width = a.right - a.left;
    UniquePen pen(width > 1 ? CreatePen(PS_SOLID, width, colour) : nullptr);
    SelectScope select(dc_, pen ? HGDIOBJ(pen.get()) : GetStockObject(DC_PEN));
    SetDCPenColor(dc_, colour);
    MoveToEx(dc_, (a.left + a.right) / 2, (a.top + a.bottom) / 2, nullptr);
    LineTo(dc_, (b.left + b.right) / 2, (b.top + b.bottom) / 2);
    if (width <= 1)
        SetPixel(dc_, b.left, b.top, colour); // LineTo leaves out the end point
    else
        fillDevice(b, colour);
}

void Win32Canvas::text(RectPx r, std::string_view s, const Font& f, Color c, Align a, bool wrap)
{
    SelectScope font(dc_, backend_.font(f, scale_.dpi()));
    SetTextColor(dc_, resolveColor(c));
    SetBkMode(dc_, TRANSPARENT);
    RECT rc = device(r);
    UINT format = DT_NOPREFIX | (wrap ? DT_WORDBREAK : DT_SINGLELINE);
    format |= a == Align::Center ? DT_CENTER : a == Align::Right ? DT_RIGHT : DT_LEFT;
    const Wide copy(s);
    DrawTextW(dc_, copy.c_str(), int(copy.size()), &rc, format);
}

void Win32Canvas::pushClip(RectPx r)
{
    const RECT rc = device(r);
    SaveDC(dc_);
    IntersectClipRect(dc_, rc.left, rc.top, rc.right, rc.bottom);
    const PointPx origin = origins_.empty() ? PointPx{} : origins_.back();
    origins_.push_back({origin.x + r.left, origin.y + r.top});
}

void Win32Canvas::popClip()
{
    RestoreDC(dc_, -1);
    origins_.pop_back();
}

void Win32Canvas::focusRect(RectPx r)
{
    // Its dots are the DC's text and background colours combined by XOR: black and white make
    // them invert what lies under them, as the system draws them, whatever text drew before.
    const RECT rc = device(r);
    SetTextColor(dc_, RGB(0, 0, 0));
    SetBkColor(dc_, RGB(255, 255, 255));
    DrawFocusRect(dc_, &rc);
}

void Win32Canvas::picture(const Picture& p, RectPx dest)
{
    const RECT rc = device(dest);
    static_cast<const Win32Picture&>(p).draw(dc_, {rc.left, rc.top, rc.right, rc.bottom}, scale_);
}

} // namespace tk::win32
