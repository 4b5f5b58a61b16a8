/*
 * demo/tests/control_test.cpp - the children's control-file helpers: byte order of the
 * one-value files, the layout of "options\options.txt" as the launcher reads and writes
 * it, and the prompt's handling of bad and missing input.
 *
 * Each case runs in a fresh temporary directory (the helpers use the current directory,
 * as the children do).
 */
#include "../control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ControlFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        old_ = fs::current_path();
        char tmpl[] = "/tmp/demo_control_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "options");
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    static std::string slurp(const char *path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void put(const char *path, const std::string &bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path old_, dir_;
};

TEST_F(ControlFiles, ValuesAreFourLittleEndianBytes) {
    const struct {
        int32_t value;
        const char *bytes;
    } cases[] = {
        {0, "\x00\x00\x00\x00"},          {1, "\x01\x00\x00\x00"},  {2, "\x02\x00\x00\x00"},
        {0x01020304, "\x04\x03\x02\x01"}, {-2, "\xfe\xff\xff\xff"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(writevalue("quit.dat", c.value), 1);
        EXPECT_EQ(slurp("quit.dat"), std::string(c.bytes, 4)) << c.value;
        int32_t back = 12345;
        ASSERT_EQ(readvalue("quit.dat", &back), 1);
        EXPECT_EQ(back, c.value);
    }
}

TEST_F(ControlFiles, MissingOrShortValueFileLeavesTheDefault) {
    int32_t v = 77;
    EXPECT_EQ(readvalue("ft.dat", &v), 0);
    EXPECT_EQ(v, 77);
    put("ft.dat", std::string("\x01\x00\x00", 3));
    EXPECT_EQ(readvalue("ft.dat", &v), 0);
    EXPECT_EQ(v, 77);
}

TEST_F(ControlFiles, SavedOptionsUseTheLaunchersLayout) {
    DemoOptions o;
    defaultoptions(&o);
    o.line[OPTLINE_SFX] = 0;
    o.line[OPTLINE_SLOWTEST] = -3;
    ASSERT_EQ(saveoptions(&o), 1);
    EXPECT_EQ(slurp("options/options.txt"), "Brambleshot Demo settings\n"
                                            "1    \n640    \n480    \n16    \n180    \n"
                                            "2    \n5    \n0    \n0    \n1    \n0    \n-3    \n");
}

TEST_F(ControlFiles, ShippedSampleMatchesTheBuiltInSettings) {
    /* A missing options file must behave like a fresh installation. */
    fs::copy_file(fs::path(DEMO_SOURCE_DIR) / "install/options/options.txt", "options/options.txt");
    DemoOptions fromfile, builtin;
    defaultoptions(&builtin);
    memset(&fromfile, 0, sizeof fromfile);
    ASSERT_EQ(loadoptions(&fromfile), 1);
    EXPECT_STREQ(fromfile.text, builtin.text);
    for (int i = 2; i <= OPTLINE_COUNT; i++) {
        EXPECT_EQ(fromfile.line[i], builtin.line[i]) << "line " << i;
    }
}

TEST_F(ControlFiles, LoadReadsNumbersLikeTheLauncher) {
    /* Leading blanks are skipped and what follows a number is ignored; a line without a
     * number, and lines past the end of a short file, keep the earlier value. */
    put("options/options.txt", "My settings\r\n"
                               "  3 trailing words\n"
                               "-7\n"
                               "none\n"
                               "5\n"
                               "6\n"
                               "7\n"
                               "8\n"
                               "9\n"
                               "\t150    \n");
    DemoOptions o;
    defaultoptions(&o);
    ASSERT_EQ(loadoptions(&o), 1);
    EXPECT_STREQ(o.text, "My settings\n");
    EXPECT_EQ(o.line[2], 3);
    EXPECT_EQ(o.line[3], -7);
    EXPECT_EQ(o.line[4], 480); /* "none" */
    EXPECT_EQ(o.line[9], 9);
    EXPECT_EQ(o.line[OPTLINE_SFX], 150);
    EXPECT_EQ(o.line[11], 1); /* past the end: default */
    EXPECT_EQ(o.line[OPTLINE_SLOWTEST], 0);
}

TEST_F(ControlFiles, LongFirstLineIsCutAndSavedWithItsLineEnd) {
    put("options/options.txt", std::string(600, 'x') + "\n42\n");
    DemoOptions o;
    defaultoptions(&o);
    ASSERT_EQ(loadoptions(&o), 1);
    EXPECT_EQ(strlen(o.text), sizeof o.text - 1);
    EXPECT_EQ(o.text[sizeof o.text - 2], '\n');
    EXPECT_EQ(o.line[2], 42);
    ASSERT_EQ(saveoptions(&o), 1);
    std::string saved = slurp("options/options.txt");
    EXPECT_EQ(saved.substr(0, 255), std::string(254, 'x') + "\n");
    EXPECT_EQ(saved.substr(255, 6), "42    ");
}

TEST_F(ControlFiles, PromptRejectsBadInputAndReportsTheEnd) {
    put("keys", "abc\n0\n4\n\n 3\n2\n");
    ASSERT_NE(freopen("keys", "r", stdin), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(askchoice("> ", 1, 3), 3);
    EXPECT_EQ(askchoice("> ", 1, 3), 2);
    EXPECT_EQ(askchoice("> ", 1, 3), -1);
    std::string said = testing::internal::GetCapturedStdout();
    size_t complaints = 0;
    for (size_t at = said.find("from 1 to 3"); at != std::string::npos;
         at = said.find("from 1 to 3", at + 1)) {
        complaints++;
    }
    EXPECT_EQ(complaints, 4u); /* "abc", "0", "4" and the empty line */
    clearerr(stdin);
}

} // namespace
