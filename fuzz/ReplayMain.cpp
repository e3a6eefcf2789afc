// Replays stored inputs through a fuzz target's entry point, so the normal test
// suite checks every corpus file and every kept reproducer without clang.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> InputsUnder(const std::filesystem::path& where) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(where)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(where)) {
            if (entry.is_regular_file() &&
                !sparkloom::Utf8Of(entry.path().filename()).starts_with('.')) {
                inputs.push_back(entry.path());
            }
        }
    } else if (std::filesystem::is_regular_file(where)) {
        inputs.push_back(where);
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER-OR-FILE...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const auto inputs = InputsUnder(sparkloom::PathFromUtf8(argv[i]));
        if (inputs.empty() && i == 1) {
            // A moved or emptied corpus must not pass as a replay of nothing; the
            // folders of kept reproducers after it may be empty.
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const auto& input : inputs) {
            std::ifstream file(input, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "cannot read %s\n", sparkloom::Utf8Of(input).c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", sparkloom::Utf8Of(input).c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
