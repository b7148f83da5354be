// Runs a fuzz target over saved inputs, so a normal build (no clang, no libFuzzer) keeps every seed and every
// input that once broke a reader passing. Arguments: the seed folder, which must hold inputs, then folders
// that may be missing or empty (the saved crashes) or single files (to look at one input).
#include "fuzz_check.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsIn(const fs::path &folder)
{
    std::vector<fs::path> files;
    std::error_code error;
    if (fs::is_regular_file(folder, error))
        return { folder };
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER [MORE_FOLDERS...]\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::vector<fs::path> files = inputsIn(argv[i]);
        if (i == 1 && files.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const fs::path &file : files) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // Named before it runs: when a reader aborts, the last name printed is the input that did it.
            std::fprintf(stderr, "%s\n", file.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        }
        std::printf("%zu inputs from %s\n", files.size(), argv[i]);
    }
    return 0;
}
