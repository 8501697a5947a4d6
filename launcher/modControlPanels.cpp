#include "modControlPanels.h"
#include "../toolkit/backend.h"

namespace modControlPanels {

void ShowControlPanel(int appletNumber)
{
    if (appletNumber < 0 || appletNumber >= int(AppletCommands.size()))
        return;
    RunShellCommand(std::string(AppletCommands[std::size_t(appletNumber)]));
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
