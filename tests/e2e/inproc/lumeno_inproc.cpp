// Test companion that links the program's own windows over the real Win32 backend and reads
// what another process may not.
//   lumeno_inproc menus   prints one menu caption a line, depth-first, "-" for separators
//   lumeno_inproc soak <about cycles> <pointer moves> <clicks>
//       drives the windows by sending them the messages a person's input makes: the About
//       menu command and WM_CLOSE to the About window, mouse moves over the picture and the
//       strip, clicks on the hotspots. Prints its own object counts and memory as one JSON
//       line on stderr after a warm-up round ("before"), after half the run ("middle") and at
//       the end ("after").
//   lumeno_inproc msaa <in|out> <main|about> [act=<child id>] [at=<x>,<y> ...]
//       walks a window through AccessibleObjectFromWindow, as a screen reader does: "in" in this
//       process, with the program's windows linked in; "out" from here to the program running
//       in another process. Prints the child count, each child (role, state, location in screen
//       pixels, name, default action), the focus, the child hit at each client point given, and
//       the result of the default action of one child, then pumps messages for a second.
//   lumeno_inproc scaled-size <dpi>   asks the main window the size it wants at that DPI
//       (WM_GETDPISCALEDSIZE) and prints "answer <result> size <w> <h> frame <w> <h>", the frame
//       being what the system adds to an empty client area of the window's styles at that DPI
//   lumeno_inproc keys   sends the main window the key messages of Home, five Tabs and an Enter
//       held down (the first press, three repeats, the release), as the keyboard driver does
//       where a display repeats held keys; then pumps messages for a second.
// Object counts: GetGuiResources is a stub under Wine, so the handle tables are walked.
// Wine takes a handle whose high word is 0 as "any generation", so every low word is tried:
// GDI objects by GetObjectType, windows by IsWindow and the owning process, menus by IsMenu,
// icons and cursors by GetIconInfo, kernel handles by GetHandleInformation (and their types
// by NtQueryObject, so that a grown count says what grew).
#include "../../../app/frame.h"
#include "../../../app/resource_ids.h"
#include "toolkit/win32/win32_backend.h"
#include "toolkit/win32/win32_picture.h"
#include "../../../mainwindow/frmCPanel.h"
#include "../../../mainwindow/hotspots.h"
#include <objbase.h>
#include <oleacc.h>
#include <psapi.h>
#include <winternl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// The kernel object type of a handle: "Event", "Thread", ...
std::string handleType(HANDLE h)
{
    alignas(8) unsigned char buffer[512]{};
    ULONG size = 0;
    if (NtQueryObject(h, ObjectTypeInformation, buffer, sizeof(buffer), &size) < 0)
        return "?";
    const UNICODE_STRING& name = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer)->TypeName;
    std::string type;
    for (USHORT i = 0; i < name.Length / 2; ++i)
        type += char(name.Buffer[i] < 128 ? name.Buffer[i] : '?');
    return type;
}

// With no caption, prints the menu depth-first ("-" for separators); else finds its command.
UINT walkMenu(HMENU menu, const char* caption)
{
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[128]{};
        GetMenuStringA(menu, UINT(i), text, sizeof(text), MF_BYPOSITION);
        HMENU sub = GetSubMenu(menu, i);
        if (!caption)
            std::printf("%s\n", !sub && (GetMenuState(menu, UINT(i), MF_BYPOSITION) & MF_SEPARATOR) ? "-" : text);
        if (sub) {
            if (UINT id = walkMenu(sub, caption))
                return id;
        } else if (caption && std::strcmp(text, caption) == 0) {
            return GetMenuItemID(menu, i);
        }
    }
    return 0;
}

