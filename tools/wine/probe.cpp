// wprobe: looks at windows from outside, the way the end-to-end tests need it.
// It runs under Wine in the same prefix (same wineserver) as the program under
// test and prints JSON on stdout. Exit status: 0 success, 1 condition not met
// before the timeout (or no such window), 2 usage error.
//
//   wprobe windows                         visible top-level windows
//   wprobe wait <caption> <seconds> [pid]  wait for a visible top-level window
//   wprobe gone <caption> <seconds> [pid]  wait until no such window is left
//   wprobe front <caption> <seconds> [pid] wait until such a window is the
//                                          foreground window (has the keyboard)
//   wprobe info <hwnd>                     one window, visible or not
//   wprobe children <hwnd>                 all descendants with class and text
//   wprobe click-button <hwnd> <text>      BM_CLICK the descendant button
//   wprobe close <hwnd>                    post WM_CLOSE
//   wprobe cursor                          GetCursorPos
//   wprobe foreground                      the foreground window
//   wprobe screen                          screen and desktop metrics
//   wprobe font <face> <height> [weight] [italic]
//                                          what face GDI really picks
//   wprobe text <face> <height> <weight> <text> [italic] [underline]
//                                          one line of black text as GDI draws it
//                                          on white: each row's darkness, two hex
//                                          digits a pixel
//   wprobe process <pid>                   a live process's start parameters
//   wprobe terminate <pid>                 end one process by its Windows pid
//   wprobe dpi-changed <hwnd> <dpi> <left> <top> <right> <bottom>
//                                          send WM_DPICHANGED with that suggested
//                                          window rectangle, as when the window
//                                          moves to a monitor of another DPI
//   wprobe serve                           the commands above from stdin, one a
//                                          line, arguments separated by tabs;
//                                          each answered with one line: the
//                                          exit status, a tab, the JSON
//
// Window handles are printed and read as decimal integers. Another process's
// menus cannot be read under Wine, so nothing here tries.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8JsonString(const std::wstring& s) {
    std::string out = "\"";
    for (wchar_t wc : s) {
        auto c = static_cast<unsigned>(wc);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c > 0x7e) {
            // UTF-16 code units as \u escapes keep the output pure ASCII,
            // whatever the console code page is.
            static const char hex[] = "0123456789abcdef";
            out += "\\u";
            out += hex[(c >> 12) & 15];
            out += hex[(c >> 8) & 15];
            out += hex[(c >> 4) & 15];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += "\"";
    return out;
}

std::wstring Widen(const char* s) {
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
    w.resize(static_cast<size_t>(n - 1));
    return w;
}

std::string Num(long long v) { return std::to_string(v); }

std::string Handle(HWND h) {
    return Num(static_cast<long long>(reinterpret_cast<uintptr_t>(h)));
}

bool ParseInt(const char* s, long long& v) {
    char* end = nullptr;
    v = std::strtoll(s, &end, 0);
    return end && end != s && *end == '\0';
}

HWND ParseHandle(const char* s) {
    long long v = 0;
    if (!ParseInt(s, v)) return nullptr;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
}

std::string RectJson(const RECT& r) {
    return "{\"left\":" + Num(r.left) + ",\"top\":" + Num(r.top) + ",\"right\":" + Num(r.right) +
           ",\"bottom\":" + Num(r.bottom) + ",\"width\":" + Num(r.right - r.left) +
           ",\"height\":" + Num(r.bottom - r.top) + "}";
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {};
    int n = GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Top-level captions are kept by the window manager side and need no
// message; GetWindowText never blocks on a hung program.
std::wstring CaptionOf(HWND h) {
    wchar_t buf[1024] = {};
    int n = GetWindowTextW(h, buf, 1024);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Child control text (a message box's static, for one) is only reachable
// with WM_GETTEXT, which Wine marshals across processes. Bounded, so a hung
// program cannot hang the probe.
std::wstring TextOf(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) {
        return CaptionOf(h);
    }
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, static_cast<WPARAM>(buf.size()),
                             reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 2000,
                             &got)) {
        return CaptionOf(h);
    }
    if (got > len + 1) got = len + 1;
    return std::wstring(buf.data(), static_cast<size_t>(got));
}

