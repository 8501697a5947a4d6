// "major.mm.rrrr": minor at least two digits, revision at least four, padded with zeros on the
// left and never cut.
#pragma once
#include <string>

inline std::string PadNumber(int n, std::size_t digits)
{
    const std::string body = std::to_string(n < 0 ? -static_cast<long>(n) : n);
    const std::string padded = body.size() < digits ? std::string(digits - body.size(), '0') + body : body;
    return n < 0 ? "-" + padded : padded;
}

inline std::string VersionText(int major, int minor, int revision)
{
    return std::to_string(major) + "." + PadNumber(minor, 2) + "." + PadNumber(revision, 4);
}