// Dispatches what is queued, then keeps pumping for ms (timers, paints).
void pump(DWORD ms = 0)
{
    const DWORD end = GetTickCount() + ms;
    MSG msg;
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (LONG(GetTickCount() - end) >= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void counts(const char* phase)
{
    unsigned gdi = 0, kinds[16]{};
    for (ULONG_PTR h = 0; h <= 0xFFFF; ++h)
        if (DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(h))) {
            ++gdi;
            ++kinds[type & 15];
        }
    unsigned windows = 0, menus = 0, icons = 0, handles = 0;
    const DWORD self = GetCurrentProcessId();
    for (ULONG_PTR h = 0x20; h <= 0xFFFF; h += 2) {
        DWORD pid = 0;
        HWND w = reinterpret_cast<HWND>(h);
        if (IsWindow(w) && GetWindowThreadProcessId(w, &pid) && pid == self)
            ++windows;
        if (IsMenu(reinterpret_cast<HMENU>(h)))
            ++menus;
        ICONINFO ii{};
        if (GetIconInfo(reinterpret_cast<HICON>(h), &ii)) { // copies its bitmaps: free them
            ++icons;
            DeleteObject(ii.hbmMask);
            if (ii.hbmColor)
                DeleteObject(ii.hbmColor);
        }
    }
    std::map<std::string, unsigned> handleTypes;
    for (ULONG_PTR h = 4; h <= 0xFFFF; h += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) {
            ++handles;
            ++handleTypes[handleType(reinterpret_cast<HANDLE>(h))];
        }
    }
    std::string types;
    for (const auto& [type, n] : handleTypes)
        types += (types.empty() ? "\"" : ",\"") + type + "\":" + std::to_string(n);
    PROCESS_MEMORY_COUNTERS mem{};
    GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof(mem));
    std::fprintf(stderr, "{\"phase\":\"%s\",\"gdi\":%u,\"bitmaps\":%u,\"dcs\":%u,\"fonts\":%u,\"brushes\":%u,\"pens\":%u,"
                "\"regions\":%u,\"windows\":%u,\"menus\":%u,\"icons\":%u,\"handles\":%u,\"handle_types\":{%s},\"working_set\":%llu}\n",
                phase, gdi, kinds[OBJ_BITMAP], kinds[OBJ_DC] + kinds[OBJ_MEMDC], kinds[OBJ_FONT],
                kinds[OBJ_BRUSH], kinds[OBJ_PEN], kinds[OBJ_REGION], windows, menus, icons, handles, types.c_str(),
                static_cast<unsigned long long>(mem.WorkingSetSize));
}

struct Soak {
    HWND main;
    tk::RectPx picture; // the scene's area in the form's client pixels
    UINT aboutId;

    LPARAM inPicture(int x, int y) const { return MAKELPARAM(picture.left + x, picture.top + y); }

    bool aboutCycle(int i)
    {
        SendMessageA(main, WM_COMMAND, aboutId, 0);
        pump();
        HWND about = FindWindowA("TkForm", "About");
        if (!about)
            return false;
        // The pointer over the disclaimer: the tool tip is made at the first move.
        POINT p{20 + i % 40, 120 + i % 50};
        const LPARAM at = MAKELPARAM(p.x, p.y);
        ClientToScreen(about, &p);
        SetCursorPos(p.x, p.y);
        SendMessageA(about, WM_MOUSEMOVE, 0, at);
        pump(i % 10 == 0 ? 60 : 0); // now and then long enough for the timers
        SendMessageA(about, WM_CLOSE, 0, 0);
        pump();
        return !IsWindow(about);
    }

    void move(int i)
    {
        if (i % 8 == 7) // the strip belongs to the form itself
            SendMessageA(main, WM_MOUSEMOVE, 0, MAKELPARAM(3 + (i * 37) % 427, 344 + i % 20));
        else
            SendMessageA(main, WM_MOUSEMOVE, 0, inPicture((i * 7) % picture.width(), (i * 13) % picture.height()));
        pump();
    }

    void click(int i) // on a hotspot's middle: whichever hotspot takes it starts one applet
    {
        const HotspotEntry& h = Hotspots[std::size_t(i) % Hotspots.size()];
        const POINT p{(h.left + h.width / 2) / 15, (h.top + h.height / 2) / 15};
        SendMessageA(main, WM_MOUSEMOVE, 0, inPicture(p.x, p.y));
        SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, inPicture(p.x, p.y));
        SendMessageA(main, WM_LBUTTONUP, 0, inPicture(p.x, p.y));
        pump();
    }
};

