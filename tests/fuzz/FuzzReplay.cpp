// Replays fuzz inputs without libFuzzer, so that any compiler builds the targets as plain
// programs: every file named on the command line, and every regular file of every folder named
// there (in name order, so a run is repeatable), goes once through LLVMFuzzerTestOneInput. A
// crash or sanitizer report fails the run; so does a run without any input, so that a mistyped
// corpus path cannot pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

// The files an argument names; false when it names nothing readable.
bool AddInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code ec;
    if (fs::is_regular_file(argument, ec)) {
        inputs.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, ec)) return false;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argument, ec))
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return !ec;
}

// The input in a buffer of exactly its size (as libFuzzer hands it), so that a read past its end
// is caught by the address sanitizer.
std::unique_ptr<uint8_t[]> ReadInput(const fs::path& file, size_t& size) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    size = bytes.size();
    auto buffer = std::make_unique<uint8_t[]>(size);
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\nRuns the fuzz target once on every input.\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!AddInputs(argv[i], inputs)) {
            std::fprintf(stderr, "%s: no file or folder %s\n", argv[0], argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs to replay\n", argv[0]);
        return 1;
    }
    for (const fs::path& file : inputs) {
        std::printf("Running %s\n", file.c_str());
        std::fflush(stdout);  // the last name printed is the input of a crash
        size_t size = 0;
        const auto data = ReadInput(file, size);
        LLVMFuzzerTestOneInput(data.get(), size);
    }
    std::printf("Replayed %zu inputs\n", inputs.size());
    return 0;
}
