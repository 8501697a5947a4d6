// Test companion that links the program's own windows over the real Win32 backend and reads
// what another process may not.
//   lumeno_inproc menus   prints one menu caption a line, depth-first, "-" for separators
//   lumeno_inproc soak <about cycles> <pointer moves> <clicks>
//       drives the windows by sending them the messages a person's input makes: the About
//       menu command and WM_CLOSE to the About window, mouse moves over the picture and the
//       strip, clicks on the hotspots. Prints its own object counts and memory as one JSON
//       line on stderr after a warm-up round ("before"), after half the run ("middle") and at
//       the end ("after").
//   lumeno_inproc msaa out <main|about> [act=<child id>] [at=<x>,<y> ...]
//       walks a window of the program running in another process through
//       AccessibleObjectFromWindow, as a screen reader does. Prints the child count, each child
//       (role, state, location in screen pixels, name, default action), the focus, the child
//       hit at each client point given, and the result of the default action of one child,
//       then pumps messages for a second.
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
        if (UINT id = sub ? walkMenu(sub, caption) : 0)
            return id;
        if (!sub && caption && std::strcmp(text, caption) == 0)
            return GetMenuItemID(menu, i);
    }
    return 0;
}

// Dispatches what is queued, then keeps pumping for ms (timers, paints).
void pump(DWORD ms = 0)
{
    const DWORD end = GetTickCount() + ms;
    for (MSG msg;; MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT)) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (LONG(GetTickCount() - end) >= 0)
            return;
    }
}

void counts(const char* phase)
{
    unsigned gdi = 0, kinds[16]{}, windows = 0, menus = 0, icons = 0, handles = 0;
    for (ULONG_PTR h = 0; h <= 0xFFFF; ++h)
        if (DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(h)))
            ++gdi, ++kinds[type & 15];
    for (ULONG_PTR h = 0x20; h <= 0xFFFF; h += 2) {
        DWORD pid = 0;
        HWND w = reinterpret_cast<HWND>(h);
        windows += IsWindow(w) && GetWindowThreadProcessId(w, &pid) && pid == GetCurrentProcessId();
        menus += IsMenu(reinterpret_cast<HMENU>(h)) != FALSE;
        ICONINFO ii{};
        if (GetIconInfo(reinterpret_cast<HICON>(h), &ii)) { // copies its bitmaps: free them
            ++icons;
            DeleteObject(ii.hbmMask);
            if (ii.hbmColor)
                DeleteObject(ii.hbmColor);
        }
    }
    std::map<std::string, unsigned> handleTypes;
    for (ULONG_PTR h = 4; h <= 0xFFFF; h += 4)
        if (DWORD flags = 0; GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags))
            ++handles, ++handleTypes[handleType(reinterpret_cast<HANDLE>(h))];
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

int soak(Application& app, HWND main, int aboutCycles, int moves, int clicks)
{
    const tk::RectPx picture = app.MainWindow().Picture1.clientRect(); // the scene's area in the form's client pixels
    const UINT aboutId = walkMenu(GetMenu(main), "&About");
    const auto inPicture = [&](int x, int y) { return MAKELPARAM(picture.left + x, picture.top + y); };
    const auto aboutCycle = [&](int i) {
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
    };
    const auto move = [&](int i) {
        SendMessageA(main, WM_MOUSEMOVE, 0, i % 8 == 7 // the strip belongs to the form itself
                         ? MAKELPARAM(3 + (i * 37) % 427, 344 + i % 20)
                         : inPicture((i * 7) % picture.width(), (i * 13) % picture.height()));
        pump();
    };
    const auto click = [&](int i) { // on a hotspot's middle: whichever hotspot takes it starts one applet
        const HotspotEntry& h = Hotspots[std::size_t(i) % Hotspots.size()];
        const LPARAM at = inPicture((h.left + h.width / 2) / 15, (h.top + h.height / 2) / 15);
        SendMessageA(main, WM_MOUSEMOVE, 0, at);
        SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(main, WM_LBUTTONUP, 0, at);
        pump();
    };
    if (!aboutId) {
        std::fprintf(stderr, "soak: main window or About command not found\n");
        return 1;
    }
    pump(200);
    // Warm-up: what stays cached for the program's life (fonts, the shell, the common
    // controls) is made before the first count.
    for (int i = 0; i < 3; ++i)
        if (!aboutCycle(i))
            return 3;
    for (int i = 0; i < 500; ++i)
        move(i);
    if (clicks > 0)
        click(0);
    pump(300);
    counts("before");
    const DWORD start = GetTickCount();
    // In two equal halves, counted between them: what leaks grows in both.
    for (int half = 0; half < 2; ++half) {
        for (int i = half * aboutCycles / 2; i < (half + 1) * aboutCycles / 2; ++i)
            if (!aboutCycle(i)) {
                std::fprintf(stderr, "soak: About cycle %d failed\n", i);
                return 3;
            }
        for (int i = half * moves / 2; i < (half + 1) * moves / 2; ++i)
            move(i);
        for (int i = std::max(1, half * clicks / 2); i < (half + 1) * clicks / 2; ++i)
            click(i);
        pump(300);
        if (half == 0)
            counts("middle");
    }
    std::fprintf(stderr, "soak: %lu ms\n", GetTickCount() - start);
    counts("after");
    return 0;
}