std::string WindowJson(HWND h, bool child) {
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(h, &pid);
    RECT wr{};
    GetWindowRect(h, &wr);
    RECT cr{};
    GetClientRect(h, &cr);
    POINT tl{cr.left, cr.top};
    POINT br{cr.right, cr.bottom};
    ClientToScreen(h, &tl);
    ClientToScreen(h, &br);
    RECT crs{tl.x, tl.y, br.x, br.y};
    auto style = static_cast<unsigned long>(GetWindowLongW(h, GWL_STYLE));
    auto exstyle = static_cast<unsigned long>(GetWindowLongW(h, GWL_EXSTYLE));
    std::string j = "{\"hwnd\":" + Handle(h);
    j += ",\"pid\":" + Num(pid) + ",\"tid\":" + Num(tid);
    j += ",\"class\":" + Utf8JsonString(ClassOf(h));
    if (child) {
        j += ",\"text\":" + Utf8JsonString(TextOf(h));
        j += ",\"parent\":" + Handle(GetParent(h));
        j += ",\"id\":" + Num(GetDlgCtrlID(h));
    } else {
        j += ",\"caption\":" + Utf8JsonString(CaptionOf(h));
        HMENU menu = GetMenu(h);
        j += ",\"has_menu\":" + std::string(menu ? "true" : "false");
        j += ",\"owner\":" + Handle(GetWindow(h, GW_OWNER));
        j += ",\"foreground\":" + std::string(GetForegroundWindow() == h ? "true" : "false");
    }
    j += ",\"style\":" + Num(style) + ",\"exstyle\":" + Num(exstyle);
    j += ",\"visible\":" + std::string(IsWindowVisible(h) ? "true" : "false");
    j += ",\"enabled\":" + std::string(IsWindowEnabled(h) ? "true" : "false");
    j += ",\"iconic\":" + std::string(IsIconic(h) ? "true" : "false");
    j += ",\"zoomed\":" + std::string(IsZoomed(h) ? "true" : "false");
    j += ",\"rect\":" + RectJson(wr) + ",\"client\":" + RectJson(crs) + "}";
    return j;
}

std::vector<HWND> TopLevel() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> shown;
    for (HWND h : all) {
        if (IsWindowVisible(h)) shown.push_back(h);
    }
    return shown;
}

std::vector<HWND> Matching(const std::wstring& caption, long long pid) {
    std::vector<HWND> found;
    for (HWND h : TopLevel()) {
        if (CaptionOf(h) != caption) continue;
        if (pid > 0) {
            DWORD p = 0;
            GetWindowThreadProcessId(h, &p);
            if (static_cast<long long>(p) != pid) continue;
        }
        found.push_back(h);
    }
    return found;
}

// While serving, the one line a command prints is kept here for its answer.
std::string* g_answer = nullptr;

void Print(const std::string& s) {
    if (g_answer) {
        *g_answer += s;
        return;
    }
    std::string line = s + "\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Usage() {
    Print("{\"error\":\"usage: wprobe windows|wait|gone|front|info|children|click-button|close|"
          "cursor|foreground|screen|font|text|process|terminate|dpi-changed|serve ...\"}");
    return 2;
}

bool Seconds(const char* s, DWORD& ms) {
    char* end = nullptr;
    double v = std::strtod(s, &end);
    if (!end || end == s || *end != '\0' || v < 0 || v > 3600) return false;
    ms = static_cast<DWORD>(v * 1000.0);
    return true;
}

int CmdWindows() {
    std::string j = "[";
    bool first = true;
    for (HWND h : TopLevel()) {
        if (!first) j += ",";
        first = false;
        j += WindowJson(h, false);
    }
    Print(j + "]");
    return 0;
}

enum class Until { Shown, Gone, Front };

int CmdWait(int argc, char** argv, Until until) {
    if (argc < 4) return Usage();
    std::wstring caption = Widen(argv[2]);
    DWORD ms = 0;
    if (!Seconds(argv[3], ms)) return Usage();
    long long pid = 0;
    if (argc >= 5 && !ParseInt(argv[4], pid)) return Usage();
    DWORD start = GetTickCount();
    for (;;) {
        auto found = Matching(caption, pid);
        if (until == Until::Shown && !found.empty()) {
            Print(WindowJson(found.front(), false));
            return 0;
        }
        if (until == Until::Gone && found.empty()) {
            Print("{\"gone\":true}");
            return 0;
        }
        if (until == Until::Front) {
            // Keys go to the foreground window's thread, whatever X says has the focus.
            HWND front = GetForegroundWindow();
            for (HWND h : found) {
                if (h == front) {
                    Print(WindowJson(h, false));
                    return 0;
                }
            }
        }
        if (GetTickCount() - start >= ms) break;
        Sleep(20);
    }
    Print(until == Until::Gone ? "{\"gone\":false}" : "null");
    return 1;
}

