// The applet launcher: applet numbers 0 to 14 to fixed Control Panel command lines, started as
// independent processes. Keeps nothing, waits for nothing, reports nothing.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace modControlPanels {

inline constexpr std::array<std::string_view, 15> AppletCommands{
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl @1",     // 0
    "rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1",    // 1
    "rundll32.exe shell32.dll,Control_RunDLL timedate.cpl",     // 2
    "rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0",      // 3
    "rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0",   // 4
    "rundll32.exe shell32.dll,Control_RunDLL joy.cpl",          // 5
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @1",      // 6
    "rundll32.exe shell32.dll,Control_RunDLL modem.cpl",        // 7
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @0",      // 8
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl,,0",     // 9
    "rundll32.exe shell32.dll,Control_RunDLL netcpl.cpl",       // 10
    "rundll32.exe shell32.dll,Control_RunDLL password.cpl",     // 11
    "rundll32.exe shell32.dll,Control_RunDLL intl.cpl,,0",      // 12
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl @1",     // 13
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl,,0",     // 14
};

// Starts the command line of the applet number; numbers outside 0 to 14 do nothing.
void ShowControlPanel(int appletNumber);

// Starts a command line as a new process shown with state 5 and returns at once. Every
// failure is swallowed.
void RunShellCommand(const std::string& commandLine);

} // namespace modControlPanels
