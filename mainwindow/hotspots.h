// The hotspot catalogue of the main window's picture, in z-order, topmost first: the one place
// that says what each hotspot is. The window makes one image of its imgHotspot array per entry,
// named after `control`. Rectangles are twips relative to the inner top-left corner of the
// picture.
#pragma once
#include <array>
#include <string_view>

struct HotspotEntry {
    std::string_view control; // the image's name
    std::string_view title;   // its MouseMove shows this title in the strip...
    int iconIndex;            // ...with this imgIcons picture beside it
    int appletNumber;         // its Click starts this applet
    int left, top, width, height;
};

inline constexpr std::array<HotspotEntry, 13> Hotspots{{
    {"imgMouse",        "Mouse",              2,  8, 5760, 4200,  615,  375},
    {"imgClock",        "Date/Time",          9,  2, 5520,  600,  735, 2055},
    {"imgKeys",         "Passwords",          6, 11,  240, 4440,  855,  495},
    {"imgGlobe",        "Internet options",  12,  4,  180, 2760,  675, 1230},
    {"imgKeyboard",     "Keyboard",           5,  6, 1440, 4200, 3885,  480},
    {"imgHardDisk",     "Add/New Hardware",   4,  0, 4395, 3765,  675,  435},
    {"imgComputer",     "System Properites", 10, 14,  990, 3720, 4065,  555},
    {"imgDisplay",      "Display",           11,  3, 1920, 1200, 2295, 2295},
    {"imgRightSpeaker", "Multimedia",         3,  9, 4200, 1440,  780, 1830},
    {"imgModem",        "Modems",             1,  7, 4200, 3240,  735,  495},
    {"imgCDs",          "Add/New Programs",   8,  1, 4920, 3240,  735,  615},
    {"imgLeftSpeaker",  "Sounds",             7, 13, 1080, 1560,  735, 1695},
    {"imgMap",          "Regional Settings",  0, 12,  360,  240, 2535, 1575},
}};