int CmdInfo(int argc, char** argv) {
    if (argc < 3) return Usage();
    HWND h = ParseHandle(argv[2]);
    if (!h || !IsWindow(h)) {
        Print("null");
        return 1;
    }
    Print(WindowJson(h, GetParent(h) != nullptr && (GetWindowLongW(h, GWL_STYLE) & WS_CHILD)));
    return 0;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

int CmdChildren(int argc, char** argv) {
    if (argc < 3) return Usage();
    HWND h = ParseHandle(argv[2]);
    if (!h || !IsWindow(h)) {
        Print("null");
        return 1;
    }
    std::string j = "[";
    bool first = true;
    for (HWND c : Descendants(h)) {
        if (!first) j += ",";
        first = false;
        j += WindowJson(c, true);
    }
    Print(j + "]");
    return 0;
}

std::wstring WithoutAccel(const std::wstring& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&' && i + 1 < s.size()) {
            ++i;
        }
        out += s[i];
    }
    return out;
}

int CmdClickButton(int argc, char** argv) {
    if (argc < 4) return Usage();
    HWND h = ParseHandle(argv[2]);
    if (!h || !IsWindow(h)) {
        Print("null");
        return 1;
    }
    std::wstring want = WithoutAccel(Widen(argv[3]));
    for (HWND c : Descendants(h)) {
        if (_wcsicmp(ClassOf(c).c_str(), L"Button") != 0) continue;
        if (WithoutAccel(TextOf(c)) != want) continue;
        std::string j = WindowJson(c, true);
        // Posted, not sent: the click may open or end a modal loop, and the
        // probe must not wait on it.
        PostMessageW(c, BM_CLICK, 0, 0);
        Print(j);
        return 0;
    }
    Print("null");
    return 1;
}

int CmdClose(int argc, char** argv) {
    if (argc < 3) return Usage();
    HWND h = ParseHandle(argv[2]);
    if (!h || !IsWindow(h)) {
        Print("null");
        return 1;
    }
    PostMessageW(h, WM_CLOSE, 0, 0);
    Print("{\"posted\":true}");
    return 0;
}

int CmdCursor() {
    POINT p{};
    if (!GetCursorPos(&p)) {
        Print("null");
        return 1;
    }
    Print("{\"x\":" + Num(p.x) + ",\"y\":" + Num(p.y) + "}");
    return 0;
}

int CmdForeground() {
    HWND h = GetForegroundWindow();
    if (!h) {
        Print("null");
        return 1;
    }
    Print(WindowJson(h, false));
    return 0;
}

int CmdScreen() {
    RECT desk{};
    GetWindowRect(GetDesktopWindow(), &desk);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    int bpp = GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(nullptr, dc);
    std::string j = "{\"width\":" + Num(GetSystemMetrics(SM_CXSCREEN)) +
                    ",\"height\":" + Num(GetSystemMetrics(SM_CYSCREEN)) +
                    ",\"desktop\":" + RectJson(desk) + ",\"work_area\":" + RectJson(work) +
                    ",\"dpi\":" + Num(dpi) + ",\"bits_per_pixel\":" + Num(bpp) +
                    ",\"caption_height\":" + Num(GetSystemMetrics(SM_CYCAPTION)) +
                    ",\"menu_height\":" + Num(GetSystemMetrics(SM_CYMENU)) +
                    ",\"border_width\":" + Num(GetSystemMetrics(SM_CXFIXEDFRAME)) +
                    ",\"colors\":{";
    // The system colours the program draws with when it sets none itself.
    const struct {
        const char* name;
        int index;
    } colours[] = {{"button_face", COLOR_BTNFACE},   {"button_text", COLOR_BTNTEXT},
                   {"button_shadow", COLOR_BTNSHADOW}, {"button_highlight", COLOR_BTNHIGHLIGHT},
                   {"window", COLOR_WINDOW},          {"window_text", COLOR_WINDOWTEXT},
                   {"menu", COLOR_MENU},              {"menu_text", COLOR_MENUTEXT},
                   {"active_caption", COLOR_ACTIVECAPTION}, {"dark_shadow", COLOR_3DDKSHADOW},
                   {"light", COLOR_3DLIGHT}};
    bool first = true;
    for (const auto& c : colours) {
        COLORREF v = GetSysColor(c.index);
        if (!first) j += ",";
        first = false;
        j += "\"" + std::string(c.name) + "\":[" + Num(GetRValue(v)) + "," + Num(GetGValue(v)) +
             "," + Num(GetBValue(v)) + "]";
    }
    j += "}}";
    Print(j);
    return 0;
}

