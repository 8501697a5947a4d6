#include "win32_backend.h"
#include "win32_icons.h"
#include "resources.h"
#include "win32_picture.h"
#include "win32_window.h"
#include "wide.h"
#include <commctrl.h>
#include <cstdlib>
#include <objbase.h>
#include <string>
#include <type_traits>
#include <vector>

namespace tk::win32 {

namespace {

// Binds an export of a system DLL by name, loading the DLL from the system directory only.
FARPROC systemExport(const char* dll, const char* name)
{
    wchar_t path[MAX_PATH]{};
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 1 + std::char_traits<char>::length(dll) >= MAX_PATH)
        return nullptr;
    path[n++] = L'\\';
    for (const char* c = dll; *c; ++c)
        path[n++] = wchar_t(*c); // the names asked are ASCII
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module ? GetProcAddress(module, name) : nullptr; // kept loaded for the process's life
}

// Pictures are stored as their original files.
codecs::Bytes pictureFile(HINSTANCE instance, int resourceId)
{
    return resourceBytes(instance, resourceId, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
}

bool isPlainFileName(std::string_view name)
{
    return !name.empty() && name.find_first_of("\\/:") == std::string_view::npos && name != "." && name != "..";
}

} // namespace

Win32Backend::Win32Backend(HINSTANCE instance, std::initializer_list<ArtAt2x> art2x)
    : instance_(instance), art2x_(art2x)
{
    // Where the system has them (Windows 10 1607 and later): user32 is loaded already.
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        auto bind = [user32](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
        };
        bind(dpiApi_.getDpiForSystem, "GetDpiForSystem");
        bind(dpiApi_.getDpiForWindow, "GetDpiForWindow");
        bind(dpiApi_.adjustWindowRectExForDpi, "AdjustWindowRectExForDpi");
        bind(dpiApi_.getSystemMetricsForDpi, "GetSystemMetricsForDpi");
    }
    // The first screen query connects to the display. Made before the process computes
    // anything: under Wine it takes about 20 ms at once, but 50 ms and more when the process
    // has first computed for a few milliseconds.
    WindowDc screen(nullptr);
    if (dpiApi_.getDpiForSystem)
        systemDpi_ = int(dpiApi_.getDpiForSystem());
    else if (const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY); dpi > 0)
        systemDpi_ = dpi;
}

Win32Picture::Files Win32Backend::filesOf(int resourceId) const
{
    Win32Picture::Files files{pictureFile(instance_, resourceId), {}};
    for (const ArtAt2x& a : art2x_)
        if (a.resource == resourceId)
            files.file2x = pictureFile(instance_, a.resource2x);
    return files;
}

int Win32Backend::windowDpi(HWND w) const
{
    const UINT dpi = dpiApi_.getDpiForWindow ? dpiApi_.getDpiForWindow(w) : 0;
    return dpi > 0 ? int(dpi) : systemDpi_;
}

void Win32Backend::adjustWindowRect(RECT& r, DWORD style, bool menu, DWORD exStyle, int dpi) const
{
    if (dpiApi_.adjustWindowRectExForDpi)
        dpiApi_.adjustWindowRectExForDpi(&r, style, menu, exStyle, UINT(dpi));
    else
        AdjustWindowRectEx(&r, style, menu, exStyle);
}

int Win32Backend::systemMetric(int index, int dpi) const
{
    return dpiApi_.getSystemMetricsForDpi ? dpiApi_.getSystemMetricsForDpi(index, UINT(dpi)) : GetSystemMetrics(index);
}

HICON Win32Backend::icon(int resource, bool small, int dpi)
{
    const int size = systemMetric(small ? SM_CXSMICON : SM_CXICON, dpi);
    UniqueIcon& slot = icons_[{resource, size}];
    if (!slot)
        slot.reset(iconAtSize(instance_, resource, size));
    return slot.get();
}

HCURSOR Win32Backend::cursor(int resource, int dpi)
{
    const int size = systemMetric(SM_CXCURSOR, dpi);
    UniqueIcon& slot = cursors_[{resource, size}];
    if (!slot)
        slot.reset(cursorAtSize(instance_, resource, size));
    return slot.get();
}

