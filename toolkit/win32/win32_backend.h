// The real backend: Win32 windows and GDI drawing, pictures decoded by the program's own
// codecs. Window messages are decoded here once; the toolkit above sees typed events only.
#pragma once
#include "../backend.h"
#include "handles.h"
#include "small_map.h"
#include <oleauto.h>
#include <initializer_list>
#include <memory>
#include <string>

namespace tk::win32 {

// What assistive technology needs, bound at the first WM_GETOBJECT from the system directory:
// a session that no screen reader asks never loads it.
struct AccessibilityApi {
    HRESULT(WINAPI* createStdAccessibleObject)(HWND, LONG, REFIID, void**);
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, IUnknown*);
    BSTR(WINAPI* sysAllocStringLen)(const OLECHAR*, UINT);
};

class Win32Backend final : public Backend {
public:
    // The pictures in `prefetch` are decoded on a thread of their own while the display
    // connects; loadPicture takes them over when they are done.
    explicit Win32Backend(HINSTANCE instance, std::initializer_list<int> prefetch = {});
    ~Win32Backend() override;

    int runEventLoop();

    std::unique_ptr<NativeWindow> createWindow(const WindowSpec& spec, WindowEvents& events) override;
    PicturePtr loadPicture(int resourceId) override;
    SizePx measureText(std::string_view text, const Font& font, int wrapWidth) override;
    int twipsPerPixelX() override;
    int twipsPerPixelY() override;
    void messageBox(std::string_view text, std::string_view title, int style) override;
    bool systemFileExists(std::string_view fileName) override;
    bool startSystemProgram(std::string_view programFile, std::string_view commandLine,
                            int showState) override;
    void shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                      std::string_view directory, int showCommand) override;
    PointPx cursorPos() override;
    void quit() override;

    HINSTANCE instance() const { return instance_; }
    HFONT font(const Font& f); // cached for the backend's life
    SizePx screenDpi();
    void loadCommonControls(); // tool tips
    const AccessibilityApi* accessibility(); // null when the system lacks it

private:
    struct Prefetch;
    bool startCom();

    HINSTANCE instance_;
    SmallMap<int, std::unique_ptr<Prefetch>> prefetched_;
    SmallMap<std::string, UniqueFont> fonts_;
    SizePx dpi_{};
    bool comInitialized_ = false; // for the shell, at its first use
    bool commonControlsLoaded_ = false;
    bool accessibilityBound_ = false;
    AccessibilityApi accessibility_{};
};

} // namespace tk::win32
