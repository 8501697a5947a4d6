// A window's client area as assistive technology sees it (MSAA): an IAccessible whose simple
// children are the toolkit's items (child id = index + 1, fixed for the window's life; hidden
// items say so). Questions about the window itself go to the system's standard client object.
// A default action is posted to the window as kDefaultActionMessage (wParam: the index) and
// runs from its message loop, never inside the reader's call.
// Space: locations go out in screen device pixels, as MSAA wants; hit tests come in so. Owners:
// the window's AccessibleClient holds one reference to the object; readers hold theirs.
#pragma once
#include "../backend.h"
#include "../display_scale.h"
#include "handles.h"

namespace tk::win32 {

struct AccessibilityApi;

inline constexpr UINT kDefaultActionMessage = WM_APP + 1;

class AccessibleClient {
public:
    AccessibleClient();
    ~AccessibleClient();
    AccessibleClient(const AccessibleClient&) = delete;
    AccessibleClient& operator=(const AccessibleClient&) = delete;

    // The answer to WM_GETOBJECT for OBJID_CLIENT; 0 when the system cannot give one.
    // Items' places are mapped by the window's scale, which lives as long as the window.
    LRESULT answer(const AccessibilityApi& api, HWND hwnd, WindowEvents& events, const DisplayScale& scale, WPARAM wp);
    // The window is going: clients that still hold the object hear that it is gone.
    void disconnect();

private:
    class Object;
    static void releaseObject(Object* o); // Release, where Object is complete
    Unique<Object*, releaseObject> object_;
};

} // namespace tk::win32
