// zlib, xz and zstd from the system's libraries, and our compressor and decoder.
#include "bench/codecs.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstring>

#include "codec/block_decoder.h"
#include "container/crc32.h"
#include "container/format.h"
#include "library/vorx.h"
#include "writer/compressor.h"

namespace vorx::bench {
namespace {

class Zlib : public Codec {
public:
    explicit Zlib(int level) : name_("zlib-" + std::to_string(level)) {
        std::memset(&deflater_, 0, sizeof deflater_);
        std::memset(&inflater_, 0, sizeof inflater_);
        ok_ = deflateInit(&deflater_, level) == Z_OK && inflateInit(&inflater_) == Z_OK;
    }
    ~Zlib() override {
        deflateEnd(&deflater_);
        inflateEnd(&inflater_);
    }
    const std::string& name() const override { return name_; }

    bool Compress(const uint8_t* data, size_t length, Packed* out) override {
        if (!ok_ || deflateReset(&deflater_) != Z_OK) return false;
        out->stream.resize(deflateBound(&deflater_, length));
        deflater_.next_in = const_cast<uint8_t*>(data);
        deflater_.avail_in = static_cast<uInt>(length);
        deflater_.next_out = out->stream.data();
        deflater_.avail_out = static_cast<uInt>(out->stream.size());
        if (deflate(&deflater_, Z_FINISH) != Z_STREAM_END) return false;
        out->stream.resize(deflater_.total_out);
        out->size = out->stream.size();
        return true;
    }

    // The zlib format's Adler-32 is checked by inflate, as our CRC-32 is by our decoder.
    bool Decompress(const Packed& in, uint8_t* out, size_t length) override {
        if (inflateReset(&inflater_) != Z_OK) return false;
        inflater_.next_in = const_cast<uint8_t*>(in.stream.data());
        inflater_.avail_in = static_cast<uInt>(in.stream.size());
        inflater_.next_out = out;
        inflater_.avail_out = static_cast<uInt>(length);
        return inflate(&inflater_, Z_FINISH) == Z_STREAM_END && inflater_.total_out == length;
    }

private:
    std::string name_;
    z_stream deflater_;
    z_stream inflater_;
    bool ok_ = false;
};

class Xz : public Codec {
public:
    explicit Xz(int preset) : name_("xz-" + std::to_string(preset)), preset_(preset) {}
    const std::string& name() const override { return name_; }

    // The preset's settings, with the dictionary no larger than the file needs: the
    // output is the same (no match reaches further back than the file's start), and
    // small files do not pay for initialising a dictionary of 8 MiB.
    bool Compress(const uint8_t* data, size_t length, Packed* out) override {
        lzma_options_lzma options;
        if (lzma_lzma_preset(&options, static_cast<uint32_t>(preset_))) return false;
        uint32_t dictionary = LZMA_DICT_SIZE_MIN;
        while (dictionary < length && dictionary < options.dict_size) dictionary *= 2;
        if (dictionary < options.dict_size) options.dict_size = dictionary;
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        out->stream.resize(lzma_stream_buffer_bound(length));
        size_t position = 0;
        if (lzma_stream_buffer_encode(filters, LZMA_CHECK_CRC64, nullptr, data, length, out->stream.data(),
                                      &position, out->stream.size()) != LZMA_OK)
            return false;
        out->stream.resize(position);
        out->size = position;
        return true;
    }

    bool Decompress(const Packed& in, uint8_t* out, size_t length) override {
        uint64_t memoryLimit = UINT64_MAX;
        size_t inPosition = 0, outPosition = 0;
        return lzma_stream_buffer_decode(&memoryLimit, 0, nullptr, in.stream.data(), &inPosition,
                                         in.stream.size(), out, &outPosition, length) == LZMA_OK &&
               outPosition == length;
    }

private:
    std::string name_;
    int preset_;
};

class Zstd : public Codec {
public:
    explicit Zstd(int level)
        : name_("zstd-" + std::to_string(level)), level_(level), cctx_(ZSTD_createCCtx()), dctx_(ZSTD_createDCtx()) {}
    ~Zstd() override {
        ZSTD_freeCCtx(cctx_);
        ZSTD_freeDCtx(dctx_);
    }
    const std::string& name() const override { return name_; }

