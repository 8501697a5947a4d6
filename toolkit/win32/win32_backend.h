// The real backend: Win32 windows and GDI drawing, pictures decoded by the program's own
// codecs. Window messages are decoded here once; the toolkit above sees typed events only.
// Space: the interface speaks logical pixels; device pixels (DeviceRect, ...) and the system's
// POINT and RECT stay inside this folder. Owners: the backend owns its caches (fonts, icons,
// cursors) and COM's scope for its life; each window owns its HWND.
#pragma once
#include "../backend.h"
#include "handles.h"
#include "small_map.h"
#include "win32_picture.h"
#include <oleauto.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tk::win32 {

// What assistive technology needs, bound at the first WM_GETOBJECT from the system directory:
// a session that no screen reader asks never loads it.
struct AccessibilityApi {
    HRESULT(WINAPI* createStdAccessibleObject)(HWND, LONG, REFIID, void**);
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, IUnknown*);
    BSTR(WINAPI* sysAllocStringLen)(const OLECHAR*, UINT);
};

// A picture resource and the same picture at twice the resolution, drawn above 96 DPI.
struct ArtAt2x {
    int resource, resource2x;
};

// The system's per-monitor DPI functions, bound from user32 where the system has them.
struct DpiApi {
    UINT(WINAPI* getDpiForSystem)();
    UINT(WINAPI* getDpiForWindow)(HWND);
    BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT);
    int(WINAPI* getSystemMetricsForDpi)(int, UINT);
};

// The pointer's place in screen pixels. GetCursorPos is bound by name at its first call, as
// the shell's ShellExecuteA is.
POINT screenCursorPos();

// COM on this thread, from its first use to the end of the scope that holds this.
class ComScope {
public:
    ComScope() = default;
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool start(); // true once COM runs here

private:
    bool started_ = false;
};

class Win32Backend final : public Backend {
public:
    // Pictures in `art2x` have a second resource at twice the resolution; all others are
    // pixel art. Everything runs on the calling thread: the backend starts no thread.
    explicit Win32Backend(HINSTANCE instance, std::initializer_list<ArtAt2x> art2x = {});
    ~Win32Backend() override;

    int runEventLoop();

    std::unique_ptr<NativeWindow> createWindow(const WindowSpec& spec, WindowEvents& events) override;
    PicturePtr loadPicture(int resourceId) override;
    void messageBox(std::string_view text, std::string_view title, int style) override;
    bool systemFileExists(std::string_view fileName) override;
    bool startSystemProgram(std::string_view programFile, std::string_view commandLine,
                            int showState) override;
    void shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                      std::string_view directory, int showCommand) override;
    void quit() override;

    HINSTANCE instance() const { return instance_; }
    HFONT font(const Font& f, int dpi); // cached for the backend's life
    SizePx measureText(std::string_view text, const Font& font, int wrapWidth, int dpi);
    // The DPI of the primary display, fixed for the process: where new windows start. Each
    // window then maps everything of its own (client area, screen positions, text) by its
    // monitor's DPI.
    int systemDpi() const { return systemDpi_; }
    int windowDpi(HWND w) const;
    void adjustWindowRect(RECT& r, DWORD style, bool menu, DWORD exStyle, int dpi) const;
    int systemMetric(int index, int dpi) const;
    // The program's icon or cursor at the size the system uses at this DPI; cached for the
    // backend's life.
    HICON icon(int resource, bool small, int dpi);
    HCURSOR cursor(int resource, int dpi);
    void loadCommonControls(); // tool tips
    const AccessibilityApi* accessibility(); // null when the system lacks it

private:
    Win32Picture::Files filesOf(int resourceId) const;

    HINSTANCE instance_;
    DpiApi dpiApi_{};
    int systemDpi_ = 96;
    std::vector<ArtAt2x> art2x_;
    SmallMap<std::string, UniqueFont> fonts_;
    SmallMap<std::pair<int, int>, UniqueIcon> icons_, cursors_; // by resource and size
    ComScope com_; // for the shell and screen readers, at their first use
    bool commonControlsLoaded_ = false;
    bool accessibilityBound_ = false;
    AccessibilityApi accessibility_{};
};

} // namespace tk::win32