Win32Backend::~Win32Backend() = default;

void Win32Backend::loadCommonControls()
{
    // Bound at run time from the system directory, so the loader never looks for them beside
    // the program, and only when a tool tip is first needed, which keeps them out of start-up.
    if (commonControlsLoaded_)
        return;
    commonControlsLoaded_ = true;
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(systemExport("comctl32.dll", "InitCommonControlsEx")))) {
        const INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        init(&icc);
    }
}

// COM is started at its first use, not at program start, so a session that never opens a link
// nor meets a screen reader never loads it.
bool ComScope::start()
{
    if (!started_) {
        using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
        if (auto init = reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(systemExport("ole32.dll", "CoInitializeEx"))))
            started_ = SUCCEEDED(init(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    return started_;
}

ComScope::~ComScope()
{
    using CoUninitializeFn = void(WINAPI*)();
    if (started_)
        if (auto uninit = reinterpret_cast<CoUninitializeFn>(reinterpret_cast<void*>(systemExport("ole32.dll", "CoUninitialize"))))
            uninit();
}

const AccessibilityApi* Win32Backend::accessibility()
{
    if (!accessibilityBound_) {
        accessibilityBound_ = true;
        // The object is handed over marshalled: COM must run on this thread.
        com_.start();
        auto bind = [](auto& slot, const char* dll, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(reinterpret_cast<void*>(systemExport(dll, name)));
        };
        bind(accessibility_.createStdAccessibleObject, "oleacc.dll", "CreateStdAccessibleObject");
        bind(accessibility_.lresultFromObject, "oleacc.dll", "LresultFromObject");
        bind(accessibility_.sysAllocStringLen, "oleaut32.dll", "SysAllocStringLen");
    }
    const AccessibilityApi& a = accessibility_;
    return a.createStdAccessibleObject && a.lresultFromObject && a.sysAllocStringLen ? &a : nullptr;
}

int Win32Backend::runEventLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}

std::unique_ptr<NativeWindow> Win32Backend::createWindow(const WindowSpec& spec, WindowEvents& events)
{
    return std::make_unique<Win32Window>(*this, spec, events);
}

PicturePtr Win32Backend::loadPicture(int resourceId)
{
    const Win32Picture::Files files = filesOf(resourceId);
    return files.file.empty() ? nullptr : Win32Picture::load(files, systemDpi_);
}

HFONT Win32Backend::font(const Font& f, int dpi)
{
    const std::string face(f.face);
    const std::string key = face + '|' + std::to_string(int(f.points * 100)) + '|' + char('0' + f.bold) +
                            char('0' + f.italic) + char('0' + f.underline) + '|' + std::to_string(dpi);
    UniqueFont& slot = fonts_[key];
    if (slot)
        return slot.get();
    const int height = -int(f.points * float(dpi) / 72.0f + 0.5f);
    auto make = [&](const wchar_t* name) {
        return CreateFontW(height, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, f.italic, f.underline, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, name);
    };
    slot.reset(make(wide(face).c_str()));
    if (dpi != DisplayScale::kDesignDpi) {
        // A bitmap face has its few sizes made for 96 DPI; above that it falls back to a much
        // smaller one (9.75 points at 200 % come out 16 pixels high instead of 26). The system's
        // scalable sans serif, drawn to the same metrics, takes its place then.
        TEXTMETRICW tm{};
        {
            WindowDc screen(nullptr);
            SelectScope select(screen.get(), slot.get());
            GetTextMetricsW(screen.get(), &tm);
        }
        const int em = int(tm.tmHeight - tm.tmInternalLeading);
        if (!(tm.tmPitchAndFamily & TMPF_VECTOR) && std::abs(em + height) > 1) {
            UniqueFont scalable(make(L"Microsoft Sans Serif"));
            if (scalable)
                slot = std::move(scalable);
        }
    }
    return slot.get();
}

// Measured at the display's DPI and handed back in logical pixels, rounded up so that the text
// drawn in a rectangle of that size still fits.
SizePx Win32Backend::measureText(std::string_view text, const Font& f, int wrapWidth, int dpi)
{
    const DisplayScale scale(dpi);
    WindowDc screen(nullptr);
    SelectScope select(screen.get(), font(f, dpi));
    TEXTMETRICW tm{};
    GetTextMetricsW(screen.get(), &tm);
    if (text.empty())
        return {0, scale.lengthToLogical(int(tm.tmHeight))};
    const Wide copy(text);
    RECT r{0, 0, wrapWidth > 0 ? scale.toDevice(wrapWidth) : 0, 0};
    const UINT format = DT_CALCRECT | DT_NOPREFIX | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextW(screen.get(), copy.c_str(), int(copy.size()), &r, format);
    return {wrapWidth > 0 ? wrapWidth : scale.lengthToLogical(int(r.right - r.left)),
            scale.lengthToLogical(int(r.bottom - r.top))};
}

void Win32Backend::messageBox(std::string_view text, std::string_view title, int style)
{
    // Modal to the whole program, and the window the user was in gets the keyboard back
    // afterwards: it owns the box, and the program's other windows wait disabled beside it.
    const Wide t(text), c(title);
    const HWND owner = GetActiveWindow();
    std::vector<HWND> others;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM list) {
            auto& v = *reinterpret_cast<std::vector<HWND>*>(list);
            if (IsWindowVisible(w) && IsWindowEnabled(w))
                v.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&others));
    std::erase(others, owner);
    for (HWND w : others)
        EnableWindow(w, FALSE);
    MessageBoxW(owner, t.c_str(), c.c_str(), UINT(style) | (owner ? MB_APPLMODAL : MB_TASKMODAL));
    for (HWND w : others)
        EnableWindow(w, TRUE);
}

