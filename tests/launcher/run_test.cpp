// The launcher end to end: the built thistlerun runs scripted children (scriptchild,
// copied in as "frontend.run", "game.run", "game2.run") in a temporary installation
// named by a temporary registry file, headless, each case in its own mutex session.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plat/win32.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char optionsfile[] = "Brambleshot settings\n1\n2\n3\n4\n5\n6\n7\n8\n5\n11\n12\n0\n";

std::string le32(int32_t v) {
    std::string s;
    for (int i = 0; i < 4; i++)
        s.push_back((char)((uint32_t)v >> (8 * i)));
    return s;
}

/* One line of children.log: its key=value words. */
using Seen = std::map<std::string, std::string>;

struct Outcome {
    bool exited = false;
    int status = -1;
    double seconds = 0;
    std::string err;
    bool said(const std::string &text) const {
        return err.find(text) != std::string::npos;
    }
};

class LauncherRun : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/thistlerun-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = fs::canonical(pattern).string();
        dir = root + "/install";
        fs::create_directories(dir + "/options");
        for (const char *name : {"frontend.run", "game.run", "game2.run"})
            fs::copy_file(SCRIPTCHILD_PATH, dir + "/" + name);
        registry = root + "/registry.reg";
        session = "launchertest-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setpath(dir);
    }
    void TearDown() override {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(root);
    }

    /* The "Path" value, escaped the regedit way. */
    void setpath(const std::string &path) {
        std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vornholt\\Brambleshot "
                           "Demo]\n\"Path\"=\"";
        for (char c : path)
            text += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
        put(registry, text + "\"\n");
    }
    void script(std::initializer_list<std::string> lines) {
        std::string text;
        for (const std::string &line : lines)
            text += line + "\n";
        put(dir + "/script.txt", text);
    }
    static void put(const std::string &path, const std::string &content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string get(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string file(const std::string &name) const {
        return get(dir + "/" + name);
    }
    bool has(const std::string &name) const {
        return fs::exists(dir + "/" + name);
    }
    std::vector<Seen> children() const {
        std::vector<Seen> runs;
        std::ifstream in(dir + "/children.log");
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            runs.emplace_back();
            for (std::string word; words >> word;)
                runs.back()[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
        }
        return runs;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (Seen s : children())
            out.push_back(s["name"]);
        return out;
    }

    /* Starts thistlerun in cwd, in a process group of its own (so that its children can
     * be killed with it), headless, its debug lines on, standard output and error going
     * to a file. */
    void start(const std::string &cwd) {
        std::vector<std::string> env = {"THISTLE_VIDEO=null", "THISTLE_SESSION=" + session,
                                        "THISTLE_REGISTRY=" + registry, "THISTLE_DEBUGOUT=1"};
        for (char **e = environ; *e; e++)
            if (strncmp(*e, "THISTLE_", 8) != 0 && strstr(*e, "DISPLAY=") == nullptr)
                env.push_back(*e);
        std::vector<char *> envp;
        for (std::string &s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string program = THISTLERUN_PATH;
        char *argv[] = {program.data(), nullptr};
        std::string errpath = root + "/launcher.err";

        began = Clock::now();
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setpgid(0, 0);
            int fd = open(errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || chdir(cwd.c_str()) != 0)
                _exit(126);
            dup2(fd, 1);
            dup2(fd, 2);
            if (ignoresigchld)
                signal(SIGCHLD, SIG_IGN); // kept across execve
            execve(argv[0], argv, envp.data());
            _exit(127);
        }
        setpgid(pid, pid);
        launched = pid;
    }

    /* Runs thistlerun in cwd (default: outside the installation) for up to limit s; it
     * must end with 0. */
    Outcome run(const std::string &cwd = "", double limit = 30) {
        start(cwd.empty() ? root : cwd);
        Outcome out;
        while (Clock::now() < began + std::chrono::duration<double>(limit)) {
            if (waitpid(pid, &out.status, WNOHANG) == pid) {
                out.exited = true;
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        out.seconds = std::chrono::duration<double>(Clock::now() - began).count();
        out.err = get(root + "/launcher.err");
        EXPECT_TRUE(out.exited) << "launcher still running; stderr: " << out.err;
        EXPECT_TRUE(out.exited && WIFEXITED(out.status) && WEXITSTATUS(out.status) == 0)
            << "status " << out.status << "; stderr: " << out.err;
        return out;
    }

    std::string root;
    std::string dir;
    std::string registry;
    std::string session;
    pid_t pid = -1;      // running launcher, -1 once reaped
    pid_t launched = -1; // the last launcher started
    bool ignoresigchld = false;
    Clock::time_point began;
};

using Names = std::vector<std::string>;

// ---- the loop and the control files ---------------------------------------------------

TEST_F(LauncherRun, FrontEndAndGameAlternateWithoutOptions) {
    // A FIFO is no options file, and must not hang the launcher waiting for a writer.
    ASSERT_EQ(mkfifo((dir + "/options/options.txt").c_str(), 0644), 0);
    put(dir + "/options/mp.dat", le32(0)); // not looked at without options.txt
    setpath(dir + "\\");                   // a trailing backslash is taken as it is
    script({"quit=1", "quit=1", "quit=0"});
    Outcome out = run();
    std::vector<Seen> seen = children();
    ASSERT_EQ(names(), (Names{"frontend.run", "game.run", "frontend.run"}));

    // The front end's command line carries the token and the launcher's process id; the
    // launcher made the installation directory current for both children.
    EXPECT_EQ(seen[0]["argv"], "frontend.run|QTX_BRAMBLE|" + std::to_string(launched));
    for (Seen &child : seen)
        EXPECT_EQ(child["cwd"], dir);

    // quit.dat starts at 0; ft.dat is 1 only during the first front end.
    EXPECT_EQ(seen[0]["quit"], "0");
    EXPECT_EQ(seen[0]["ft"], "1");
    EXPECT_EQ(seen[1]["ft"], "0");
    EXPECT_EQ(seen[2]["ft"], "0");
    EXPECT_EQ(file("options/menu.dat"), le32(2));

    // No first-run work without options.txt.
    EXPECT_FALSE(has("options/firsttimefe.txt"));
    EXPECT_FALSE(has("options/sfx.dat"));
    // The game follows the front end's poll and the quit.dat read. Only lower bounds of
    // sleeps hold on a loaded machine, so the missing one-second pause is not asserted.
    EXPECT_GE(std::stoll(seen[1]["t"]) - std::stoll(seen[0]["t"]), 1000);
    EXPECT_TRUE(out.said("thistlerun: quit.dat is 0 or missing after frontend.run")) << out.err;
}

TEST_F(LauncherRun, GameVariantOnlyWithSfxAndMpBothAtZero) {
    put(dir + "/options/options.txt", optionsfile);
    put(dir + "/options/firsttimefe.txt", le32(1)); // not the first run
    script({"sfx=0 mp=0 quit=1", "quit=1", "sfx=0 mp=1 quit=1", "quit=1", "sfx=1 mp=0 quit=1",
            "quit=1", "sfx=-1 mp=0 quit=1", "quit=0"});
    run("", 50);
    EXPECT_EQ(names(), (Names{"frontend.run", "game2.run", "frontend.run", "game.run",
                              "frontend.run", "game.run", "frontend.run", "game2.run"}));
    // With options.txt seen the game waits a second more: at least 3.1 s from the front
    // end's start, less what a slow start-up of the front end itself takes off.
    std::vector<Seen> seen = children();
    EXPECT_GE(std::stoll(seen[1]["t"]) - std::stoll(seen[0]["t"]), 2600);
    EXPECT_FALSE(has("options/sfx.dat"));
}

// ---- first run of an installation -----------------------------------------------------

TEST_F(LauncherRun, FirstRunOnFastThenOnSlowMachine) {
    const std::string options =
        "Brambleshot settings\r\n1\n2\n3\n4\n5\n6\n7\n8\n  7 loud\n11\n12\n1\n";
    put(dir + "/options/options.txt", options);
    put(dir + "/options/speed.txt", "70000\n100\n");
    script({"quit=0"});
    run();
    ASSERT_EQ(children().size(), 1u);
    EXPECT_EQ(children()[0]["sfxdat"], "7"); // written before the front end starts
    EXPECT_EQ(file("options/options.txt"), options);
    EXPECT_EQ(file("options/firsttimefe.txt"), le32(1));
    EXPECT_FALSE(has("options/opt.dat"));
    EXPECT_FALSE(has("options/screen.dat"));

    fs::remove(dir + "/options/firsttimefe.txt");
    fs::remove(dir + "/children.log");
    put(dir + "/options/options.txt", optionsfile);
    put(dir + "/options/speed.txt", "35000\n200\n");
    run();
    EXPECT_EQ(children().at(0)["sfxdat"], "0");
    // Slow: sound effects are off in both option files, and the small screen is chosen.
    EXPECT_NE(file("options/options.txt").find("\n8    \n0    \n11    \n"), std::string::npos);
    EXPECT_EQ(file("options/opt.dat").substr(32, 4), le32(0));
    EXPECT_TRUE(has("options/screen.dat"));
}

// ---- crashes and odd exit codes -------------------------------------------------------

TEST_F(LauncherRun, OtherExitCodesAreNormalEndsSegvAndSigfpeAreCrashes) {
    script(
        {"quit=1 exit=3", "quit=1 exit=0xC000001D", "quit=1 exit=0xFFFFFFFF", "quit=1 exit=segv"});
    Outcome out = run();
    EXPECT_EQ(names(), (Names{"frontend.run", "game.run", "frontend.run", "game.run"}));
    // The one message is the game's crash, which ends the loop.
    EXPECT_EQ(out.err.find("Application Error"),
              out.err.find("Application Error: Access Violation\n"))
        << out.err;
    EXPECT_EQ(out.err.find("Application Error"), out.err.rfind("Application Error")) << out.err;

    // A front end dying by SIGFPE stops the loop before the game, also when a parent
    // handed SIGCHLD on ignored (the children's ends must still be seen).
    ignoresigchld = true;
    fs::remove(dir + "/children.log");
    fs::remove(dir + "/options/menu.dat");
    script({"quit=1 exit=fpe"});
    out = run();
    EXPECT_TRUE(out.said("Application Error: Interger Divide By 0\n")) << out.err;
    EXPECT_EQ(names(), (Names{"frontend.run"}));
    EXPECT_EQ(file("ft.dat"), le32(1)); // not cleared after a crash
    EXPECT_EQ(file("options/menu.dat"), le32(2));
}

TEST_F(LauncherRun, ChildExitingWith259IsPolledOnAndOnASecondInstanceExitsAtOnce) {
    script({"quit=1 exit=still"});
    start(root);
    std::this_thread::sleep_for(std::chrono::seconds(6));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "launcher ended";
    EXPECT_EQ(names(), (Names{"frontend.run"}));
    EXPECT_FALSE(has("options/menu.dat"));

    // A second instance meanwhile ends at once, touching nothing.
    const pid_t first = pid;
    Outcome out = run("", 10);
    pid = first; // killed when the case ends
    EXPECT_LT(out.seconds, 1.9);
    EXPECT_EQ(names(), (Names{"frontend.run"}));
    EXPECT_EQ(file("quit.dat"), le32(1));
    EXPECT_FALSE(fs::exists(root + "/quit.dat"));
    EXPECT_TRUE(out.said("thistlerun: another copy is running")) << out.err;
}

// ---- entry: the registry --------------------------------------------------------------

// Without the key the run goes on in the directory it was started in, and a missing game
// still lets the end steps run.
TEST_F(LauncherRun, MissingKeyIsCreatedMissingGameRunsTheEndSteps) {
    put(registry, "REGEDIT4\n\n");
    fs::remove(dir + "/game.run");
    script({"quit=1 patch=1"});
    Outcome out = run(dir);
    ASSERT_EQ(names(), (Names{"frontend.run"}));
    EXPECT_EQ(children()[0]["cwd"], dir);
    EXPECT_NE(get(registry).find("Brambleshot Demo]"), std::string::npos) << get(registry);
    EXPECT_TRUE(out.said("thistlerun: no installation directory")) << out.err;
    EXPECT_EQ(file("options/menu.dat"), le32(2));
    EXPECT_FALSE(out.said("Application Error")) << out.err;
    EXPECT_TRUE(out.said("thistlerun: cannot start game.run (error 2)")) << out.err;
    // Front end poll (2 s) + quit.dat (0.1 s) + the patch wait (2 s), at the least.
    EXPECT_GE(out.seconds, 4.1);
}

} // namespace
