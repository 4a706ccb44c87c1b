// Writes an archive whose entry names are given as hexadecimal bytes, any bytes at all,
// as a hostile writer would store them; each entry holds its own name's hexadecimal text,
// or the bytes of FILE, stored, or compressed in 256 KiB blocks (packed); its record may
// lie about its CRC-32 or size, raw bytes (0xFF) may follow its blocks, and it may be
// encrypted. Entries are dated 1700000000, or 1600000000 plus 1000 for each entry before
// with --times. With --sfx the archive follows the stub STUB, whose configuration gets the
// destination and the command to run (hexadecimal bytes too).
//   craft_archive [--sfx STUB] [--dest HEX] [--run HEX] [--times] OUTPUT
//                 HEXNAME[=FILE][,packed][,crc=N][,size=N][,tail=N][,pw=PASSWORD]...
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/damaging_writer.h"
#include "writer/compressor.h"
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
    bool times = false;
    for (; i + 1 < argc && argv[i][0] == '-'; ++i) {
        const std::string option = argv[i];
        if (option == "--times") times = true;
        if (option == "--sfx") stubPath = argv[++i];
        if (option == "--dest") config.destination = Bytes(argv[++i]);
        if (option == "--run") config.runAfterExtract = Bytes(argv[++i]);
    }
    std::vector<uint8_t> stub;
    vorx::test::DamagingWriter writer;
    vorx::Compressor compressor(vorx::kDefaultLevel, 256 << 10);
    bool ok = argc - i >= 2 &&
              (stubPath.empty() || vorx::PrepareStub(stubPath.c_str(), config, &stub, &error)) &&
              writer.Create(argv[i]) && writer.WriteCarrier(stub.data(), stub.size()) &&
              writer.BeginArchive();
    for (uint64_t time = 1600000000; ok && ++i < argc; time += 1000) {
        std::string argument = argv[i], file;
        vorx::EntryOptions entry;
        vorx::test::RecordOverrides lies;
        size_t tail = 0;
        for (size_t comma; (comma = argument.rfind(',')) != std::string::npos;
             argument.resize(comma)) {
            const size_t equals = std::min(argument.find('=', comma), argument.size());
            const std::string key = argument.substr(comma + 1, equals - comma - 1);
            const std::string value = argument.substr(std::min(argument.size(), equals + 1));
            if (key == "packed") entry.encoder = compressor.AsBlockEncoder();
            if (key == "crc") lies.crc32 = static_cast<uint32_t>(std::stoul(value));
            if (key == "size") lies.uncompressedSize = std::stoull(value);
            if (key == "tail") tail = std::stoul(value);
            if (key == "pw") entry.password = value;
        }
        const size_t equals = argument.find('=');
        entry.name = Bytes(argument.substr(0, equals));
        entry.time = times ? time : 1700000000;
        std::string data = argument.substr(0, equals);
        if (equals != std::string::npos) {
            std::ifstream in(argument.substr(equals + 1), std::ios::binary);
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const std::string raw(tail, '\xFF');
        ok = writer.BeginEntry(entry) && writer.Write(data.data(), data.size()) &&
             (raw.empty() || writer.WriteRaw(raw.data(), raw.size())) && writer.EndEntry(lies);
    }
    if (ok && writer.Finish()) return 0;
    std::fprintf(stderr, "craft_archive: %s\n",
                 !error.empty() ? error.c_str()
                 : argc < 3     ? "usage: craft_archive [--sfx STUB] [--dest HEX] [--run HEX] "
                                  "[--times] OUTPUT HEXNAME..."
                                : writer.Error().c_str());
    return 1;
}