    bool Compress(const uint8_t* data, size_t length, Packed* out) override {
        out->stream.resize(ZSTD_compressBound(length));
        const size_t n = ZSTD_compressCCtx(cctx_, out->stream.data(), out->stream.size(), data, length, level_);
        if (ZSTD_isError(n)) return false;
        out->stream.resize(n);
        out->size = n;
        return true;
    }

    bool Decompress(const Packed& in, uint8_t* out, size_t length) override {
        const size_t n = ZSTD_decompressDCtx(dctx_, out, length, in.stream.data(), in.stream.size());
        return !ZSTD_isError(n) && n == length;
    }

private:
    std::string name_;
    int level_;
    ZSTD_CCtx* cctx_;
    ZSTD_DCtx* dctx_;
};

vorx_Error RefuseMoreOutput(OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

// Our compressor as the archive writer drives it (chunks of its block size, one block
// each), and our decoder as the library drives it for one entry: a fresh CRC-32 per
// entry, the context table and block scratch kept from entry to entry (as a handle
// keeps them), each block's output checked into the CRC-32. Only the file reads are
// left out.
class Ours : public Codec {
public:
    explicit Ours(int level) : name_("vorx -m" + std::to_string(level)), compressor_(level) {
        contexts_ = CreateContextTable();
    }
    ~Ours() override { ReleaseContextTable(contexts_); }
    const std::string& name() const override { return name_; }
    void set_stats(CompressorStats* stats) { compressor_.set_stats(stats); }

    bool Compress(const uint8_t* data, size_t length, Packed* out) override {
        out->stream.clear();
        out->blocks.clear();
        out->size = 0;
        out->crc32 = Crc32::Of(data, length);
        for (size_t at = 0; at < length;) {
            const size_t chunk = std::min(length - at, compressor_.blockSize());
            EncodedBlock block;
            if (!compressor_.EncodeBlock(data + at, chunk, &block)) return false;
            Packed::Block b;
            b.compressed = block.type == BlockType::Compressed;
            b.sizeField = block.sizeField;
            b.padded = static_cast<uint32_t>(PadTo16(block.body.size()));
            b.offset = out->stream.size();
            out->stream.insert(out->stream.end(), block.body.begin(), block.body.end());
            out->stream.resize(b.offset + b.padded + kBodySlackBytes + kBodyOverreadBytes, 0);
            out->blocks.push_back(b);
            out->size += kBlockHeaderSize + b.padded;
            at += chunk;
        }
        return true;
    }

    bool Decompress(const Packed& in, uint8_t* out, size_t length) override {
        Crc32 crc;
        uint64_t produced = 0;
        for (const Packed::Block& b : in.blocks) {
            const uint8_t* body = in.stream.data() + b.offset;
            const uint64_t remaining = length - produced;
            if (!b.compressed) {
                if (b.sizeField > remaining) return false;
                std::memcpy(out + produced, body, b.sizeField);
                crc.Update(body, b.sizeField);
                produced += b.sizeField;
                continue;
            }
            OutputTarget target{out + produced, remaining, &RefuseMoreOutput};
            uint64_t output = 0;
            if (DecodeCompressedBlock(body, b.sizeField, b.padded, *contexts_, scratch_, target, remaining,
                                      nullptr, &output) != vorx_Success)
                return false;
            crc.Update(out + produced, static_cast<size_t>(output));
            produced += output;
        }
        return produced == length && crc.Final() == in.crc32;
    }

private:
    std::string name_;
    Compressor compressor_;
    ContextTable* contexts_ = nullptr;
    BlockScratch scratch_;
};

}  // namespace

std::unique_ptr<Codec> MakeZlib(int level) { return std::make_unique<Zlib>(level); }
std::unique_ptr<Codec> MakeXz(int preset) { return std::make_unique<Xz>(preset); }
std::unique_ptr<Codec> MakeZstd(int level) { return std::make_unique<Zstd>(level); }
std::unique_ptr<Codec> MakeOurs(int level) { return std::make_unique<Ours>(level); }
std::unique_ptr<Codec> MakeOurs(int level, CompressorStats* stats) {
    auto ours = std::make_unique<Ours>(level);
    ours->set_stats(stats);
    return ours;
}

uint32_t ZlibCrc32(const uint8_t* data, size_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const uInt n = length > (1u << 30) ? (1u << 30) : static_cast<uInt>(length);
        crc = crc32(crc, data, n);
        data += n;
        length -= n;
    }
    return static_cast<uint32_t>(crc);
}

}  // namespace vorx::bench
