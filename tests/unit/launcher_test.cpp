// The applet launcher: which command line reaches the process start, and what never does.
#include "../../launcher/modControlPanels.h"
#include "test_support.h"
#include <climits>
#include <set>
#include <string>

using namespace testsupport;
using modControlPanels::ShowControlPanel;

namespace {

class LauncherTest : public ::testing::Test {
protected:
    HeadlessBackend backend;
    tk::BackendInstaller install{backend};

    // What one click starts on a system directory holding exactly these files, as
    // "program|command line", or "" for nothing.
    std::string startOn(int applet, std::set<std::string> files)
    {
        backend.processStarts.clear();
        backend.systemFiles = std::move(files);
        ShowControlPanel(applet);
        if (backend.processStarts.empty())
            return "";
        EXPECT_EQ(backend.processStarts.size(), 1u);
        EXPECT_EQ(backend.processStarts[0].showState, 5);
        return backend.processStarts[0].program + "|" + backend.processStarts[0].commandLine;
    }
};

TEST_F(LauncherTest, EveryAppletNumberStartsItsCommandLineUnchanged)
{
    // Includes 5 and 10, which no hotspot passes, and the " @n" and ",,n" endings; each call
    // starts its own process.
    for (int n = 0; n < 15; ++n) {
        ShowControlPanel(n);
        ASSERT_EQ(backend.processStarts.size(), std::size_t(n) + 1) << n;
        const auto& start = backend.processStarts.back();
        EXPECT_EQ(start.program, "rundll32.exe") << n;
        EXPECT_EQ(start.commandLine, kAppletCommands[n]) << n;
        EXPECT_EQ(start.showState, 5) << n;
    }
}

TEST_F(LauncherTest, TheClassicLineThenTheModernEquivalentThenTheControlPanelStarts)
{
    // The Control Panel file each classic line loads, and where one is documented, the
    // "program|line" that opens the same settings today with the file that one needs.
    const struct { const char *classicFile, *modern, *modernFile; } table[15] = {
        {"sysdm.cpl"}, {"appwiz.cpl"}, {"timedate.cpl"}, {"desk.cpl"}, {"inetcpl.cpl"}, {"joy.cpl"}, {"main.cpl"},
        {"modem.cpl", "rundll32.exe|rundll32.exe shell32.dll,Control_RunDLL telephon.cpl", "telephon.cpl"},
        {"main.cpl"}, {"mmsys.cpl"},
        {"netcpl.cpl", "rundll32.exe|rundll32.exe shell32.dll,Control_RunDLL ncpa.cpl", "ncpa.cpl"},
        {"password.cpl", "control.exe|control.exe /name Microsoft.UserAccounts", "control.exe"},
        {"intl.cpl"}, {"mmsys.cpl"}, {"sysdm.cpl"},
    };
    const std::string controlPanel = "control.exe|control.exe";
    for (int n = 0; n < 15; ++n) {
        const auto& f = table[n];
        const std::string classic = "rundll32.exe|" + std::string(kAppletCommands[n]);
        EXPECT_EQ(startOn(n, {f.classicFile}), classic) << n;
        EXPECT_EQ(startOn(n, {"RUNDLL32.EXE", "control.exe", "telephon.cpl", "ncpa.cpl", f.classicFile}), classic) << n;
        if (f.modern)
            EXPECT_EQ(startOn(n, {f.modernFile, "control.exe", "rundll32.exe"}), f.modern) << n;
        if (!f.modern) // the other applets' modern files do not stand in either
            EXPECT_EQ(startOn(n, {"control.exe", "rundll32.exe", "telephon.cpl", "ncpa.cpl"}), controlPanel) << n;
        else if (std::string(f.modernFile) != "control.exe")
            EXPECT_EQ(startOn(n, {"control.exe", "rundll32.exe"}), controlPanel) << n;
        EXPECT_EQ(startOn(n, {"rundll32.exe", "explorer.exe"}), "") << n << ": nothing left";
    }
    // Another applet's file is not this one's: main.cpl does not stand in for mmsys.cpl.
    EXPECT_EQ(startOn(9, {"main.cpl", "control.exe"}), controlPanel);
    EXPECT_EQ(startOn(7, {}), "");
}

TEST_F(LauncherTest, NumbersOutsideTheTableAndRefusedStartsDoNothing)
{
    for (int n : {-1, 15, 16, 100, INT_MAX, INT_MIN})
        ShowControlPanel(n);
    EXPECT_TRUE(backend.processStarts.empty());
    backend.refuseProcessStarts = true;
    EXPECT_NO_THROW(ShowControlPanel(2));
    EXPECT_NO_THROW(modControlPanels::RunShellCommand("no-such-program.exe"));
    EXPECT_NO_THROW(modControlPanels::RunShellCommand(""));
    EXPECT_TRUE(backend.processStarts.empty());
    EXPECT_TRUE(backend.messageBoxes.empty());
}

} // namespace
