// Checks of the shipped stubs as files: machine and subsystem, exports and ordinals,
// imported DLLs, the dialog templates and pictures read back from the resources, the
// configuration section, the size of the 32-bit stub, and the absence of the archive
// signature. Each build checks its own stub; the 64-bit build also checks the 32-bit
// one made by the win32 preset beside it (make test builds it first).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/gui/pe_image.h"
#include "vorx_version.h"
#include "writer/sfx_maker.h"

namespace {

struct Stub {
    const char* label;
    std::string path;
    uint16_t machine;
};

std::vector<Stub> Stubs() {
    std::vector<Stub> stubs = {{VORX_STUB_LABEL, VORX_STUB, VORX_STUB_MACHINE}};
    if (std::string(VORX_STUB32).size() > 0) stubs.push_back({"win32", VORX_STUB32, 0x014C});
    return stubs;
}

// Loads a stub; the 32-bit one beside the 64-bit build may be missing when only this
// preset was built.
bool LoadStub(const Stub& stub, pe::Image* image) {
    if (stub.path != VORX_STUB && !std::filesystem::exists(stub.path)) return false;
    std::string error;
    EXPECT_TRUE(image->Load(stub.path, &error)) << stub.path << ": " << error;
    return error.empty();
}

#define FOR_EACH_STUB(image)                                                                  \
    for (const Stub& stub : Stubs())                                                          \
        if (pe::Image image; !LoadStub(stub, &image)) {                                       \
            std::cout << "[ SKIPPED  ] " << stub.label << " stub not built: " << stub.path     \
                      << "\n";                                                                \
        } else

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

TEST(StubImage, GuiProgramForItsMachine) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        EXPECT_EQ(image.machine, stub.machine);
        EXPECT_EQ(image.subsystem, 2) << "not a GUI program";
        EXPECT_EQ(image.is64, stub.machine == 0x8664);
    }
}

TEST(StubImage, The32BitStubIsAtMost128KiB) {
    FOR_EACH_STUB(image) {
        if (stub.machine != 0x014C) continue;
        EXPECT_LE(image.bytes.size(), 128u * 1024u);
    }
}

TEST(StubImage, ExportsTheTenOperationsByNameWithAlphabeticalOrdinals) {
    const std::vector<std::string> names = {
        "vorx_CancelOperation", "vorx_CloseStream",    "vorx_DecompressToFile", "vorx_DecompressToPtr",
        "vorx_EnumerateFiles",  "vorx_GetErrorString", "vorx_GetFileInfo",      "vorx_GetNumFiles",
        "vorx_OpenStream",      "vorx_SetUserData"};
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        std::string module;
        std::vector<pe::Export> exports;
        ASSERT_TRUE(image.Exports(&module, &exports));
        EXPECT_EQ(module, "sfxstub.exe");
        ASSERT_EQ(exports.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(exports[i].name, names[i]);
            EXPECT_EQ(exports[i].ordinal, i + 1) << names[i];
        }
    }
}

TEST(StubImage, ImportsOnlyDllsThatAlwaysComeFromTheSystemFolder) {
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        std::set<std::string> imported;
        for (const std::string& dll : image.ImportedDlls()) imported.insert(Lower(dll));
        EXPECT_EQ(imported, allowed);
    }
}

constexpr const char* kButton = "button";
constexpr const char* kEdit = "edit";
constexpr const char* kStatic = "static";

// A control's class by name; a template may store the predefined ones as ordinals.
std::string ClassName(const std::string& stored) {
    if (stored == "#128") return kButton;
    if (stored == "#129") return kEdit;
    if (stored == "#130") return kStatic;
    return Lower(stored);
}

struct ExpectedItem {
    int32_t id;
    const char* className;
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
};