int soak(Application& app, int aboutCycles, int moves, int clicks)
{
    Soak s{};
    s.main = FindWindowA(nullptr, "Lumeno ControlPanel");
    s.picture = app.MainWindow().Picture1.clientRect();
    s.aboutId = s.main ? walkMenu(GetMenu(s.main), "&About") : 0;
    if (!s.main || !s.aboutId) {
        std::fprintf(stderr, "soak: main window or About command not found\n");
        return 1;
    }
    pump(200);
    // Warm-up: what stays cached for the program's life (fonts, the shell, the common
    // controls) is made before the first count.
    for (int i = 0; i < 3; ++i)
        if (!s.aboutCycle(i))
            return 3;
    for (int i = 0; i < 500; ++i)
        s.move(i);
    if (clicks > 0)
        s.click(0);
    pump(300);
    counts("before");
    const DWORD start = GetTickCount();
    // In two equal halves, counted between them: what leaks grows in both.
    for (int half = 0; half < 2; ++half) {
        for (int i = half * aboutCycles / 2; i < (half + 1) * aboutCycles / 2; ++i)
            if (!s.aboutCycle(i)) {
                std::fprintf(stderr, "soak: About cycle %d failed\n", i);
                return 3;
            }
        for (int i = half * moves / 2; i < (half + 1) * moves / 2; ++i)
            s.move(i);
        for (int i = std::max(1, half * clicks / 2); i < (half + 1) * clicks / 2; ++i)
            s.click(i);
        pump(300);
        if (half == 0)
            counts("middle");
    }
    std::fprintf(stderr, "soak: %lu ms\n", GetTickCount() - start);
    counts("after");
    return 0;
}

} // namespace

std::string utf8(BSTR s)
{
    std::string out;
    if (!s)
        return "(none)";
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    out.resize(std::size_t(n > 0 ? n - 1 : 0));
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
    SysFreeString(s);
    return out;
}

VARIANT childId(LONG id)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// One line per fact, for the tests to read.
int walk(HWND hwnd, int argc, char** argv)
{
    IAccessible* acc = nullptr;
    const HRESULT got = AccessibleObjectFromWindow(hwnd, DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                                   reinterpret_cast<void**>(&acc));
    std::printf("object 0x%08lx\n", static_cast<unsigned long>(got));
    if (FAILED(got) || !acc)
        return 4;
    long count = 0;
    acc->get_accChildCount(&count);
    std::printf("count %ld\n", count);
    for (LONG id = 0; id <= count; ++id) {
        const VARIANT child = childId(id);
        VARIANT role, state;
        VariantInit(&role);
        VariantInit(&state);
        acc->get_accRole(child, &role);
        acc->get_accState(child, &state);
        BSTR name = nullptr, action = nullptr;
        acc->get_accName(child, &name);
        acc->get_accDefaultAction(child, &action);
        long l = 0, t = 0, w = 0, h = 0;
        acc->accLocation(&l, &t, &w, &h, child);
        std::printf("child %ld role %ld state 0x%lx loc %ld %ld %ld %ld name \"%s\" action \"%s\"\n", id,
                    role.vt == VT_I4 ? role.lVal : -1L, state.vt == VT_I4 ? state.lVal : 0L, l, t, w, h,
                    utf8(name).c_str(), utf8(action).c_str());
    }
    VARIANT focus;
    VariantInit(&focus);
    acc->get_accFocus(&focus);
    std::printf("focus %d %ld\n", focus.vt, focus.vt == VT_I4 ? focus.lVal : 0L);
    for (int i = 0; i < argc; ++i) {
        int x = 0, y = 0;
        LONG act = 0;
        if (std::sscanf(argv[i], "at=%d,%d", &x, &y) == 2) {
            POINT p{x, y};
            ClientToScreen(hwnd, &p);
            VARIANT hit;
            VariantInit(&hit);
            acc->accHitTest(p.x, p.y, &hit);
            std::printf("hit %d,%d %d %ld\n", x, y, hit.vt, hit.vt == VT_I4 ? hit.lVal : 0L);
        } else if (std::sscanf(argv[i], "act=%ld", &act) == 1) {
            std::printf("act %ld 0x%08lx\n", act, static_cast<unsigned long>(acc->accDoDefaultAction(childId(act))));
        }
    }
    std::fflush(stdout);
    acc->Release();
    pump(1000);
    return 0;
}

