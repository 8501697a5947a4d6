// The applet launcher: which command line reaches the process start, and what never does.
#include "../../launcher/modControlPanels.h"
#include "test_support.h"
#include <climits>

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
