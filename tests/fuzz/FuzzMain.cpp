#include "tests/fuzz/FuzzMain.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

constexpr int kMutationsPerSeed = 50000;

void Run(const std::vector<std::uint8_t>& input) {
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

void RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    Run(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

// One random edit: overwrite, insert or delete a byte, cut the tail, or write a large
// 32-bit value (sizes that lie).
void Mutate(std::vector<std::uint8_t>& input, std::mt19937& random) {
    auto pick = [&](std::size_t n) { return std::size_t(random() % (n == 0 ? 1 : n)); };
    switch (random() % 5) {
        case 0:
            if (!input.empty())
                input[pick(input.size())] = std::uint8_t(random());
            break;
        case 1:
            input.insert(input.begin() + std::ptrdiff_t(pick(input.size() + 1)),
                         std::uint8_t(random()));
            break;
        case 2:
            if (!input.empty())
                input.erase(input.begin() + std::ptrdiff_t(pick(input.size())));
            break;
        case 3:
            input.resize(pick(input.size() + 1));
            break;
        default:
            if (input.size() >= 4) {
                const std::size_t at = pick(input.size() - 3);
                const std::uint32_t value = random() % 2 ? 0xFFFFFFF0u : std::uint32_t(random());
                for (int i = 0; i < 4; ++i)
                    input[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
            }
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            const std::filesystem::path path(argv[i]);
            if (std::filesystem::is_directory(path)) {
                for (const auto& entry : std::filesystem::directory_iterator(path))
                    RunFile(entry.path());
            } else {
                RunFile(path);
            }
        }
        return 0;
    }
    std::mt19937 random(20261210);
    int runs = 0;
    for (const auto& seed : tests::fuzz::Seeds()) {
        Run(seed);
        std::vector<std::uint8_t> input = seed;
        for (int i = 0; i < kMutationsPerSeed; ++i, ++runs) {
            if (i % 16 == 0)
                input = seed;  // short chains of edits from each seed
            Mutate(input, random);
            Run(input);
        }
    }
    std::printf("%d inputs ran\n", runs);
    return 0;
}