void ExpectDialog(const pe::Image& image, uint32_t id, const char* caption, int16_t cx, int16_t cy,
                  uint32_t style, const std::vector<ExpectedItem>& expected) {
    std::vector<uint8_t> data;
    uint32_t language = 0;
    ASSERT_TRUE(image.FindResource(5, id, &data, &language)) << "dialog " << id;
    EXPECT_EQ(language, 1033u);
    pe::DialogTemplate dialog;
    ASSERT_TRUE(pe::ParseDialog(data, &dialog)) << "dialog " << id << " is no extended template";
    EXPECT_EQ(dialog.dialog.text, caption);
    EXPECT_EQ(dialog.dialog.style, style);
    EXPECT_EQ(dialog.dialog.exStyle, 0u);
    EXPECT_EQ(dialog.dialog.x, 0);
    EXPECT_EQ(dialog.dialog.y, 0);
    EXPECT_EQ(dialog.dialog.cx, cx);
    EXPECT_EQ(dialog.dialog.cy, cy);
    EXPECT_EQ(dialog.menu, "");
    EXPECT_EQ(dialog.dialog.className, "");
    EXPECT_EQ(dialog.font, "MS Shell Dlg");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 1);
    ASSERT_EQ(dialog.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const pe::DialogItem& got = dialog.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(ClassName(got.className), want.className);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
    }
}

TEST(StubImage, WizardTemplate) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        ExpectDialog(image, 130, "Self Extracting Archive", 312, 215, 0x80C808C8u,
                     {{1, kButton, "Next >", 236, 193, 52, 15, 0x50010001u},
                      {2, kButton, "Cancel", 180, 193, 52, 15, 0x50010000u},
                      {-1, kStatic, "", 63, 185, 256, 1, 0x50000010u},
                      {1009, kStatic, "", 0, 30, 320, 1, 0x50000010u},
                      {-1, kStatic, "Kestrune Archiver", 3, 181, 58, 8, 0x58020000u},
                      {1003, kButton, "Overwrite existing files automatically", 40, 116, 133, 10, 0x50010003u},
                      {1000, kEdit, "", 39, 97, 172, 14, 0x50810080u},
                      {1002, kButton, "Browse", 213, 97, 50, 14, 0x50010000u},
                      {1006, kStatic, "Directory to extract files to:", 40, 87, 223, 8, 0x50028000u},
                      {1004, "msctls_progress32", "", 40, 138, 221, 15, 0x48800000u},
                      {-1, kStatic, "#131", 279, 0, 33, 30, 0x5000000Eu}});
    }
}

TEST(StubImage, PasswordTemplate) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        ExpectDialog(image, 249, "Enter password", 228, 90, 0x80C810C8u,
                     {{1035, kEdit, "", 9, 32, 196, 14, 0x508100A0u},
                      {1033, kButton, "Automatically try this password on the next files", 9, 49, 170, 10,
                       0x50010003u},
                      {1, kButton, "OK", 119, 69, 50, 14, 0x50010000u},
                      {2, kButton, "Cancel", 171, 69, 50, 14, 0x50010000u},
                      {1008, kStatic,
                       "This file is protected through encryption, please enter the password for the "
                       "file below",
                       10, 9, 211, 18, 0x50020000u}});
    }
}

TEST(StubImage, HeaderPictureAndIcons) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        std::vector<uint8_t> bitmap;
        uint32_t language = 0;
        ASSERT_TRUE(image.FindResource(2, 131, &bitmap, &language));
        ASSERT_GE(bitmap.size(), 40u + 16u * 4u);
        EXPECT_EQ(pe::U32(&bitmap[0]), 40u);   // BITMAPINFOHEADER
        EXPECT_EQ(pe::U32(&bitmap[4]), 49u);   // width
        EXPECT_EQ(pe::U32(&bitmap[8]), 49u);   // height, bottom-up
        EXPECT_EQ(pe::U16(&bitmap[14]), 4);    // 16 colours
        EXPECT_EQ(bitmap.size(), 40u + 64u + 49u * 28u);

        std::vector<uint8_t> group;
        ASSERT_TRUE(image.FindResource(14, 107, &group, &language));
        ASSERT_GE(group.size(), 6u);
        const uint16_t count = pe::U16(&group[4]);
        ASSERT_EQ(count, 2);
        ASSERT_EQ(group.size(), 6u + 14u * count);
        std::set<int> sizes;
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* entry = &group[6 + 14 * i];
            EXPECT_EQ(entry[0], entry[1]);       // square
            EXPECT_EQ(entry[2], 16);             // colours
            EXPECT_EQ(pe::U16(entry + 6), 4);    // bits per pixel
            sizes.insert(entry[0]);
            std::vector<uint8_t> icon;
            ASSERT_TRUE(image.FindResource(3, pe::U16(entry + 12), &icon, &language));
            EXPECT_EQ(icon.size(), pe::U32(entry + 8));
            EXPECT_EQ(pe::U32(&icon[4]), entry[0]);
        }
        EXPECT_EQ(sizes, (std::set<int>{16, 32}));
    }
}

