// Writes an archive whose entry names are given as hexadecimal bytes, any bytes at all,
// as a hostile writer would store them; each entry holds its own name's hexadecimal text,
// or the bytes of FILE. With --sfx the archive follows the stub STUB, whose configuration
// gets the destination and the command to run (hexadecimal bytes too).
//   craft_archive [--sfx STUB] [--dest HEX] [--run HEX] OUTPUT HEXNAME[=FILE]...
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/damaging_writer.h"
#include "writer/sfx_maker.h"

namespace {

std::string Bytes(const std::string& hex) {
    std::string bytes;
    for (size_t k = 0; k + 1 < hex.size(); k += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    std::string stubPath, error;
    vorx::SfxConfig config;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        const std::string option = argv[i];
        (option == "--sfx"    ? stubPath
         : option == "--dest" ? config.destination
                              : config.runAfterExtract) =
            option == "--sfx" ? argv[i + 1] : Bytes(argv[i + 1]);
    }
    std::vector<uint8_t> stub;
    vorx::test::DamagingWriter writer;
    bool ok = argc - i >= 2 &&
              (stubPath.empty() || vorx::PrepareStub(stubPath.c_str(), config, &stub, &error)) &&
              writer.Create(argv[i]) && writer.WriteCarrier(stub.data(), stub.size()) &&
              writer.BeginArchive();
    for (++i; ok && i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t file = argument.find('=');
        vorx::EntryOptions entry;
        entry.name = Bytes(argument.substr(0, file));
        entry.time = 1700000000;
        std::string data = argument.substr(0, file);
        if (file != std::string::npos) {
            std::ifstream in(argument.substr(file + 1), std::ios::binary);
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ok = writer.AddEntry(entry, data.data(), data.size());
    }
    if (ok && writer.Finish()) return 0;
    std::fprintf(
        stderr, "craft_archive: %s\n",
        !error.empty() ? error.c_str()
        : argc < 3
            ? "usage: craft_archive [--sfx STUB [--dest HEX] [--run HEX]] OUTPUT HEXNAME[=FILE]..."
            : writer.Error().c_str());
    return 1;
}