int CmdFont(int argc, char** argv) {
    if (argc < 4) return Usage();
    std::wstring face = Widen(argv[2]);
    long long height = 0;
    long long weight = FW_NORMAL;
    if (!ParseInt(argv[3], height)) return Usage();
    if (argc >= 5 && !ParseInt(argv[4], weight)) return Usage();
    bool italic = argc >= 6 && std::string(argv[5]) == "italic";
    LOGFONTW lf{};
    lf.lfHeight = static_cast<LONG>(height);
    lf.lfWeight = static_cast<LONG>(weight);
    lf.lfItalic = italic ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&lf);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t selected[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, selected);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    std::wstring family;
    std::wstring style;
    std::wstring full;
    UINT need = GetOutlineTextMetricsW(dc, 0, nullptr);
    if (need > 0) {
        std::vector<char> buf(need);
        auto* otm = reinterpret_cast<OUTLINETEXTMETRICW*>(buf.data());
        if (GetOutlineTextMetricsW(dc, need, otm)) {
            auto at = [&](PSTR off) {
                return std::wstring(
                    reinterpret_cast<const wchar_t*>(buf.data() + reinterpret_cast<uintptr_t>(off)));
            };
            family = at(otm->otmpFamilyName);
            style = at(otm->otmpStyleName);
            // otmpFaceName is the full face name; otmpFullName, despite its
            // name, is the font's unique identifier.
            full = at(otm->otmpFaceName);
        }
    }
    SIZE sample{};
    const wchar_t* text = L"Lumeno Control Panel";
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &sample);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
    Print("{\"requested\":" + Utf8JsonString(face) + ",\"face\":" + Utf8JsonString(selected) +
          ",\"family\":" + Utf8JsonString(family) + ",\"style\":" + Utf8JsonString(style) +
          ",\"full_name\":" + Utf8JsonString(full) + ",\"height\":" + Num(tm.tmHeight) +
          ",\"ascent\":" + Num(tm.tmAscent) + ",\"ave_char_width\":" + Num(tm.tmAveCharWidth) +
          ",\"weight\":" + Num(tm.tmWeight) + ",\"italic\":" + Num(tm.tmItalic) +
          ",\"sample_width\":" + Num(sample.cx) + "}");
    return 0;
}

// What a program's text looks like in this prefix, to compare a screenshot with: the same GDI
// and the same fonts draw it.
int CmdText(int argc, char** argv) {
    if (argc < 6) return Usage();
    long long height = 0;
    long long weight = FW_NORMAL;
    if (!ParseInt(argv[3], height) || !ParseInt(argv[4], weight)) return Usage();
    bool italic = false;
    bool underline = false;
    for (int i = 6; i < argc; ++i) {
        italic = italic || std::string(argv[i]) == "italic";
        underline = underline || std::string(argv[i]) == "underline";
    }
    std::wstring face = Widen(argv[2]);
    std::wstring text = Widen(argv[5]);
    HFONT font = CreateFontW(static_cast<int>(height), 0, 0, 0, static_cast<int>(weight), italic, underline, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, face.c_str());
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, font);
    const UINT format = DT_SINGLELINE | DT_NOPREFIX;
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format | DT_CALCRECT);
    const int w = r.right > 0 ? r.right : 1;
    const int h = r.bottom > 0 ? r.bottom : 1;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib || !bits) {
        SelectObject(dc, oldFont);
        DeleteDC(dc);
        DeleteObject(font);
        Print("null");
        return 1;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, dib);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &all, format);
    GdiFlush();
    static const char hex[] = "0123456789abcdef";
    std::string j = "{\"width\":" + Num(w) + ",\"height\":" + Num(h) + ",\"rows\":[";
    const auto* px = static_cast<const std::uint32_t*>(bits);
    for (int y = 0; y < h; ++y) {
        j += y ? ",\"" : "\"";
        for (int x = 0; x < w; ++x) {
            const unsigned dark = 255 - ((px[y * w + x] >> 8) & 0xff);  // the green channel
            j += hex[dark >> 4];
            j += hex[dark & 15];
        }
        j += "\"";
    }
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteObject(dib);
    DeleteDC(dc);
    DeleteObject(font);
    Print(j + "]}");
    return 0;
}

}  // namespace