bool Win32Backend::systemFileExists(std::string_view fileName)
{
    // Wide, so that the answer does not depend on the code page; the names asked are ASCII.
    wchar_t path[MAX_PATH]{};
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 1 + fileName.size() >= MAX_PATH || !isPlainFileName(fileName))
        return false;
    wchar_t* end = path + n;
    *end++ = L'\\';
    for (char c : fileName) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
        *end++ = wchar_t(c);
    }
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32Backend::startSystemProgram(std::string_view programFile, std::string_view commandLine, int showState)
{
    // By full path and with the system directory as current folder, so that no program or
    // file planted beside us or in our current folder is started or loaded in its place. The
    // command line is ANSI, as the runner is handed it, and so is the rest of the start.
    char directory[MAX_PATH]{};
    const UINT n = GetSystemDirectoryA(directory, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !isPlainFileName(programFile))
        return false;
    const std::string dir(directory, n);
    const std::string program = dir + "\\" + std::string(programFile);
    std::string line(commandLine); // CreateProcess may write into its command line
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = WORD(showState);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi))
        return false;
    UniqueHandle process(pi.hProcess), thread(pi.hThread); // held by nobody: closed at once
    return true;
}

void Win32Backend::shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                                std::string_view directory, int showCommand)
{
    using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    static const auto fn = reinterpret_cast<ShellExecuteFn>(reinterpret_cast<void*>(systemExport("shell32.dll", "ShellExecuteA")));
    if (!fn)
        return;
    // The shell may hand the verb to COM handlers.
    com_.start();
    const std::string v(verb), f(file), p(parameters), d(directory);
    fn(nullptr, v.c_str(), f.c_str(), p.c_str(), d.c_str(), showCommand);
}

POINT screenCursorPos()
{
    using GetCursorPosFn = BOOL(WINAPI*)(POINT*);
    static const auto fn = reinterpret_cast<GetCursorPosFn>(reinterpret_cast<void*>(systemExport("user32.dll", "GetCursorPos")));
    POINT p{};
    if (fn)
        fn(&p);
    return p;
}

void Win32Backend::quit() { PostQuitMessage(0); }

} // namespace tk::win32
