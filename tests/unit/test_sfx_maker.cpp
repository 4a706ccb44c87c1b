// The self-extractor maker on synthetic PE images: the configuration section found
// through the headers and filled, and whatever is not a clean stub refused unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/format.h"
#include "writer/sfx_maker.h"

namespace {

using Image = std::vector<uint8_t>;

struct Section {
    const char* name;
    uint32_t virtualSize, rawSize, rawOffset, characteristics;
};

constexpr uint32_t kData = 0xC0000040u, kCode = 0x60000020u, kReadOnly = 0x40000040u;
const std::vector<Section> kStub = {{".text", 0x300, 0x400, 0x400, kCode},
                                    {".sfxcfg", 0x200, 0x200, 0x800, kData},
                                    {".rdata", 0x100, 0x200, 0xA00, kReadOnly}};

// DOS header, PE signature, file header, a 240-byte optional header, the section table,
// and each section's raw bytes filled with its index + 1.
Image MakeImage(const std::vector<Section>& sections, size_t size = 4096) {
    Image image(size, 0);
    std::memcpy(&image[0], "MZ", 2);
    vorx::WriteLe32(&image[0x3C], 0x80);
    std::memcpy(&image[0x80], "PE\0\0", 4);
    vorx::WriteLe16(&image[0x84], 0x8664);
    vorx::WriteLe16(&image[0x86], static_cast<uint16_t>(sections.size()));
    vorx::WriteLe16(&image[0x94], 240);
    for (size_t i = 0; i < sections.size(); ++i) {
        uint8_t* h = &image[0x80 + 24 + 240 + 40 * i];
        std::strncpy(reinterpret_cast<char*>(h), sections[i].name, 8);
        vorx::WriteLe32(h + 8, sections[i].virtualSize);
        vorx::WriteLe32(h + 16, sections[i].rawSize);
        vorx::WriteLe32(h + 20, sections[i].rawOffset);
        vorx::WriteLe32(h + 36, sections[i].characteristics);
        for (uint32_t b = 0; b < sections[i].rawSize && sections[i].rawOffset + b < size; ++b)
            image[sections[i].rawOffset + b] = static_cast<uint8_t>(i + 1);
    }
    return image;
}

TEST(SfxMaker, RefusesImagesThatAreNotCleanStubs) {
    const uint8_t signature[8] = {'V', 'O', 'R', 'X', 0x02, 0x00, 0x00, 0x8F};
    struct Row {
        const char* what;
        Image image;
        size_t at;  // where `bytes` go, when any
        std::vector<uint8_t> bytes;
        const char* message;
        vorx::SfxConfig config = {"C:\\x\\", ""};
    };
    const Row rows[] = {
        {"empty", {}, 0, {}, "not a Windows executable"},
        {"no MZ", MakeImage(kStub), 0, {'X'}, "not a Windows executable"},
        {"PE offset beyond the file", MakeImage(kStub), 0x3C, {0xF0, 0xFF, 0xFF, 0xFF}, "no PE header"},
        {"section table beyond the file", MakeImage(kStub), 0x86, {0xFF, 0xFF}, "cut short"},
        {"optional header beyond the file", MakeImage(kStub), 0x94, {0xFF, 0xFF}, "cut short"},
        {"no configuration section", MakeImage({kStub[0]}), 0, {}, "no configuration section"},
        {"too small", MakeImage({{".sfxcfg", 0x100, 0x200, 0x800, kData}}), 0, {}, "smaller than 512"},
        {"outside the file", MakeImage({{".sfxcfg", 0x200, 0x200, 0xF00, kData}}), 0, {}, "outside the file"},
        {"offset wraps", MakeImage({{".sfxcfg", 0x200, 0x200, 0xFFFFFF00u, kData}}), 0, {}, "outside the file"},
        {"read-only", MakeImage({{".sfxcfg", 0x200, 0x200, 0x800, kReadOnly}}), 0, {}, "not writable"},
        {"carries an archive", MakeImage(kStub, 8192), 6000, {signature, signature + 8}, "already carries an archive"},
        {"an archive at its end", MakeImage(kStub, 8192), 8184, {signature, signature + 8}, "already carries"},
        {"a long destination", MakeImage(kStub), 0, {}, "destination", {std::string(256, 'd'), ""}},
        {"a long command", MakeImage(kStub), 0, {}, "run", {"", std::string(256, 'r')}},
        {"a NUL inside", MakeImage(kStub), 0, {}, "", {std::string("a\0b", 3), ""}},
    };
    for (const Row& row : rows) {
        Image image = row.image;
        std::copy(row.bytes.begin(), row.bytes.end(), image.begin() + static_cast<long>(row.at));
        const Image before = image;
        std::string error;
        EXPECT_FALSE(vorx::FillConfigBlock(image, row.config, &error)) << row.what;
        EXPECT_NE(error.find(row.message), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(image, before) << row.what;
    }
    // Fields of up to 255 bytes, each cleared behind its NUL, and nothing else changed; the
    // magic with an unknown version is no signature.
    const Image stub = MakeImage(kStub);
    Image image = stub, expected = stub;
    std::memcpy(&image[3000], "VORX\x03\0\0\x8F", 8);
    std::memcpy(&expected[3000], "VORX\x03\0\0\x8F", 8);
    std::fill(&expected[0x800], &expected[0xA00], 0);
    std::fill(&expected[0x800], &expected[0x8FF], 'd');
    std::memcpy(&expected[0x900], "setup.exe /s", 12);
    std::string error;
    ASSERT_TRUE(vorx::FillConfigBlock(image, {std::string(255, 'd'), "setup.exe /s"}, &error)) << error;
    EXPECT_EQ(image, expected);
}

}  // namespace
