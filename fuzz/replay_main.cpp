// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for libFuzzer's driver: replays every file of the corpus folder
// named on the command line, then a fixed number of inputs made from a fixed
// seed (random bytes and mutations of the corpus), so a run is repeatable.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::string> corpus;
    if (argc > 1 && std::filesystem::is_directory(argv[1])) {
        for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
            std::ifstream in(e.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        }
    }
    for (const auto& c : corpus)
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(c.data()), c.size());

    std::mt19937 rng(12345);
    constexpr int kRounds = 20000;
    for (int i = 0; i < kRounds; ++i) {
        std::string in;
        if (!corpus.empty() && i % 2 == 0) {
            in = corpus[rng() % corpus.size()];
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits && !in.empty(); ++e) {
                const size_t at = rng() % in.size();
                switch (rng() % 3) {
                case 0:
                    in[at] = static_cast<char>(rng());
                    break;
                case 1:
                    in.erase(at, 1 + rng() % 4);
                    break;
                default:
                    in.insert(at, 1 + rng() % 4, static_cast<char>(rng()));
                    break;
                }
            }
        } else {
            in.resize(rng() % 300);
            for (auto& ch : in)
                ch = static_cast<char>(rng());
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    }
    std::printf("%zu corpus files and %d generated inputs replayed\n", corpus.size(), kRounds);
    return 0;
}
