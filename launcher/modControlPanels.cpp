#include "modControlPanels.h"
#include "toolkit/backend.h"

namespace modControlPanels {

namespace {

// The file a command line needs in the system directory: the Control Panel file that the
// runner is to load, else the program itself.
std::string_view RequiredSystemFile(std::string_view commandLine)
{
    constexpr std::string_view runner = "rundll32.exe shell32.dll,Control_RunDLL ";
    if (commandLine.starts_with(runner)) {
        const std::string_view rest = commandLine.substr(runner.size());
        return rest.substr(0, rest.find_first_of(", "));
    }
    return commandLine.substr(0, commandLine.find(' '));
}

// The command line (one of the constant tables') the applet number opens on this system, empty when there is none: numbers
// outside 0 to 14, or nothing of the chain present.
std::string_view ChooseCommandLine(int appletNumber)
{
    if (appletNumber < 0 || appletNumber >= int(AppletCommands.size()))
        return {};
    auto present = [](std::string_view line) { return tk::backend().systemFileExists(RequiredSystemFile(line)); };
    const std::string_view classic = AppletCommands[std::size_t(appletNumber)];
    if (present(classic))
        return classic;
    for (const ModernEquivalent& modern : ModernEquivalents)
        if (modern.appletNumber == appletNumber && present(modern.commandLine))
            return modern.commandLine;
    if (present(ControlPanelCommand))
        return ControlPanelCommand;
    return {};
}

} // namespace

void ShowControlPanel(int appletNumber)
{
    const std::string_view commandLine = ChooseCommandLine(appletNumber);
    if (!commandLine.empty())
        RunShellCommand(std::string(commandLine));
}

void RunShellCommand(const std::string& commandLine)
{
    try {
        // The program is the first word; it is started from the system directory only.
        const std::string program = commandLine.substr(0, commandLine.find(' '));
        tk::backend().startSystemProgram(program, commandLine, tk::ShowState::Show);
    } catch (...) {
        // A click that cannot start its applet simply has no effect.
    }
}

} // namespace modControlPanels
