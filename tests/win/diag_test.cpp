/*
 * diag_test.cpp - the fatal-error report and the levelled trace.
 *
 * In process: what the filter hook sees and that cancelling leaves the report ready
 * again; debugprint's levels and modes. In child processes (diagchild): the finished
 * text with its site lines (the headless box writes "Abort message:: <text>" to
 * standard error), the hooks, and both exit paths.
 */
#include "childrun.h"
#include "plat/win32.h"
#include "thistle/diag.h"
#include "thistle/mono.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<std::string> seen;

int32_t cancel(const char *text) {
    seen.emplace_back(text);
    return 0;
}

int32_t cancelandreport(const char *text) {
    seen.emplace_back(text);
    fatalerror("nested - IGNORED\n"); /* a report in progress: must return at once */
    return 0;
}

/* The filter sees the text before the site lines; cancelling clears the guard, and a
 * report from within the filter returns at once. */
TEST(FatalFilter, SeesTheFormattedMessageAndCancelLetsTheCallerGoOn) {
    fatalfilterhook = cancel;
    /* A report that went on after all would end the process with code 0, as a pass would. */
    ASSERT_EXIT(
        {
            fatalerror("first - CANCELLED\n");
            std::exit(42);
        },
        ::testing::ExitedWithCode(42), "");
    THISTLE_SITE("cmn\\x");
    fatalerror("reservememadr - OUT OF MEMORY\nrequested '%s': %d\n", "rowtbl", 640);
    fatalerror(nullptr);
    fatalfilterhook = cancelandreport;
    fatalerror("outer - FIRST\n");
    EXPECT_EQ(seen,
              (std::vector<std::string>{"reservememadr - OUT OF MEMORY\nrequested 'rowtbl': 640\n",
                                        "", "outer - FIRST\n"}));
    EXPECT_EQ(fatalactive, 0);
    fatalfilterhook = nullptr;
}

TEST(ErrorHelpers, ErrorText) {
    char buffer[40];
    memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(geterrortext(buffer), 0);
    EXPECT_STREQ(buffer, "[    0] sorry, not implemented");
    liberror = 65535;
    EXPECT_EQ(geterrortext(buffer), 65535);
    EXPECT_STREQ(buffer, "[65535] sorry, not implemented");
    EXPECT_EQ(geterrortext(nullptr), 65535);
}

/* ---- debugprint ------------------------------------------------------------------ */

class Trace : public ::testing::Test {
  protected:
    void TearDown() override {
        debugprintmode = 2;
    }
    /* What one debugprint call writes to standard output. */
    static std::string stdoutof(const int32_t *level, int32_t minimum, const char *text) {
        ::testing::internal::CaptureStdout();
        debugprint(level, minimum, "%s", text);
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(Trace, LevelDecidesWhetherTextIsWritten) {
    EXPECT_EQ(debugprintmode, 2);
    int32_t level = 4;
    EXPECT_EQ(stdoutof(nullptr, 1000, "[TEST] null level\n"), "[TEST] null level\n");
    EXPECT_EQ(stdoutof(&level, 4, "[TEST] equal\n"), "[TEST] equal\n");
    EXPECT_EQ(stdoutof(&level, 5, "[TEST] one above\n"), "");
    level = -3;
    EXPECT_EQ(stdoutof(&level, -3, "[TEST] negative\n"), "[TEST] negative\n");
}

/* The text is written unchanged ("%" intact, no second formatting) to the destination
 * the mode names: 2 standard output, 3 the text debug screen, 1 the debugger output
 * (copied to standard error when THISTLE_DEBUGOUT is set), others nowhere. */
TEST_F(Trace, ModesChooseTheDestinationAndTextIsUnchanged) {
    ::testing::internal::CaptureStdout();
    debugprint(nullptr, 0, "[TEST] %d%% %s\n", 50, "%d%s%n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[TEST] 50% %d%s%n\n");

    monosetpage(0);
    monosettop(0);
    monoputs("\f");
    debugprintmode = 3;
    EXPECT_EQ(stdoutof(nullptr, 0, "a%d%%"), "");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(monoscreen(0)), 10),
              std::string("a\7%\7d\7%\7%\7", 10));
    for (int32_t mode : {0, 4, -1}) {
        debugprintmode = mode;
        EXPECT_EQ(stdoutof(nullptr, 0, "gone"), "") << "mode " << mode;
    }
    EXPECT_EQ(monoscreen(0)[10], 0) << "other modes must not reach the screen";

