// The applet launcher: applet numbers 0 to 14 to fixed Control Panel command lines, started as
// independent processes. Keeps nothing, waits for nothing, reports nothing.
// Many of the classic Control Panel files are gone from today's systems, where their line would
// start a runner that silently loads nothing. So at each call the launcher asks the system
// directory for the line's file: present, the classic line starts unchanged; absent, the
// documented modern equivalent starts if its program is there, else the Control Panel itself.
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

// Where a classic file no longer ships, the line that opens the same settings today.
struct ModernEquivalent {
    int appletNumber;
    std::string_view commandLine;
};
inline constexpr std::array<ModernEquivalent, 3> ModernEquivalents{{
    {7, "rundll32.exe shell32.dll,Control_RunDLL telephon.cpl"},  // Phone and Modem
    {10, "rundll32.exe shell32.dll,Control_RunDLL ncpa.cpl"},     // Network Connections
    {11, "control.exe /name Microsoft.UserAccounts"},             // User Accounts
}};

// The last resort: the Control Panel, which lists the applets the system does have.
inline constexpr std::string_view ControlPanelCommand = "control.exe";

// Starts the command line chosen for the applet number; when there is none, does nothing.
void ShowControlPanel(int appletNumber);

// Starts a command line as a new process shown with state 5 and returns at once. Every
// failure is swallowed.
void RunShellCommand(const std::string& commandLine);

} // namespace modControlPanels
