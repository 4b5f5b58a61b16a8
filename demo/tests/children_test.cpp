/*
 * demo/tests/children_test.cpp - the built children run as the launcher runs them: in an
 * installation directory, with or without a terminal, leaving the control files behind.
 *
 * "With a terminal" is played by THISTLE_DEMO_INTERACTIVE=1 and keys from a file; the
 * children's output is captured for the checks that need it.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int code;
    std::string out;
};

class Children : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/demo_children_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "options");
    }
    void TearDown() override {
        fs::remove_all(dir_);
    }

    /* Runs `program` in the installation. Empty `keys`: no terminal (input from
     * /dev/null); otherwise the child is told to ask and reads `keys`. */
    Result run(const char *program, const std::string &args, const std::string &keys = "",
               const std::string &env = "") {
        std::string input = "/dev/null";
        std::string mode = "THISTLE_DEMO_INTERACTIVE=0";
        if (!keys.empty()) {
            input = (dir_ / "keys").string();
            put("keys", keys);
            mode = "THISTLE_DEMO_INTERACTIVE=1";
        }
        std::string cmd = "cd '" + dir_.string() + "' && env " + mode + " " + env + " '" + program +
                          "' " + args + " <'" + input + "' >'" + (dir_ / "out").string() + "' 2>&1";
        int status = std::system(cmd.c_str());
        Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp("out")};
        fs::remove(dir_ / "out");
        fs::remove(dir_ / "keys");
        return r;
    }
    Result frontend(const std::string &keys = "") {
        return run(DEMO_FRONTEND_PATH, "QTX_BRAMBLE 4242", keys);
    }

    std::string slurp(const std::string &name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void put(const std::string &name, const std::string &bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void putvalue(const std::string &name, int32_t v) {
        const char b[4] = {(char)(v & 0xff), (char)((v >> 8) & 0xff), (char)((v >> 16) & 0xff),
                           (char)((v >> 24) & 0xff)};
        put(name, std::string(b, 4));
    }
    /* The value of a one-value file, or -999 when it is missing or short. */
    int32_t value(const std::string &name) {
        std::string b = slurp(name);
        if (b.size() != 4) {
            return -999;
        }
        return (int32_t)((uint8_t)b[0] | (uint8_t)b[1] << 8 | (uint8_t)b[2] << 16 |
                         (uint32_t)(uint8_t)b[3] << 24);
    }
    /* Line n (1-based) of the options file as written, without its line feed. */
    std::string optionline(int n) {
        std::istringstream in(slurp("options/options.txt"));
        std::string line;
        for (int i = 0; i < n && std::getline(in, line); i++) {
        }
        return line;
    }
    /* A launcher-written options file with the given difficulty and sound effects. */
    void putoptions(int difficulty, int sfx, const char *title = "Saved by the launcher") {
        std::ostringstream o;
        o << title << "\n" << difficulty << "    \n";
        for (int line = 3; line <= 13; line++) {
            o << (line == 10 ? sfx : line * 10) << "    \n";
        }
        put("options/options.txt", o.str());
    }

    fs::path dir_;
};

TEST_F(Children, FrontEndRefusesToRunWithoutTheLaunchersToken) {
    for (const char *args : {"", "WRONG 12", "qtx_bramble 12"}) {
        Result r = run(DEMO_FRONTEND_PATH, args);
        EXPECT_EQ(r.code, 1) << args;
        EXPECT_NE(r.out.find("must be started by thistlerun"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(dir_ / "quit.dat"));
    }
}

TEST_F(Children, FrontEndWithoutTerminalStartsTheGameOnlyOnTheFirstRun) {
    putoptions(2, 150);
    const std::string before = slurp("options/options.txt");
    putvalue("ft.dat", 1);
    Result r = frontend();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(value("quit.dat"), 1);
    EXPECT_EQ(value("options/mp.dat"), 0);
    EXPECT_EQ(slurp("options/options.txt"), before); /* same layout, same values */

    putvalue("ft.dat", 0);
    r = frontend();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(value("quit.dat"), 0);
    EXPECT_NE(r.out.find("[frontend]"), std::string::npos);
}

TEST_F(Children, FrontEndQuitWithoutChangesLeavesTheOptionsAlone) {
    /* "3" quits; so does the end of input, even in the middle of the options menu */
    putvalue("ft.dat", 1);
    for (const char *keys : {"3\n", "2\n"}) {
        putvalue("quit.dat", 1);
        Result r = frontend(keys);
        EXPECT_EQ(r.code, 0) << keys;
        EXPECT_EQ(value("quit.dat"), 0) << keys;
        EXPECT_FALSE(fs::exists(dir_ / "options/options.txt"));
        EXPECT_FALSE(fs::exists(dir_ / "options/mp.dat"));
    }
}

TEST_F(Children, FrontEndMenuChangesReachTheFiles) {
    putoptions(1, 200, "Kept as it is");
    /* options: sound effects off, multiplayer on, difficulty up, back; start game */
    Result r = frontend("2\n1\n2\n3\n4\n1\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(value("quit.dat"), 1);
    EXPECT_EQ(value("options/mp.dat"), 1);
    EXPECT_EQ(optionline(1), "Kept as it is");
    EXPECT_EQ(optionline(2), "2    ");
    EXPECT_EQ(optionline(10), "0    ");
    EXPECT_EQ(optionline(13), "130    ");
}

TEST_F(Children, FrontEndSoundEffectsComeBackAtTheirLevel) {
    putoptions(3, 150);
    putvalue("options/mp.dat", 1);
    /* off and on again, difficulty wraps from 3 to 1, multiplayer off; then quit */
    Result r = frontend("2\n1\n1\n3\n2\n4\n3\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(value("quit.dat"), 0);
    EXPECT_EQ(optionline(10), "150    ");
    EXPECT_EQ(optionline(2), "1    ");
    EXPECT_EQ(value("options/mp.dat"), 0); /* changes are kept on quit too */
}

TEST_F(Children, GameWithoutTerminalAlwaysWinsAndReturnsToTheMenu) {
    /* Every range and seed must be solvable in the guesses the game grants. */
    for (int difficulty = 1; difficulty <= 3; difficulty++) {
        for (int mp = 0; mp <= 1; mp++) {
            putoptions(difficulty, 200);
            putvalue("options/mp.dat", mp);
            for (int seed : {0, 1, 2, 3, 99, 12345}) {
                fs::remove(dir_ / "quit.dat");
                Result r = run(DEMO_GAME_PATH, "", "", "THISTLE_DEMO_SEED=" + std::to_string(seed));
                SCOPED_TRACE("difficulty " + std::to_string(difficulty) + " mp " +
                             std::to_string(mp) + " seed " + std::to_string(seed));
                EXPECT_EQ(r.code, 0);
                EXPECT_NE(r.out.find("found it"), std::string::npos) << r.out;
                EXPECT_EQ(value("quit.dat"), 1);
            }
        }
    }
}

TEST_F(Children, GameVariantKeepsToTheEasiestRange) {
    putoptions(3, 0);
    Result game = run(DEMO_GAME_PATH, "");
    Result game2 = run(DEMO_GAME2_PATH, "");
    EXPECT_NE(game.out.find("from 1 to 60"), std::string::npos) << game.out;
    EXPECT_NE(game2.out.find("from 1 to 20"), std::string::npos) << game2.out;
    EXPECT_NE(game.out.substr(0, game.out.find('\n')), game2.out.substr(0, game2.out.find('\n')));
}

TEST_F(Children, GameWithoutAnySettingsUsesTheDefaults) {
    fs::remove(dir_ / "options");
    Result r = run(DEMO_GAME_PATH, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("from 1 to 20"), std::string::npos) << r.out;
    EXPECT_EQ(value("quit.dat"), 1);
}

TEST_F(Children, GamePlayerChoosesMenuOrQuit) {
    /* Six guesses of 15 use up the round whatever the number is (a hit ends it early and
     * the surplus is refused by the last question); the last key decides. */
    const std::string guesses = "15\n15\n15\n15\n15\n15\n";
    putoptions(1, 200);
    EXPECT_EQ(run(DEMO_GAME_PATH, "", guesses + "1\n").code, 0);
    EXPECT_EQ(value("quit.dat"), 1);
    EXPECT_EQ(run(DEMO_GAME_PATH, "", guesses + "2\n").code, 0);
    EXPECT_EQ(value("quit.dat"), 0);

    putvalue("quit.dat", 1);
    Result r = run(DEMO_GAME_PATH, "", "\n"); /* input ends during the round */
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("gave up"), std::string::npos) << r.out;
    EXPECT_EQ(value("quit.dat"), 0);
}

TEST_F(Children, LauncherCycleWithoutTerminalEndsAfterOneGame) {
    /* The launcher's side: quit.dat 0 and ft.dat 1 at start, ft.dat 0 after each front
     * end, and the next child only while quit.dat is non-zero. */
    putoptions(1, 200);
    putvalue("quit.dat", 0);
    putvalue("ft.dat", 1);
    std::string ran;
    for (int step = 0; step < 10; step++) {
        frontend();
        ran += "frontend ";
        putvalue("ft.dat", 0);
        if (value("quit.dat") == 0) {
            break;
        }
        run(DEMO_GAME_PATH, "");
        ran += "game ";
        if (value("quit.dat") == 0) {
            break;
        }
    }
    EXPECT_EQ(ran, "frontend game frontend ");
}

} // namespace