    /* With no debugger attached the debugger output is dropped unless THISTLE_DEBUGOUT
     * is set (to any value, empty too). */
    debugprintmode = 1;
    for (bool copied : {false, true}) {
        copied ? setenv("THISTLE_DEBUGOUT", "", 1) : unsetenv("THISTLE_DEBUGOUT");
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(stdoutof(nullptr, 0, "[TEST] to the debugger\n"), "");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  copied ? "[TEST] to the debugger\n" : "");
    }
    unsetenv("THISTLE_DEBUGOUT");
}

/* ---- the finished report, in a child process ------------------------------------- */

/* The site line the child's report carries, from the "line N" it printed first. */
std::string siteline(const childrun::result &r) {
    int line = 0;
    EXPECT_EQ(sscanf(r.out.c_str(), "line %d", &line), 1) << r.out;
    return "FILE cmn\\x LINE " + std::to_string(line) + " FUNCTION \n";
}

/* The finished text of each kind of report; "@" stands for the site line. Overlong
 * text is cut at 511 characters and loses the site line. */
TEST(FatalReport, TextAndSiteLines) {
    const struct {
        const char *kind;
        std::string text;
    } cases[] = {
        {"site", "child - SITE\n@"},
        {"callersite",
         "child - WITH CALLER\n@CALLED FROM FILE game\\main LINE 99 FUNCTION caller\n"},
        {"null", "@"},
        {"nosite", "child - NO SITE\n"},
        {"nofile", "child - NO FILE\n"},
        {"long", std::string(511, 'x')},
    };
    for (const auto &c : cases) {
        childrun::result r = childrun::run({"report", c.kind});
        EXPECT_EQ(r.status, 0) << c.kind;
        std::string text = c.text;
        if (size_t at = text.find('@'); at != std::string::npos) {
            text.replace(at, 1, siteline(r));
        }
        EXPECT_EQ(r.err, "Abort message:: " + text + "\n") << c.kind;
    }
}

TEST(FatalReport, HooksRunInOrderOnceAndTheLockIsLeft) {
    childrun::result r = childrun::run({"hooks"});
    EXPECT_EQ(r.status, 0);
    /* The first hook's own report returned at once; the exit function found the lock
     * that the lock hook had entered free again. */
    EXPECT_EQ(r.out, "first\ninner returned\nlock\nstop\nlock free\n");
    EXPECT_EQ(r.err.find("Abort message:"), r.err.rfind("Abort message:")) << r.err;
    EXPECT_EQ(r.err.find("inner"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("child - HOOKS\n"), std::string::npos) << r.err;
}

/* The copy comes before the hook; from a second thread, where the process ends at once,
 * the copy still reaches a file or pipe (nothing else flushes it there). */
TEST(FatalReport, OutOfMemoryCopyGoesToStandardOutputBeforeItsHook) {
    const std::string text = "createwindowadr - OUT OF MEMORY\nFILE cmn\\x LINE ";
    childrun::result r = childrun::run({"oom"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find(text), 0u) << r.out;
    EXPECT_TRUE(r.out.ends_with("\noom hook\n")) << r.out;
    r = childrun::run({"oom", "thread"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find(text), 0u) << r.out;
}

/* The main thread leaves through the exit functions; another thread ends the process at
 * once: no exit functions, and the main thread does not go on. */
TEST(FatalExit, MainThreadRunsExitFunctionsOtherThreadEndsAtOnce) {
    for (auto [where, out, err] :
         {std::tuple{"main", "exit b\nexit a\n", "MAIN THREAD\nvalue: 7\n"},
          std::tuple{"thread", "", "OTHER THREAD\n"}}) {
        childrun::result r = childrun::run({"fatal", where});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, out) << where;
        EXPECT_EQ(r.err.find("Abort message:: child - " + std::string(err) + "FILE cmn\\x LINE "),
                  0u)
            << r.err;
    }
}

} // namespace
