// The toolkit's drawing API over one GDI device context. Calls come in the window's logical
// pixels; each edge is mapped to the device by the window's display scale, counted from the
// client area's corner, so what shares an edge in the design shares it on the display.
// It selects and restores everything it uses and creates no lasting objects (fonts come from
// the backend's cache, brushes and pens are the DC colour objects).
#pragma once
#include "../backend.h"
#include "../display_scale.h"
#include "handles.h"
#include <vector>

namespace tk::win32 {

class Win32Backend;

COLORREF resolveColor(Color c);

class Win32Canvas final : public Canvas {
public:
    Win32Canvas(HDC dc, Win32Backend& backend, DisplayScale scale) : dc_(dc), backend_(backend), scale_(scale) {}
    void fill(RectPx r, Color c) override;
    void frame(RectPx r, Color c) override;
    void sunkenEdge(RectPx r) override;
    void line(PointPx from, PointPx to, Color c) override;
    void text(RectPx r, std::string_view s, const Font& f, Color c, Align a, bool wrap) override;
    void picture(const Picture& p, RectPx dest) override;
    void pushClip(RectPx r) override;
    void popClip() override;
    void focusRect(RectPx r) override;

private:
    RECT device(RectPx r) const; // r, relative to the innermost clip, in client device pixels
    void fillDevice(const RECT& r, COLORREF c);

    HDC dc_;
    Win32Backend& backend_;
    DisplayScale scale_;
    std::vector<PointPx> origins_; // logical top-left corner of each clip pushed
};

} // namespace tk::win32
