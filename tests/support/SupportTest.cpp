// The toolkit's promises the other tests lean on: a child is never left
// behind and its output, environment and status reach the test; a missing
// capture fails where CI is set; a terminal in place of a stream never fills.
#include "support/Files.h"
#include "support/Process.h"
#include "support/Terminal.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace
{
using moostest::Process;

TEST(ProcessTest, OutputEnvironmentAndStatusReachTheTestAndNoChildOutlivesItsObject)
{
    ::setenv("MOOSTEST_WORD", "parent's", 1);
    Process child({"/bin/sh", "-c", "echo \"$MOOSTEST_WORD\"; echo two; echo oops >&2; exit 3"},
                  {{"MOOSTEST_WORD=mine"}, {}});
    ::unsetenv("MOOSTEST_WORD");
    EXPECT_EQ(child.NextLine(), "mine");
    EXPECT_EQ(child.NextLine(), "two");
    EXPECT_EQ(child.NextLine(), "");
    EXPECT_EQ(child.WaitExit(), 3);
    EXPECT_EQ(child.Stderr(), "oops\n");
    pid_t left = -1;
    {
        Process sleeper({"/bin/sleep", "60"});
        ASSERT_TRUE(sleeper.Running());
        left = sleeper.Pid();
    }
    EXPECT_EQ(::kill(left, 0), -1) << "the child outlived its object";
}

TEST(CaptureTest, MissingCaptureFailsOnlyWhereCiIsSet)
{
    const char* const saved = std::getenv("CI");
    const std::string kept = saved != nullptr ? saved : "";
    const moostest::TempDir dir;
    const std::string present = dir.Write("present.nmea", "$GPGGA\r\n");
    const std::string absent = dir / "absent.nmea";
    const struct
    {
        const char* ci;
        std::string path;
        int failures;
    } cases[] = {{nullptr, present, 0},
                 {"true", present, 0},
                 {nullptr, absent, 0},
                 {"", absent, 0},
                 {"true", absent, 1}};
    for (const auto& c : cases)
    {
        c.ci != nullptr ? ::setenv("CI", c.ci, 1) : ::unsetenv("CI");
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter catcher(&failures);
            EXPECT_EQ(moostest::HaveCapture(c.path), c.path == present);
        }
        EXPECT_EQ(failures.size(), c.failures) << (c.ci ? c.ci : "CI unset") << " " << c.path;
    }
    saved != nullptr ? ::setenv("CI", kept.c_str(), 1) : ::unsetenv("CI");
}

TEST(TerminalStreamTest, CollectsMoreThanTheTerminalHoldsAndGivesTheStreamBack)
{
    const bool wasTerminal = ::isatty(STDERR_FILENO) != 0;
    moostest::TerminalStream terminal(STDERR_FILENO);
    ASSERT_TRUE(terminal.IsOpen() && ::isatty(STDERR_FILENO));
    const std::string text(300000, 'x');
    for (std::size_t done = 0; done < text.size();)
    {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(terminal.Restore(), text);
    EXPECT_EQ(::isatty(STDERR_FILENO) != 0, wasTerminal);
}
} // namespace