int keys(HWND main)
{
    auto key = [main](UINT msg, WPARAM vk, bool repeat) {
        // Bit 30: the key was down before this message; bit 31: it is being released.
        LPARAM lp = 1 | (repeat || msg == WM_KEYUP ? LPARAM(1) << 30 : 0) | (msg == WM_KEYUP ? LPARAM(1) << 31 : 0);
        SendMessageA(main, msg, vk, lp);
    };
    for (WPARAM vk : {WPARAM(VK_HOME), WPARAM(VK_TAB), WPARAM(VK_TAB), WPARAM(VK_TAB), WPARAM(VK_TAB), WPARAM(VK_TAB)}) {
        key(WM_KEYDOWN, vk, false);
        key(WM_KEYUP, vk, false);
    }
    key(WM_KEYDOWN, VK_RETURN, false);
    for (int i = 0; i < 3; ++i)
        key(WM_KEYDOWN, VK_RETURN, true);
    key(WM_KEYUP, VK_RETURN, false);
    pump(1000);
    return 0;
}

int scaledSize(HWND main, int dpi)
{
    using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjust = reinterpret_cast<AdjustFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
    if (!adjust)
        return 3;
    SIZE size{};
    const LRESULT answer = SendMessageW(main, 0x02E4 /* WM_GETDPISCALEDSIZE */, MAKEWPARAM(dpi, dpi),
                                        reinterpret_cast<LPARAM>(&size));
    RECT frame{};
    adjust(&frame, DWORD(GetWindowLongPtrW(main, GWL_STYLE)), GetMenu(main) != nullptr,
           DWORD(GetWindowLongPtrW(main, GWL_EXSTYLE)), UINT(dpi));
    std::printf("answer %ld size %ld %ld frame %ld %ld\n", long(answer), size.cx, size.cy, frame.right - frame.left,
                frame.bottom - frame.top);
    return 0;
}

// The walk's window: About opened from the menu first when asked for.
int msaaInside(HWND main, bool about, int argc, char** argv)
{
    if (about)
        SendMessageA(main, WM_COMMAND, walkMenu(GetMenu(main), "&About"), 0);
    pump(300);
    HWND hwnd = about ? FindWindowA(nullptr, "About") : main;
    return hwnd ? walk(hwnd, argc, argv) : 1;
}

int main(int argc, char** argv)
{
    const bool menus = argc == 2 && std::strcmp(argv[1], "menus") == 0;
    const bool keying = argc == 2 && std::strcmp(argv[1], "keys") == 0;
    const bool soaking = argc == 5 && std::strcmp(argv[1], "soak") == 0;
    const bool walking = argc >= 4 && std::strcmp(argv[1], "msaa") == 0;
    const bool sizing = argc == 3 && std::strcmp(argv[1], "scaled-size") == 0;
    if (!menus && !soaking && !keying && !walking && !sizing) {
        std::fprintf(stderr, "usage: lumeno_inproc menus | keys | scaled-size <dpi> | soak <about cycles> <moves> <clicks> | "
                             "msaa <in|out> <main|about> [act=<id>] [at=<x>,<y> ...]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool about = walking && std::strcmp(argv[3], "about") == 0;
    if (walking && std::strcmp(argv[2], "in") != 0) { // the program runs in another process
        HWND hwnd = FindWindowA(nullptr, about ? "About" : "Lumeno ControlPanel");
        return hwnd ? walk(hwnd, argc - 4, argv + 4) : 1;
    }
    tk::win32::Win32Backend backend(GetModuleHandleA(nullptr), {{IDP_SCENE, IDP_SCENE_2X}, {IDP_LOGO, IDP_LOGO_2X}});
    tk::BackendInstaller install(backend);
    Application app;
    app.Start();
    HWND hwnd = FindWindowA(nullptr, "Lumeno ControlPanel");
    if (!hwnd)
        return 1;
    if (walking)
        return msaaInside(hwnd, about, argc - 4, argv + 4);
    if (keying)
        return keys(hwnd);
    if (sizing)
        return scaledSize(hwnd, std::atoi(argv[2]));
    if (soaking)
        return soak(app, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    walkMenu(GetMenu(hwnd), nullptr);
    std::fflush(stdout);
    return 0;
}
