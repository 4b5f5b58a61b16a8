/*
 * replay - runs a fuzz target over saved inputs without a fuzzer, so the corpus is an
 * ordinary regression test: every file named, and every file of every directory named
 * (in sorted order), is read into a block of exactly its size and handed to the target.
 * A failed check aborts, as under the fuzzer. Exit code 1 when a path cannot be read.
 */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int runfile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: %s: cannot read\n", path.c_str());
        return 0;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    int status = 0;
    size_t count = 0;
    for (int i = 1; i < argc; i++) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::directory_iterator(arg, ec)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto &f : files) {
                count += static_cast<size_t>(runfile(f));
            }
        } else if (runfile(arg)) {
            count++;
        } else {
            status = 1;
        }
    }
    std::printf("replay: %zu inputs ran clean\n", count);
    return status;
}
