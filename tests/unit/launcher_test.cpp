// The applet launcher: which command line reaches the process start, and what never does.
#include "../../launcher/modControlPanels.h"
#include "test_support.h"
#include <climits>
#include <optional>
#include <set>
#include <string>
#include <utility>

using namespace testsupport;
using modControlPanels::ShowControlPanel;

namespace {

class LauncherTest : public ::testing::Test {
protected:
    HeadlessBackend backend;
    tk::BackendInstaller install{backend};
};

TEST_F(LauncherTest, EveryAppletNumberStartsItsCommandLineUnchanged)
{
    // Includes 5 and 10, which no hotspot passes, and the " @n" and ",,n" endings; each call
    // starts its own process.
    for (int n = 0; n < 15; ++n) {
        ShowControlPanel(n);
        ASSERT_EQ(backend.processStarts.size(), std::size_t(n) + 1) << n;
        const auto& start = backend.processStarts[std::size_t(n)];
        EXPECT_EQ(start.program, "rundll32.exe") << n;
        EXPECT_EQ(start.commandLine, kAppletCommands[n]) << n;
        EXPECT_EQ(start.showState, 5) << n;
    }
}

// The Control Panel file each classic line loads, and where one is documented, the line that
// opens the same settings today with the file that one needs.
struct Fallback {
    const char* classicFile;
    const char* modernLine;
    const char* modernFile;
    const char* modernProgram;
};
constexpr Fallback kFallbacks[15] = {
    {"sysdm.cpl"}, {"appwiz.cpl"}, {"timedate.cpl"}, {"desk.cpl"}, {"inetcpl.cpl"}, {"joy.cpl"}, {"main.cpl"},
    {"modem.cpl", "rundll32.exe shell32.dll,Control_RunDLL telephon.cpl", "telephon.cpl", "rundll32.exe"},
    {"main.cpl"}, {"mmsys.cpl"},
    {"netcpl.cpl", "rundll32.exe shell32.dll,Control_RunDLL ncpa.cpl", "ncpa.cpl", "rundll32.exe"},
    {"password.cpl", "control.exe /name Microsoft.UserAccounts", "control.exe", "control.exe"},
    {"intl.cpl"}, {"mmsys.cpl"}, {"sysdm.cpl"},
};

// What one click starts on a system directory holding exactly these files: program and line,
// or nothing.
std::optional<std::pair<std::string, std::string>> startOn(HeadlessBackend& backend, int applet,
                                                             std::set<std::string> files)
{
    backend.processStarts.clear();
    backend.systemFiles = std::move(files);
    ShowControlPanel(applet);
    if (backend.processStarts.empty())
        return std::nullopt;
    EXPECT_EQ(backend.processStarts.size(), 1u);
    EXPECT_EQ(backend.processStarts[0].showState, 5);
    return std::pair{backend.processStarts[0].program, backend.processStarts[0].commandLine};
}
using Start = std::optional<std::pair<std::string, std::string>>;

TEST_F(LauncherTest, TheClassicLineStartsWheneverItsFileIsInTheSystemDirectory)
{
    for (int n = 0; n < 15; ++n) {
        const Fallback& f = kFallbacks[n];
        const Start classic = std::pair{std::string("rundll32.exe"), std::string(kAppletCommands[n])};
        EXPECT_EQ(startOn(backend, n, {f.classicFile}), classic) << n;
        EXPECT_EQ(startOn(backend, n, {"RUNDLL32.EXE", "control.exe", "telephon.cpl", "ncpa.cpl",
                                       std::string(f.classicFile)}), classic) << n;
    }
}

TEST_F(LauncherTest, WithoutItsFileTheModernEquivalentThenTheControlPanelStarts)
{
    const Start controlPanel = std::pair{std::string("control.exe"), std::string("control.exe")};
    for (int n = 0; n < 15; ++n) {
        const Fallback& f = kFallbacks[n];
        if (f.modernLine) {
            const Start modern = std::pair{std::string(f.modernProgram), std::string(f.modernLine)};
            EXPECT_EQ(startOn(backend, n, {f.modernFile, "control.exe", "rundll32.exe"}), modern) << n;
            if (std::string(f.modernFile) != "control.exe")
                EXPECT_EQ(startOn(backend, n, {"control.exe", "rundll32.exe"}), controlPanel) << n;
        } else {
            EXPECT_EQ(startOn(backend, n, {"control.exe", "rundll32.exe", "telephon.cpl", "ncpa.cpl"}), controlPanel)
                << n;
        }
        EXPECT_EQ(startOn(backend, n, {"rundll32.exe", "explorer.exe"}), std::nullopt) << n << ": nothing left";
    }
    // Another applet's file is not this one's: main.cpl does not stand in for mmsys.cpl.
    EXPECT_EQ(startOn(backend, 9, {"main.cpl", "control.exe"}), controlPanel);
    EXPECT_EQ(startOn(backend, 7, {}), std::nullopt);
}

TEST_F(LauncherTest, NumbersOutsideTheTableStartNothing)
{
    for (int n : {-1, 15, 16, 100, INT_MAX, INT_MIN})
        ShowControlPanel(n);
    EXPECT_TRUE(backend.processStarts.empty());
}

TEST_F(LauncherTest, ARefusedStartIsSwallowed)
{
    backend.refuseProcessStarts = true;
    EXPECT_NO_THROW(ShowControlPanel(2));
    EXPECT_NO_THROW(modControlPanels::RunShellCommand("no-such-program.exe"));
    EXPECT_NO_THROW(modControlPanels::RunShellCommand(""));
    EXPECT_TRUE(backend.processStarts.empty());
    EXPECT_TRUE(backend.messageBoxes.empty());
}

} // namespace
