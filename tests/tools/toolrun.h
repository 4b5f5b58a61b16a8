// Running a command-line tool from a test: a fresh folder per case, the tool started
// through the shell with its streams in files, and what the folder holds afterwards.
#ifndef THISTLE_TESTS_TOOLRUN_H
#define THISTLE_TESTS_TOOLRUN_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;

struct outcome {
    int code;
    std::string out;
    std::string err;
};

inline std::string readbytes(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writebytes(const fs::path &p, const std::string &data) {
    std::ofstream(p, std::ios::binary) << data;
}

/* A case's own folder dir (removed afterwards) for the tool at program; the streams of a
 * run go through the hidden folder io inside it. */
class ToolTest : public ::testing::Test {
  protected:
    explicit ToolTest(const char *program) : program(program) {}

    void SetUp() override {
        std::string pattern = fs::path(program).filename().string() + "_test.XXXXXX";
        pattern = "/tmp/" + pattern;
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        io = dir / ".io";
        fs::create_directory(io);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string file(const std::string &name) const {
        return (dir / name).string();
    }

    // Runs the tool; stdin is a file's contents when given, else empty. stdout may go
    // to a path of its own (a terminal).
    outcome run(const std::vector<std::string> &args, const std::string *in = nullptr,
                const std::string &stdoutpath = "") const {
        std::string command = "'" + std::string(program) + "'";
        for (const std::string &a : args) {
            command += " '" + a + "'";
        }
        writebytes(io / "stdin", in != nullptr ? *in : "");
        command += " <'" + (io / "stdin").string() + "' >'" +
                   (stdoutpath.empty() ? (io / "stdout").string() : stdoutpath) + "' 2>'" +
                   (io / "stderr").string() + "'";
        const int status = std::system(command.c_str());
        outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = stdoutpath.empty() ? readbytes(io / "stdout") : "";
        o.err = readbytes(io / "stderr");
        return o;
    }

    // The names in the test folder, hidden ones (temporary files) included.
    std::vector<std::string> names() const {
        std::vector<std::string> v;
        for (const auto &e : fs::directory_iterator(dir)) {
            if (e.path() != io) {
                v.push_back(e.path().filename().string());
            }
        }
        std::sort(v.begin(), v.end());
        return v;
    }

    const char *program;
    fs::path dir, io;
};

#endif
