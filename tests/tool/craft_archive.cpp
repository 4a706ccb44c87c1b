// Writes an archive whose entry names are given as hexadecimal bytes, any bytes at all,
// as a hostile writer would store them; each entry holds its own name's hexadecimal text.
//   craft_archive OUTPUT HEXNAME...
#include <cstdio>
#include <string>

#include "tests/support/damaging_writer.h"

int main(int argc, char** argv) {
    vorx::test::DamagingWriter writer;
    bool ok = argc >= 3 && writer.Create(argv[1]) && writer.BeginArchive();
    for (int i = 2; ok && i < argc; ++i) {
        const std::string hex = argv[i];
        vorx::EntryOptions entry;
        for (size_t k = 0; k + 1 < hex.size(); k += 2) entry.name += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
        entry.time = 1700000000;
        ok = writer.AddEntry(entry, hex.data(), hex.size());
    }
    if (ok && writer.Finish()) return 0;
    std::fprintf(stderr, "craft_archive: %s\n", argc < 3 ? "usage: craft_archive OUTPUT HEXNAME..." : writer.Error().c_str());
    return 1;
}