std::string utf8(BSTR s)
{
    if (!s)
        return "(none)";
    std::string out(std::size_t(std::max(0, WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr) - 1)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), int(out.size()) + 1, nullptr, nullptr); // and the terminator
    SysFreeString(s);
    return out;
}

VARIANT childId(LONG id)
{
    VARIANT v{};
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
        VARIANT role{}, state{};
        BSTR name = nullptr, action = nullptr;
        long l = 0, t = 0, w = 0, h = 0;
        acc->get_accRole(child, &role);
        acc->get_accState(child, &state);
        acc->get_accName(child, &name);
        acc->get_accDefaultAction(child, &action);
        acc->accLocation(&l, &t, &w, &h, child);
        std::printf("child %ld role %ld state 0x%lx loc %ld %ld %ld %ld name \"%s\" action \"%s\"\n", id,
                    role.vt == VT_I4 ? role.lVal : -1L, state.vt == VT_I4 ? state.lVal : 0L, l, t, w, h,
                    utf8(name).c_str(), utf8(action).c_str());
    }
    VARIANT focus{};
    acc->get_accFocus(&focus);
    std::printf("focus %d %ld\n", focus.vt, focus.vt == VT_I4 ? focus.lVal : 0L);
    for (int i = 0; i < argc; ++i) {
        POINT p{};
        LONG act = 0;
        if (std::sscanf(argv[i], "at=%ld,%ld", &p.x, &p.y) == 2) {
            const POINT client = p;
            ClientToScreen(hwnd, &p);
            VARIANT hit{};
            acc->accHitTest(p.x, p.y, &hit);
            std::printf("hit %ld,%ld %d %ld\n", client.x, client.y, hit.vt, hit.vt == VT_I4 ? hit.lVal : 0L);
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
    // Bits 30 and 31 of lParam: the key was down before this message; it is being released.
    constexpr LPARAM repeat = LPARAM(1) << 30, up = LPARAM(3) << 30;
    for (WPARAM vk : {VK_HOME, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_RETURN}) {
        SendMessageA(main, WM_KEYDOWN, vk, 1);
        for (int i = 0; vk == VK_RETURN && i < 3; ++i)
            SendMessageA(main, WM_KEYDOWN, vk, 1 | repeat);
        SendMessageA(main, WM_KEYUP, vk, 1 | up);
    }
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
    RECT frame{};
    const LRESULT answer = SendMessageW(main, 0x02E4 /* WM_GETDPISCALEDSIZE */, MAKEWPARAM(dpi, dpi),
                                        reinterpret_cast<LPARAM>(&size));
    adjust(&frame, DWORD(GetWindowLongPtrW(main, GWL_STYLE)), GetMenu(main) != nullptr,
           DWORD(GetWindowLongPtrW(main, GWL_EXSTYLE)), UINT(dpi));
    std::printf("answer %ld size %ld %ld frame %ld %ld\n", long(answer), size.cx, size.cy, frame.right - frame.left,
                frame.bottom - frame.top);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (command == "msaa" && argc >= 4 && std::strcmp(argv[2], "out") == 0) { // the program runs in another process
        HWND hwnd = FindWindowA(nullptr, std::strcmp(argv[3], "about") == 0 ? "About" : "Lumeno ControlPanel");
        return hwnd ? walk(hwnd, argc - 4, argv + 4) : 1;
    }
    const int wanted = command == "menus" || command == "keys" ? 2 : command == "scaled-size" ? 3 : command == "soak" ? 5 : -1;
    if (argc != wanted) {
        std::fprintf(stderr, "usage: lumeno_inproc menus | keys | scaled-size <dpi> | soak <about cycles> <moves> <clicks> | "
                             "msaa out <main|about> [act=<id>] [at=<x>,<y> ...]\n");
        return 2;
    }
    tk::win32::Win32Backend backend(GetModuleHandleA(nullptr), {{IDP_SCENE, IDP_SCENE_2X}, {IDP_LOGO, IDP_LOGO_2X}});
    tk::BackendInstaller install(backend);
    Application app;
    app.Start();
    HWND hwnd = FindWindowA(nullptr, "Lumeno ControlPanel");
    if (!hwnd)
        return 1;
    if (command == "keys")
        return keys(hwnd);
    if (command == "scaled-size")
        return scaledSize(hwnd, std::atoi(argv[2]));
    if (command == "soak")
        return soak(app, hwnd, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    walkMenu(GetMenu(hwnd), nullptr);
    std::fflush(stdout);
    return 0;
}
