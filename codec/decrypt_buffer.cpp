#include "codec/decrypt_buffer.h"

namespace vorx {

void DecryptBuffer(uint8_t* buffer, size_t length, const BlowfishContext& key) {
    BlowfishDecryptBlocks(&key, buffer, length & ~static_cast<size_t>(7));
}

}  // namespace vorx
