#include "modControlPanels.h"
#include "../toolkit/backend.h"

namespace modControlPanels {

std::string RequiredSystemFile(std::string_view commandLine)
{
    constexpr std::string_view runner = "rundll32.exe shell32.dll,Control_RunDLL ";
    if (commandLine.starts_with(runner)) {
        const std::string_view rest = commandLine.substr(runner.size());
        return std::string(rest.substr(0, rest.find_first_of(", ")));
    }
    return std::string(commandLine.substr(0, commandLine.find(' ')));
}

std::string ChooseCommandLine(int appletNumber)
{
    if (appletNumber < 0 || appletNumber >= int(AppletCommands.size()))
        return {};
    auto present = [](std::string_view line) { return tk::backend().systemFileExists(RequiredSystemFile(line)); };
    const std::string_view classic = AppletCommands[std::size_t(appletNumber)];
    if (present(classic))
        return std::string(classic);
    for (const ModernEquivalent& modern : ModernEquivalents)
        if (modern.appletNumber == appletNumber && present(modern.commandLine))
            return std::string(modern.commandLine);
    if (present(ControlPanelCommand))
        return std::string(ControlPanelCommand);
    return {};
}

void ShowControlPanel(int appletNumber)
{
    const std::string commandLine = ChooseCommandLine(appletNumber);
    if (!commandLine.empty())
        RunShellCommand(commandLine);
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
