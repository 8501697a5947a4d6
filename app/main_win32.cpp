// Entry point of the Windows program. The command line is not read.
#include "frame.h"
#include "resource_ids.h"
#include "toolkit/win32/win32_backend.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Load DLLs from the system directory only, never from beside the program or the
    // current folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");

    tk::win32::Win32Backend backend(instance, {{IDP_SCENE, IDP_SCENE_2X}, {IDP_LOGO, IDP_LOGO_2X}});
    tk::BackendInstaller install(backend);
    Application app;
    if (!app.Start())
        return 1; // the main window could not be made
    return backend.runEventLoop();
}
