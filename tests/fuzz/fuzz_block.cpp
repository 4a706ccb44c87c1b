// Fuzz target: any byte string as a compressed block body, decoded by the product's
// block decoder and by the literal reference implementation of the tests; both must
// give the same result code and, on success, the same bytes and progress reports. The
// first bytes choose the block's bit count, the room for its output and the progress
// fractions; the rest is the body. The product decodes into a heap block of exactly
// that room, behind a body of exactly its slack, so the sanitizers see any stray access.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/block_decoder.h"
#include "codec/context_table.h"
#include "container/format.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/reference_decoder.h"

namespace {

using fuzz::Check;

vorx_Error RefuseMore(vorx::OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

void Record(void* user, int percent) { static_cast<std::vector<int>*>(user)->push_back(percent); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    static vorx::ContextTable* contexts = vorx::CreateContextTable();
    const size_t bodyBytes = (size - 8 + 15) / 16 * 16;
    const uint32_t bitChoice = vorx::ReadLe32(data);
    const uint32_t bitCount = static_cast<uint32_t>(bitChoice % (bodyBytes * 8 + 1));
    const uint64_t capacity = vorx::ReadLe16(data + 4) * 16u + data[6];
    const bool progress = data[7] & 1;
    const float start = static_cast<float>(data[7] >> 1) / 256.0f;
    const float fraction = static_cast<float>(1 + (bitChoice >> 24)) / 256.0f;

    std::vector<uint8_t> body(bodyBytes + vorx::kBodySlackBytes + vorx::kBodyOverreadBytes, 0);
    std::memcpy(body.data(), data + 8, size - 8);
    std::vector<uint8_t> out(capacity);
    vorx::OutputTarget target{out.data(), capacity, &RefuseMore};
    vorx::BlockScratch scratch;
    std::vector<int> reports;
    vorx::BlockProgress p{&Record, &reports, start, fraction};
    uint64_t produced = 0;
    const vorx_Error code = vorx::DecodeCompressedBlock(
        body.data(), bitCount, static_cast<uint32_t>(bodyBytes), *contexts, scratch, target,
        capacity, progress ? &p : nullptr, &produced);

    std::vector<uint8_t> padded(bodyBytes + 4096, 0);
    std::memcpy(padded.data(), data + 8, size - 8);
    const uint32_t limitBits = static_cast<uint32_t>((bodyBytes + vorx::kBodySlackBytes) * 8);
    const reference::BlockResult r = reference::DecodeBlock(padded.data(), bitCount, limitBits,
                                                            capacity, start, fraction, progress);
    Check(code == r.code, "result code");
    if (code == vorx_Success) {
        Check(produced == r.output.size(), "output length");
        Check(produced == 0 || std::memcmp(out.data(), r.output.data(), produced) == 0,
              "output bytes");
        Check(reports == r.progress, "progress reports");
    }
    return 0;
}
