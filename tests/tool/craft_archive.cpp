// Writes an archive whose entry names are given as hexadecimal bytes, for the shell
// tests of programs that must not trust them: any bytes at all, as a hostile writer
// would store them. Each entry holds its own name's hexadecimal text.
//
//   craft_archive OUTPUT HEXNAME...
#include <cstdio>
#include <string>

#include "tests/support/damaging_writer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: craft_archive OUTPUT HEXNAME...\n");
        return 2;
    }
    vorx::test::DamagingWriter writer;
    if (!writer.Create(argv[1]) || !writer.BeginArchive()) {
        std::fprintf(stderr, "craft_archive: %s\n", writer.Error().c_str());
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string hex = argv[i];
        vorx::EntryOptions entry;
        for (size_t k = 0; k + 1 < hex.size(); k += 2)
            entry.name += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
        entry.time = 1700000000;
        if (!writer.AddEntry(entry, hex.data(), hex.size())) {
            std::fprintf(stderr, "craft_archive: %s\n", writer.Error().c_str());
            return 1;
        }
    }
    if (!writer.Finish()) {
        std::fprintf(stderr, "craft_archive: %s\n", writer.Error().c_str());
        return 1;
    }
    return 0;
}
