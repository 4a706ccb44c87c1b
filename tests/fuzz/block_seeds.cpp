// Writes the seed corpus of the block fuzz target into the folder given as argument:
// block bodies made by the test-side encoder from text, noise, runs and short periods,
// each behind the 8 bytes that choose its bit count (exact), its output room (exact)
// and progress.
#include <cstdio>
#include <string>
#include <vector>

#include "container/format.h"
#include "tests/support/stream_builder.h"

namespace {

std::vector<uint8_t> Sample(int kind, size_t size) {
    std::vector<uint8_t> data(size);
    unsigned x = 12345u + static_cast<unsigned>(kind);
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        switch (kind) {
            case 0: data[i] = static_cast<uint8_t>("the block of slot data "[(x >> 16) % 23]); break;
            case 1: data[i] = static_cast<uint8_t>(x >> 24); break;
            case 2: data[i] = static_cast<uint8_t>((i / 50) % 3); break;
            default: data[i] = i < 7 ? static_cast<uint8_t>(x >> 24) : data[i - 7]; break;
        }
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    int n = 0;
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t size : {size_t{40}, size_t{700}, size_t{3000}}) {
            const std::vector<uint8_t> data = Sample(kind, size);
            uint32_t bits = 0;
            const std::vector<uint8_t> body = streams::CompressBlock(data.data(), data.size(), &bits);
            if (body.size() > 8000) continue;
            std::vector<uint8_t> input(8);
            vorx::WriteLe32(input.data(), bits);
            vorx::WriteLe16(input.data() + 4, static_cast<uint16_t>(size / 16));
            input[6] = static_cast<uint8_t>(size % 16);
            input[7] = static_cast<uint8_t>(n & 1);
            input.insert(input.end(), body.begin(), body.end());
            const std::string path = std::string(argv[1]) + "/block" + std::to_string(n++);
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(input.data(), 1, input.size(), f) != input.size()) return 1;
            std::fclose(f);
        }
    }
    return 0;
}
