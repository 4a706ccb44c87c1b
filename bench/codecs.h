// The codecs the benchmark compares, behind one shape: compress one file into a
// packed form, decompress a packed form into a buffer of the file's size.
//
// Every codec compresses each file by itself, as an archive does, and keeps the
// state it may reuse from file to file (zlib and zstd contexts, our compressor and
// context table), as a program extracting many files would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorx {
struct CompressorStats;
}

namespace vorx::bench {

using Bytes = std::vector<uint8_t>;

// One compressed file. Peers keep one stream; ours keeps its blocks, each with the
// zeroed slack the decoder reads behind a body (as the archive reader provides it).
struct Packed {
    Bytes stream;
    struct Block {
        bool compressed;
        uint32_t sizeField;  // bytes (stored) or bits (compressed)
        uint32_t padded;     // body length in the archive (a multiple of 16)
        size_t offset;       // of the body in `stream`
    };
    std::vector<Block> blocks;
    uint32_t crc32 = 0;   // ours: of the file, checked after decoding
    uint64_t size = 0;    // compressed size as stored (ours: block headers and padded bodies)
};

class Codec {
public:
    virtual ~Codec() = default;
    virtual const std::string& name() const = 0;
    virtual bool Compress(const uint8_t* data, size_t length, Packed* out) = 0;
    // Decodes into `out`, which holds exactly the file's `length` bytes. False when
    // the codec reports an error (or, for ours, a CRC-32 mismatch).
    virtual bool Decompress(const Packed& in, uint8_t* out, size_t length) = 0;
};

std::unique_ptr<Codec> MakeZlib(int level);
std::unique_ptr<Codec> MakeXz(int preset);
std::unique_ptr<Codec> MakeZstd(int level);
std::unique_ptr<Codec> MakeOurs(int level);
// Ours, adding every block's figures to `stats` (for the size breakdown).
std::unique_ptr<Codec> MakeOurs(int level, CompressorStats* stats);

// CRC-32 of the same bytes by zlib, for the CRC throughput reference.
uint32_t ZlibCrc32(const uint8_t* data, size_t length);

}  // namespace vorx::bench