// What a parent handed to CreateProcess, read back from the child's own
// process parameters: command line, current directory and the STARTUPINFO
// show state. Only a live process can be read.
int CmdProcess(int argc, char** argv) {
    if (argc < 3) return Usage();
    long long pid = 0;
    if (!ParseInt(argv[2], pid)) return Usage();
    HANDLE proc = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                              static_cast<DWORD>(pid));
    if (!proc) {
        Print("null");
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(proc, &code);
    bool alive = code == STILL_ACTIVE;
    std::string j = "{\"pid\":" + Num(pid) + ",\"alive\":" + (alive ? "true" : "false");
    if (!alive) j += ",\"exit_code\":" + Num(code);

    // PROCESS_BASIC_INFORMATION: PebBaseAddress is its second field.
    struct BasicInfo {
        LONG_PTR exitStatus;
        ULONG_PTR peb;
        ULONG_PTR affinity;
        LONG_PTR basePriority;
        ULONG_PTR pid;
        ULONG_PTR parentPid;
    } info{};
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    bool ok = query && query(proc, 0, &info, sizeof info, nullptr) == 0 && info.peb;
    if (ok) {
        j += ",\"parent_pid\":" + Num(static_cast<long long>(info.parentPid));
        // 64-bit layouts: PEB.ProcessParameters at 0x20; in the parameters
        // CurrentDirectory.DosPath 0x38, ImagePathName 0x60, CommandLine 0x70,
        // WindowFlags 0xa4, ShowWindowFlags 0xa8.
        auto read = [&](ULONG_PTR at, void* out, size_t n) {
            SIZE_T got = 0;
            return ReadProcessMemory(proc, reinterpret_cast<const void*>(at), out, n, &got) &&
                   got == n;
        };
        ULONG_PTR params = 0;
        unsigned char raw[0xb0] = {};
        if (read(info.peb + 0x20, &params, sizeof params) && params &&
            read(params, raw, sizeof raw)) {
            auto str = [&](size_t off) {
                USHORT len = 0;
                ULONG_PTR buf = 0;
                memcpy(&len, raw + off, sizeof len);
                memcpy(&buf, raw + off + 8, sizeof buf);
                std::wstring w(len / sizeof(wchar_t), L'\0');
                if (len && buf && !read(buf, w.data(), len)) w.clear();
                return w;
            };
            ULONG windowFlags = 0;
            ULONG showWindow = 0;
            memcpy(&windowFlags, raw + 0xa4, sizeof windowFlags);
            memcpy(&showWindow, raw + 0xa8, sizeof showWindow);
            j += ",\"image\":" + Utf8JsonString(str(0x60));
            j += ",\"cmdline\":" + Utf8JsonString(str(0x70));
            j += ",\"cwd\":" + Utf8JsonString(str(0x38));
            j += ",\"startup_flags\":" + Num(windowFlags);
            j += ",\"show_window\":" + Num(showWindow);
        }
    }
    CloseHandle(proc);
    Print(j + "}");
    return 0;
}

