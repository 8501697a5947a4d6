// Text crosses into Win32 here: the toolkit's strings are UTF-8, the system's W calls take
// UTF-16. Only what the shell is handed (ShellExecuteA, the runner's command line) stays ANSI.
#pragma once
#include <windows.h>
#include <string_view>
#include <vector>

namespace tk::win32 {

// A UTF-16 copy for one call, terminated. A vector rather than std::wstring: the program
// needs nothing else of wide strings, and their library code would add some 15 KB.
class Wide {
public:
    explicit Wide(std::string_view utf8)
    {
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
        text_.resize(std::size_t(n > 0 ? n : 0) + 1);
        if (n > 0)
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text_.data(), n);
    }
    const wchar_t* c_str() const { return text_.data(); }
    wchar_t* data() { return text_.data(); }
    int size() const { return int(text_.size()) - 1; }

private:
    std::vector<wchar_t> text_;
};

inline Wide wide(std::string_view utf8) { return Wide(utf8); }

} // namespace tk::win32
