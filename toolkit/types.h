// Value types shared by the toolkit, its backends and the windows.
// Pixel types (PointPx, RectPx, SizePx) are device pixels; everything a window's code reads or
// sets on a control is in its container's scale (twips or pixels), held as float.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tk {

// 0x00BBGGRR, or 0x80000000 + n for the platform's system colour n.
using Color = std::uint32_t;

constexpr Color Rgb(int r, int g, int b)
{
    auto clamp = [](int v) { return static_cast<Color>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return clamp(r) | (clamp(g) << 8) | (clamp(b) << 16);
}
constexpr Color SystemColor(int index) { return 0x80000000u + static_cast<Color>(index); }
constexpr bool IsSystemColor(Color c) { return (c & 0x80000000u) != 0; }

namespace SysColor {
constexpr Color WindowFrame = SystemColor(6);
constexpr Color WindowText = SystemColor(8);
constexpr Color ButtonFace = SystemColor(15);
constexpr Color ButtonText = SystemColor(18);
}

struct PointPx {
    int x = 0, y = 0;
    friend bool operator==(const PointPx&, const PointPx&) = default;
};

struct SizePx {
    int cx = 0, cy = 0;
    friend bool operator==(const SizePx&, const SizePx&) = default;
};

struct RectPx {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(PointPx p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    RectPx inflated(int d) const { return {left - d, top - d, right + d, bottom + d}; }
    RectPx shifted(PointPx by) const { return {left + by.x, top + by.y, right + by.x, bottom + by.y}; }
    RectPx intersected(RectPx o) const
    {
        return {left > o.left ? left : o.left, top > o.top ? top : o.top, right < o.right ? right : o.right,
                bottom < o.bottom ? bottom : o.bottom};
    }
    friend bool operator==(const RectPx&, const RectPx&) = default;
};

struct Font {
    std::string_view face = "MS Sans Serif"; // constant text, as designs hold
    float points = 8.0f;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    friend bool operator==(const Font&, const Font&) = default;
};

enum class Align { Left, Right, Center };
enum class ScaleMode { Twips, Pixels };

// Mouse button and modifier bit sets, as the windows' handlers receive them.
namespace Button { constexpr short Left = 1, Right = 2, Middle = 4; }
namespace ShiftKey { constexpr short Shift = 1, Ctrl = 2, Alt = 4; }

// Keys the toolkit acts on (the platform's own virtual-key numbers).
namespace Key {
constexpr int Tab = 9, Enter = 13, Space = 32, End = 35, Home = 36, Left = 37, Up = 38, Right = 39, Down = 40;
}

// Window show states for process starts and shell calls (the platform's own numbers).
namespace ShowState { constexpr int Normal = 1, Show = 5; }

// Message box style bits used by the program (the platform's own numbers).
namespace MsgBoxStyle { constexpr int OkOnly = 0, Information = 64; }

} // namespace tk