int CmdTerminate(int argc, char** argv) {
    if (argc < 3) return Usage();
    long long pid = 0;
    if (!ParseInt(argv[2], pid)) return Usage();
    HANDLE proc = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!proc) {
        Print("{\"terminated\":false}");
        return 1;
    }
    BOOL done = TerminateProcess(proc, 1);
    WaitForSingleObject(proc, 5000);
    CloseHandle(proc);
    Print(std::string("{\"terminated\":") + (done ? "true" : "false") + "}");
    return done ? 0 : 1;
}

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// Wine hands this message's lParam to another process as it is, so the suggested rectangle is
// written into the window's process. The same copy sits at that address here too, for a
// system that copies it across instead.
int CmdDpiChanged(int argc, char** argv) {
    if (argc < 8) return Usage();
    HWND h = ParseHandle(argv[2]);
    long long dpi = 0;
    long long edge[4] = {};
    if (!ParseInt(argv[3], dpi) || dpi <= 0 || dpi > 0xFFFF) return Usage();
    for (int i = 0; i < 4; ++i) {
        if (!ParseInt(argv[4 + i], edge[i])) return Usage();
    }
    if (!h || !IsWindow(h)) {
        Print("null");
        return 1;
    }
    RECT suggested{static_cast<LONG>(edge[0]), static_cast<LONG>(edge[1]), static_cast<LONG>(edge[2]),
                   static_cast<LONG>(edge[3])};
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    void* remote = proc ? VirtualAllocEx(proc, nullptr, sizeof suggested, MEM_RESERVE | MEM_COMMIT,
                                         PAGE_READWRITE)
                        : nullptr;
    SIZE_T written = 0;
    bool sent = false;
    if (remote && WriteProcessMemory(proc, remote, &suggested, sizeof suggested, &written) &&
        written == sizeof suggested) {
        void* local = VirtualAlloc(remote, sizeof suggested, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (local == remote) memcpy(local, &suggested, sizeof suggested);
        DWORD_PTR result = 0;
        sent = SendMessageTimeoutW(h, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote),
                                   SMTO_ABORTIFHUNG, 5000, &result) != 0;
        if (local == remote) VirtualFree(local, 0, MEM_RELEASE);
    }
    if (remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    if (proc) CloseHandle(proc);
    if (!sent) {
        Print("null");
        return 1;
    }
    Print(WindowJson(h, false));
    return 0;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string cmd = argv[1];
    if (cmd == "windows") return CmdWindows();
    if (cmd == "wait") return CmdWait(argc, argv, Until::Shown);
    if (cmd == "gone") return CmdWait(argc, argv, Until::Gone);
    if (cmd == "front") return CmdWait(argc, argv, Until::Front);
    if (cmd == "info") return CmdInfo(argc, argv);
    if (cmd == "children") return CmdChildren(argc, argv);
    if (cmd == "click-button") return CmdClickButton(argc, argv);
    if (cmd == "close") return CmdClose(argc, argv);
    if (cmd == "cursor") return CmdCursor();
    if (cmd == "foreground") return CmdForeground();
    if (cmd == "screen") return CmdScreen();
    if (cmd == "font") return CmdFont(argc, argv);
    if (cmd == "text") return CmdText(argc, argv);
    if (cmd == "process") return CmdProcess(argc, argv);
    if (cmd == "terminate") return CmdTerminate(argc, argv);
    if (cmd == "dpi-changed") return CmdDpiChanged(argc, argv);
    return Usage();
}

// One process for many questions: a test that polls Windows in a tight loop would otherwise
// pay a Wine process start for each.
int Serve() {
    char buf[4096];
    while (std::fgets(buf, sizeof buf, stdin)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::vector<std::string> parts{"wprobe"};
        for (size_t at = 0;;) {
            size_t tab = line.find('\t', at);
            parts.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        std::vector<char*> args;
        for (auto& p : parts) args.push_back(p.data());
        args.push_back(nullptr);
        std::string answer;
        g_answer = &answer;
        int rc = parts[1] == "serve" ? Usage() : Run(static_cast<int>(parts.size()), args.data());
        g_answer = nullptr;
        Print(Num(rc) + "\t" + answer);
    }
    return 0;
}

// Per-monitor DPI aware, so coordinates, sizes and the DPI are the device pixels a person sees:
// a system that virtualizes DPI (Windows, Wine 10) would otherwise tell an unaware probe 96-DPI
// values. Bound by name: the call is missing before Windows 10 1703.
static void BecomePerMonitorDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
    if (!set || !set(perMonitorV2)) SetProcessDPIAware();
}

int main(int argc, char** argv) {
    BecomePerMonitorDpiAware();
    if (argc == 2 && std::string(argv[1]) == "serve") return Serve();
    return Run(argc, argv);
}
