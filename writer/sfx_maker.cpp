// The self-extractor maker. Every field of the stub's headers is checked against the
// image before it is used: a damaged or foreign file is refused, never trusted.
#include "writer/sfx_maker.h"

#include <cstdio>
#include <cstring>

#include "container/format.h"
#include "container/pe_image.h"
#include "writer/archive_parts.h"

namespace vorx {
namespace {

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

// Whole-file reads through C stdio (paths in the system's 8-bit encoding).
bool ReadFile(const char* path, std::vector<uint8_t>* out, std::string* error) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return Fail(error, std::string("cannot open ") + path);
    out->clear();
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out->insert(out->end(), buffer, buffer + n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? Fail(error, std::string("cannot read ") + path) : true;
}

}  // namespace

bool FindConfigBlock(const uint8_t* image, size_t size, uint64_t* offset, std::string* error) {
    PeHeaders headers;
    switch (ParsePeHeaders(image, size, &headers)) {
        case PeParse::NotImage:
            return Fail(error, "the stub is not a Windows executable");
        case PeParse::CutShort:
            return Fail(error, "the stub's headers are cut short");
        case PeParse::Image:
            break;
    }
    for (uint32_t i = 0; i < headers.sectionCount; ++i) {
        const PeSection section = PeSectionAt(image, headers, i);
        if (std::strcmp(section.name, kConfigSectionName) != 0) continue;
        if (section.virtualSize < kConfigBlockSize || section.rawSize < kConfigBlockSize)
            return Fail(error, "the stub's configuration section is smaller than " +
                                   std::to_string(kConfigBlockSize) + " bytes");
        if (section.rawOffset > size || size - section.rawOffset < kConfigBlockSize)
            return Fail(error, "the stub's configuration section lies outside the file");
        if (!(section.characteristics & kPeSectionWritable))
            return Fail(error, "the stub's configuration section is not writable");
        *offset = section.rawOffset;
        return true;
    }
    return Fail(error, std::string("the stub has no configuration section (") + kConfigSectionName +
                           "): it is not a self-extractor stub");
}

bool CarriesArchive(const uint8_t* image, size_t size) { return ContainsSignature(image, size); }

bool FillConfigBlock(std::vector<uint8_t>& stub, const SfxConfig& config, std::string* error) {
    if (config.destination.size() > kMaxConfigText)
        return Fail(error,
                    "the destination is longer than " + std::to_string(kMaxConfigText) + " bytes");
    if (config.runAfterExtract.size() > kMaxConfigText)
        return Fail(error, "the command to run is longer than " + std::to_string(kMaxConfigText) +
                               " bytes");
    if (config.destination.find('\0') != std::string::npos ||
        config.runAfterExtract.find('\0') != std::string::npos)
        return Fail(error, "the destination and the command to run must not contain NUL bytes");
    if (CarriesArchive(stub.data(), stub.size()))
        return Fail(error, "the stub already carries an archive; start from the plain stub");
    uint64_t offset = 0;
    if (!FindConfigBlock(stub.data(), stub.size(), &offset, error)) return false;
    uint8_t* block = stub.data() + offset;
    std::memset(block, 0, kConfigBlockSize);
    std::memcpy(block + kConfigDestinationOffset, config.destination.data(),
                config.destination.size());
    std::memcpy(block + kConfigRunOffset, config.runAfterExtract.data(),
                config.runAfterExtract.size());
    return true;
}

bool PrepareStub(const char* stubPath, const SfxConfig& config, std::vector<uint8_t>* out,
                 std::string* error) {
    return ReadFile(stubPath, out, error) && FillConfigBlock(*out, config, error);
}

}  // namespace vorx
