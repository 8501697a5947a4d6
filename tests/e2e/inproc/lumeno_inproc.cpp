// Test companion that links the program's own windows over the real Win32 backend and reads
// what another process may not: the main window's menu, read back from the live HMENU.
//   lumeno_inproc menus   prints one menu caption a line, depth-first, "-" for separators
#include "../../../app/frame.h"
#include "../../../app/toolkit/win32/win32_backend.h"
#include "../../../mainwindow/frmCPanel.h"
#include <objbase.h>
#include <cstdio>
#include <cstring>

namespace {

void printMenu(HMENU menu)
{
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128]{};
        MENUITEMINFOA info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof(text) - 1;
        GetMenuItemInfoA(menu, UINT(i), TRUE, &info);
        std::printf("%s\n", (info.fType & MFT_SEPARATOR) ? "-" : text);
        if (info.hSubMenu)
            printMenu(info.hSubMenu);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "menus") != 0) {
        std::fprintf(stderr, "usage: lumeno_inproc menus\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    tk::win32::Win32Backend backend(GetModuleHandleA(nullptr));
    tk::BackendInstaller install(backend);
    Application app;
    app.Start();
    HWND hwnd = FindWindowA("LumenoForm", "Lumeno ControlPanel");
    if (!hwnd)
        return 1;
    printMenu(GetMenu(hwnd));
    std::fflush(stdout);
    return 0;
}
