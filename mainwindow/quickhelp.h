// The quick help note: six lines joined by CR LF, none after the last.
#pragma once
#include <array>
#include <string>
#include <string_view>

inline constexpr std::array<std::string_view, 6> QuickHelpLines{
    "Place the mouse over parts of the picture",
    "When the mouse is over a hotspot,",
    "a title of the item will be displayed",
    " at the bottom of the window.",
    "If this is the item you want",
    "simple click it once.",
};

inline std::string QuickHelpText()
{
    std::string text(QuickHelpLines[0]);
    for (std::size_t i = 1; i < QuickHelpLines.size(); ++i)
        text.append("\r\n").append(QuickHelpLines[i]);
    return text;
}
