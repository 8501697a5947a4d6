// A window's client area as assistive technology sees it (MSAA): an IAccessible whose simple
// children are the toolkit's items in reading order (child id = index + 1). Questions about the
// window itself go to the system's standard client object.
#pragma once
#include "../backend.h"
#include "../display_scale.h"
#include "handles.h"

namespace tk::win32 {

struct AccessibilityApi;

class AccessibleClient {
public:
    AccessibleClient() = default;
    ~AccessibleClient() { disconnect(); }
    AccessibleClient(const AccessibleClient&) = delete;
    AccessibleClient& operator=(const AccessibleClient&) = delete;

    // The answer to WM_GETOBJECT for OBJID_CLIENT; 0 when the system cannot give one.
    // Items' places are mapped by the window's scale, which lives as long as the window.
    LRESULT answer(const AccessibilityApi& api, HWND hwnd, WindowEvents& events, const DisplayScale& scale, WPARAM wp);
    // The window is going: clients that still hold the object hear that it is gone.
    void disconnect();

private:
    class Object;
    Object* object_ = nullptr; // one reference ours
};

} // namespace tk::win32
