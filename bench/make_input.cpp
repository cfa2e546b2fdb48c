// Writes one benchmark input: `make_input random|typical|nonforms|art SIZE FILE`,
// or `make_input realart SIZE FILE EXAMPLE...` for SEQ art that starts from
// the given SEQ files.

#include "inputs.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fputs("Usage: make_input random|typical|nonforms|art|realart SIZE FILE [EXAMPLE...]\n", stderr);
        return 1;
    }
    const std::string_view kind = argv[1];
    const auto size = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    std::string bytes;
    if (kind == "random") {
        bytes = bench::randomBytes(size);
    } else if (kind == "typical") {
        bytes = bench::typicalText(size);
    } else if (kind == "nonforms") {
        bytes = bench::nonFormText(size);
    } else if (kind == "art") {
        bytes = bench::artText(size);
    } else if (kind == "realart") {
        std::string examples;
        for (int i = 4; i < argc; ++i) {
            std::ifstream example(argv[i], std::ios::binary);
            if (!example.is_open()) {
                std::perror(argv[i]);
                return 1;
            }
            examples.append(std::istreambuf_iterator<char>(example), std::istreambuf_iterator<char>());
        }
        bytes = bench::realArt(size, examples);
    } else {
        std::fputs("make_input: the kind is random, typical, nonforms, art or realart\n", stderr);
        return 1;
    }
    std::FILE* file = std::fopen(argv[3], "wb");
    if (file == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