TEST(StubImage, ManifestRunsAsInvokerWithCommonControls) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        std::vector<uint8_t> manifest;
        uint32_t language = 0;
        ASSERT_TRUE(image.FindResource(24, 1, &manifest, &language));
        const std::string text(manifest.begin(), manifest.end());
        EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
        EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    }
}

// The version a person sees under the file's properties is the project's version.
TEST(StubImage, VersionResourceCarriesTheProjectVersion) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        std::vector<uint8_t> info;
        uint32_t language = 0;
        ASSERT_TRUE(image.FindResource(16, 1, &info, &language));
        ASSERT_GE(info.size(), 40u + 52u);
        EXPECT_EQ(pe::U16(&info[0]), info.size());
        EXPECT_EQ(pe::U16(&info[2]), 52u) << "the fixed part";
        EXPECT_EQ(pe::U32(&info[40]), 0xFEEF04BDu);
        const uint32_t high = (VORX_VERSION_MAJOR << 16) | VORX_VERSION_MINOR;
        const uint32_t low = VORX_VERSION_PATCH << 16;
        EXPECT_EQ(pe::U32(&info[48]), high) << "file version";
        EXPECT_EQ(pe::U32(&info[52]), low);
        EXPECT_EQ(pe::U32(&info[56]), high) << "product version";
        EXPECT_EQ(pe::U32(&info[60]), low);
        // The texts, in UTF-16: "FileVersion" and "ProductVersion", each with its value.
        const std::string bytes(info.begin(), info.end());
        for (const std::string key : {"FileVersion", "ProductVersion"}) {
            std::string pair;
            for (const char c : key + std::string(1, '\0')) pair += std::string{c, '\0'};
            const size_t at = bytes.find(pair);
            ASSERT_NE(at, std::string::npos) << key;
            std::string value;
            for (size_t i = (at + pair.size() + 3) / 4 * 4; i + 1 < bytes.size() && bytes[i] != 0; i += 2)
                value += bytes[i];
            EXPECT_EQ(value, VORX_VERSION) << key;
        }
    }
}

TEST(StubImage, ConfigurationSectionAsShipped) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        const pe::Section* section = image.FindSection(".sfxcfg");
        ASSERT_NE(section, nullptr);
        EXPECT_TRUE(section->characteristics & 0x80000000u) << "not writable";
        EXPECT_TRUE(section->characteristics & 0x00000040u) << "not initialized data";
        EXPECT_GE(section->virtualSize, 512u);
        ASSERT_GE(section->rawSize, 512u);
        const uint8_t* block = image.At(section->rawOffset, 512);
        ASSERT_NE(block, nullptr);
        const std::string destination(reinterpret_cast<const char*>(block), strnlen(reinterpret_cast<const char*>(block), 256));
        ASSERT_LT(destination.size(), 256u);
        EXPECT_EQ(destination, "C:\\Extracted\\");
        EXPECT_EQ(block[256], 0) << "no command to run as shipped";

        // The maker finds the same block through the headers and fills it.
        uint64_t offset = 0;
        std::string error;
        ASSERT_TRUE(vorx::FindConfigBlock(image.bytes.data(), image.bytes.size(), &offset, &error)) << error;
        EXPECT_EQ(offset, section->rawOffset);
        std::vector<uint8_t> copy = image.bytes;
        ASSERT_TRUE(vorx::FillConfigBlock(copy, {"%TEMP%\\x\\", "setup.exe"}, &error)) << error;
        EXPECT_STREQ(reinterpret_cast<const char*>(&copy[offset + 256]), "setup.exe");
    }
}

TEST(StubImage, HoldsNoArchiveSignature) {
    FOR_EACH_STUB(image) {
        SCOPED_TRACE(stub.label);
        EXPECT_FALSE(vorx::CarriesArchive(image.bytes.data(), image.bytes.size()));
    }
}

}  // namespace
