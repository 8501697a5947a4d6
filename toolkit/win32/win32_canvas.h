// The toolkit's drawing API over one GDI device context. All drawing of the program goes
// through here; it selects and restores everything it uses and creates no lasting objects
// (fonts come from the backend's cache, brushes and pens are the DC colour objects).
#pragma once
#include "../backend.h"
#include "handles.h"

namespace tk::win32 {

class Win32Backend;

COLORREF resolveColor(Color c);

class Win32Canvas final : public Canvas {
public:
    Win32Canvas(HDC dc, Win32Backend& backend) : dc_(dc), backend_(backend) {}
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
    HDC dc_;
    Win32Backend& backend_;
};

} // namespace tk::win32
