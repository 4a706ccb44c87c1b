// The self-extractor maker on synthetic PE images: finding the configuration section,
// filling it, and refusing whatever is not a clean stub.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "container/format.h"
#include "writer/sfx_maker.h"

namespace {

struct Section {
    std::string name;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
    uint32_t characteristics;
};

constexpr uint32_t kData = 0xC0000040u;  // initialized, readable, writable
constexpr uint32_t kCode = 0x60000020u;

// A minimal PE image: DOS header, PE signature, file header, a 240-byte optional
// header, the section table, and each section's raw bytes filled with its index + 1.
std::vector<uint8_t> MakeImage(const std::vector<Section>& sections, size_t size = 4096) {
    std::vector<uint8_t> image(size, 0);
    image[0] = 'M';
    image[1] = 'Z';
    const uint32_t pe = 0x80;
    vorx::WriteLe32(&image[0x3C], pe);
    std::memcpy(&image[pe], "PE\0\0", 4);
    vorx::WriteLe16(&image[pe + 4], 0x8664);
    vorx::WriteLe16(&image[pe + 6], static_cast<uint16_t>(sections.size()));
    vorx::WriteLe16(&image[pe + 20], 240);
    const size_t table = pe + 24 + 240;
    for (size_t i = 0; i < sections.size(); ++i) {
        uint8_t* h = &image[table + 40 * i];
        std::memcpy(h, sections[i].name.data(), std::min<size_t>(8, sections[i].name.size()));
        vorx::WriteLe32(h + 8, sections[i].virtualSize);
        vorx::WriteLe32(h + 16, sections[i].rawSize);
        vorx::WriteLe32(h + 20, sections[i].rawOffset);
        vorx::WriteLe32(h + 36, sections[i].characteristics);
        for (uint32_t b = 0; b < sections[i].rawSize && sections[i].rawOffset + b < size; ++b)
            image[sections[i].rawOffset + b] = static_cast<uint8_t>(i + 1);
    }
    return image;
}

const std::vector<Section> kStubSections = {
    {".text", 0x300, 0x400, 0x400, kCode},
    {".sfxcfg", 0x200, 0x200, 0x800, kData},
    {".rdata", 0x100, 0x200, 0xA00, 0x40000040u},
};

TEST(SfxMaker, FindsTheConfigurationSectionThroughTheHeaders) {
    const auto image = MakeImage(kStubSections);
    uint64_t offset = 0;
    std::string error;
    ASSERT_TRUE(vorx::FindConfigBlock(image.data(), image.size(), &offset, &error)) << error;
    EXPECT_EQ(offset, 0x800u);
}

TEST(SfxMaker, FillsBothFieldsAndNothingElse) {
    auto image = MakeImage(kStubSections);
    const auto before = image;
    std::string error;
    ASSERT_TRUE(vorx::FillConfigBlock(image, {"%TEMP%\\tool\\", "setup.exe /s"}, &error)) << error;
    ASSERT_EQ(image.size(), before.size());
    for (size_t i = 0; i < image.size(); ++i) {
        if (i >= 0x800 && i < 0xA00) continue;
        ASSERT_EQ(image[i], before[i]) << "byte " << i;
    }
    const char* block = reinterpret_cast<const char*>(&image[0x800]);
    EXPECT_STREQ(block, "%TEMP%\\tool\\");
    EXPECT_STREQ(block + 256, "setup.exe /s");
    // Behind each field's NUL the block is cleared: no stub filler survives.
    for (size_t i = std::strlen(block); i < 256; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    for (size_t i = 256 + std::strlen(block + 256); i < 512; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
}

TEST(SfxMaker, FieldsOf255BytesFitAnd256AreRefused) {
    auto image = MakeImage(kStubSections);
    std::string error;
    ASSERT_TRUE(vorx::FillConfigBlock(image, {std::string(255, 'd'), std::string(255, 'r')}, &error));
    EXPECT_EQ(image[0x800 + 254], 'd');
    EXPECT_EQ(image[0x800 + 255], 0);
    EXPECT_EQ(image[0x800 + 256 + 254], 'r');
    EXPECT_EQ(image[0x800 + 511], 0);

    const auto filled = image;
    EXPECT_FALSE(vorx::FillConfigBlock(image, {std::string(256, 'd'), ""}, &error));
    EXPECT_NE(error.find("destination"), std::string::npos) << error;
    EXPECT_FALSE(vorx::FillConfigBlock(image, {"", std::string(256, 'r')}, &error));
    EXPECT_NE(error.find("run"), std::string::npos) << error;
    EXPECT_FALSE(vorx::FillConfigBlock(image, {std::string("a\0b", 3), ""}, &error));
    EXPECT_EQ(image, filled);  // a refusal changes nothing
}

TEST(SfxMaker, RefusesImagesThatAreNotCleanStubs) {
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        const char* message;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, "not a Windows executable"});
    auto noMz = MakeImage(kStubSections);
    noMz[0] = 'X';
    cases.push_back({"no MZ", noMz, "not a Windows executable"});
    auto farPe = MakeImage(kStubSections);
    vorx::WriteLe32(&farPe[0x3C], 0xFFFFFFF0u);
    cases.push_back({"PE offset beyond the file", farPe, "no PE header"});
    auto manySections = MakeImage(kStubSections);
    vorx::WriteLe16(&manySections[0x80 + 6], 0xFFFF);
    cases.push_back({"section table beyond the file", manySections, "cut short"});
    auto hugeOptional = MakeImage(kStubSections);
    vorx::WriteLe16(&hugeOptional[0x80 + 20], 0xFFFF);
    cases.push_back({"optional header beyond the file", hugeOptional, "cut short"});
    cases.push_back({"no configuration section",
                     MakeImage({{".text", 0x300, 0x400, 0x400, kCode}}), "no configuration section"});
    cases.push_back({"section too small",
                     MakeImage({{".sfxcfg", 0x100, 0x200, 0x800, kData}}), "smaller than 512"});
    cases.push_back({"section outside the file",
                     MakeImage({{".sfxcfg", 0x200, 0x200, 0xF00, kData}}), "outside the file"});
    cases.push_back({"section offset wraps",
                     MakeImage({{".sfxcfg", 0x200, 0x200, 0xFFFFFF00u, kData}}), "outside the file"});
    cases.push_back({"read-only section",
                     MakeImage({{".sfxcfg", 0x200, 0x200, 0x800, 0x40000040u}}), "not writable"});
    auto carrying = MakeImage(kStubSections, 8192);
    const uint8_t signature[8] = {'V', 'O', 'R', 'X', 0x02, 0x00, 0x00, 0x8F};
    std::memcpy(&carrying[6000], signature, 8);
    cases.push_back({"stub with an archive", carrying, "already carries an archive"});

    for (Case& c : cases) {
        std::string error;
        uint64_t offset = 0;
        const auto before = c.image;
        EXPECT_FALSE(vorx::FillConfigBlock(c.image, {"C:\\x\\", ""}, &error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(c.image, before) << c.what;
        if (std::string(c.message) != "already carries an archive") {
            EXPECT_FALSE(vorx::FindConfigBlock(c.image.data(), c.image.size(), &offset, &error));
        }
    }
}

TEST(SfxMaker, OnlyTheWholeSignatureCountsAsAnArchive) {
    std::vector<uint8_t> bytes(64, 0);
    std::memcpy(&bytes[10], "VORX", 4);
    vorx::WriteLe32(&bytes[14], 0x8F000003u);  // the magic alone, with an unknown version
    EXPECT_FALSE(vorx::CarriesArchive(bytes.data(), bytes.size()));
    vorx::WriteLe32(&bytes[14], 0x8F000001u);
    EXPECT_TRUE(vorx::CarriesArchive(bytes.data(), bytes.size()));
    std::memcpy(&bytes[56], "VORX", 4);  // at the very end
    vorx::WriteLe32(&bytes[60], 0x8F000002u);
    bytes[14] = 0;
    EXPECT_TRUE(vorx::CarriesArchive(bytes.data(), bytes.size()));
    EXPECT_FALSE(vorx::CarriesArchive(bytes.data(), 63));
}

class SfxMakerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vorx-sfx-maker-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::filesystem::path dir_;
};

std::vector<uint8_t> SmallArchive() {
    std::vector<uint8_t> archive(24 + 12 + 16, 0);
    std::memcpy(archive.data(), vorx::kMagic, 4);
    vorx::WriteLe32(&archive[4], vorx::kVersionFormat2);
    archive.back() = 0x5A;
    return archive;
}

TEST_F(SfxMakerFiles, WritesTheFilledStubFollowedByTheArchive) {
    const auto stub = MakeImage(kStubSections);
    const auto archive = SmallArchive();
    Write(Path("stub.exe"), stub);
    Write(Path("a.vorx"), archive);
    std::string error;
    ASSERT_TRUE(vorx::WriteSelfExtractor(Path("stub.exe").c_str(), Path("a.vorx").c_str(),
                                         Path("setup.exe").c_str(), {"", "readme.txt"}, &error))
        << error;
    const auto out = Read(Path("setup.exe"));
    ASSERT_EQ(out.size(), stub.size() + archive.size());
    EXPECT_TRUE(std::equal(archive.begin(), archive.end(), out.begin() + static_cast<long>(stub.size())));
    EXPECT_EQ(out[0x800], 0);  // empty destination
    EXPECT_STREQ(reinterpret_cast<const char*>(&out[0x800 + 256]), "readme.txt");
    EXPECT_EQ(Read(Path("stub.exe")), stub);  // the stub file itself is untouched

    // The result carries an archive now: it cannot serve as a stub again.
    EXPECT_FALSE(vorx::WriteSelfExtractor(Path("setup.exe").c_str(), Path("a.vorx").c_str(),
                                          Path("again.exe").c_str(), {}, &error));
    EXPECT_NE(error.find("already carries an archive"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(Path("again.exe")));
}

TEST_F(SfxMakerFiles, RefusesMissingFilesAndNonArchives) {
    Write(Path("stub.exe"), MakeImage(kStubSections));
    Write(Path("notes.txt"), {'h', 'e', 'l', 'l', 'o'});
    std::string error;
    EXPECT_FALSE(vorx::WriteSelfExtractor(Path("missing.exe").c_str(), Path("notes.txt").c_str(),
                                          Path("out.exe").c_str(), {}, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(vorx::WriteSelfExtractor(Path("stub.exe").c_str(), Path("notes.txt").c_str(),
                                          Path("out.exe").c_str(), {}, &error));
    EXPECT_NE(error.find("is not an archive"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(Path("out.exe")));
}

}  // namespace
