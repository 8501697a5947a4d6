// Value types shared by the toolkit, its backends and the windows. What a window's code reads or
// sets on a control is in its container's scale (twips or logical pixels), held as float.
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

// Pixel geometry carries its space in its type: logical pixels (PointPx, SizePx, RectPx) are the
// design's 96-DPI pixels, 15 twips each, which the toolkit, the windows and the backend
// interface speak; device pixels (DevicePoint, DeviceSize, DeviceRect) are a display's, and
// live inside a backend only. DisplayScale (display_scale.h) is the one way between them.
struct LogicalSpace;
struct DeviceSpace;

template <typename Space> struct BasicPoint {
    int x = 0, y = 0;
    friend bool operator==(const BasicPoint&, const BasicPoint&) = default;
};

template <typename Space> struct BasicSize {
    int cx = 0, cy = 0;
    friend bool operator==(const BasicSize&, const BasicSize&) = default;
};

template <typename Space> struct BasicRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(BasicPoint<Space> p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    BasicRect inflated(int d) const { return {left - d, top - d, right + d, bottom + d}; }
    BasicRect shifted(BasicPoint<Space> by) const { return {left + by.x, top + by.y, right + by.x, bottom + by.y}; }
    BasicRect intersected(BasicRect o) const
    {
        return {left > o.left ? left : o.left, top > o.top ? top : o.top, right < o.right ? right : o.right,
                bottom < o.bottom ? bottom : o.bottom};
    }
    friend bool operator==(const BasicRect&, const BasicRect&) = default;
};

using PointPx = BasicPoint<LogicalSpace>;
using SizePx = BasicSize<LogicalSpace>;
using RectPx = BasicRect<LogicalSpace>;
using DevicePoint = BasicPoint<DeviceSpace>;
using DeviceSize = BasicSize<DeviceSpace>;
using DeviceRect = BasicRect<DeviceSpace>;

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
