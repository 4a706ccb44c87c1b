// A small reader of PE files for the tests: headers, sections, imports, exports and
// resources, with every offset checked against the file. Portable C++; no OS headers.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pe {

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Section {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct Export {
    std::string name;
    uint32_t ordinal = 0;
};

struct Image {
    std::vector<uint8_t> bytes;
    uint16_t machine = 0;
    uint16_t subsystem = 0;
    bool is64 = false;
    std::vector<Section> sections;
    uint32_t directoryRva[16] = {};
    uint32_t directorySize[16] = {};

    bool Load(const std::string& path, std::string* error) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return Fail(error, "cannot open " + path);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const uint8_t* p = At(0, 0x40);
        if (p == nullptr || p[0] != 'M' || p[1] != 'Z') return Fail(error, "no MZ header");
        const uint32_t peOffset = U32(p + 0x3C);
        const uint8_t* h = At(peOffset, 24);
        if (h == nullptr || std::memcmp(h, "PE\0\0", 4) != 0) return Fail(error, "no PE header");
        machine = U16(h + 4);
        const uint16_t sectionCount = U16(h + 6);
        const uint16_t optionalSize = U16(h + 20);
        const uint8_t* opt = At(peOffset + 24, optionalSize);
        if (opt == nullptr || optionalSize < 96) return Fail(error, "optional header cut short");
        is64 = U16(opt) == 0x20B;
        subsystem = U16(opt + 68);
        const uint32_t dirs = is64 ? 112 : 96;
        const uint32_t dirCount = U32(opt + dirs - 4);
        for (uint32_t i = 0; i < dirCount && i < 16 && dirs + 8 * i + 8 <= optionalSize; ++i) {
            directoryRva[i] = U32(opt + dirs + 8 * i);
            directorySize[i] = U32(opt + dirs + 8 * i + 4);
        }
        const uint8_t* table = At(peOffset + 24 + optionalSize, 40u * sectionCount);
        if (table == nullptr) return Fail(error, "section table cut short");
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const uint8_t* s = table + 40 * i;
            Section section;
            section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
            section.virtualSize = U32(s + 8);
            section.virtualAddress = U32(s + 12);
            section.rawSize = U32(s + 16);
            section.rawOffset = U32(s + 20);
            section.characteristics = U32(s + 36);
            sections.push_back(section);
        }
        return true;
    }

    // `length` bytes at a file offset, or null when they are not all inside the file.
    const uint8_t* At(uint64_t offset, uint64_t length) const {
        if (offset > bytes.size() || bytes.size() - offset < length) return nullptr;
        return bytes.data() + offset;
    }

    // `length` bytes at a relative virtual address, or null.
    const uint8_t* AtRva(uint32_t rva, uint32_t length) const {
        for (const Section& s : sections) {
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize &&
                s.rawSize - (rva - s.virtualAddress) >= length)
                return At(uint64_t{s.rawOffset} + (rva - s.virtualAddress), length);
        }
        return nullptr;
    }

    std::string StringAtRva(uint32_t rva) const {
        std::string out;
        for (const uint8_t* c; (c = AtRva(rva, 1)) != nullptr && *c != 0; ++rva) out += static_cast<char>(*c);
        return out;
    }

    const Section* FindSection(const std::string& name) const {
        for (const Section& s : sections)
            if (s.name == name) return &s;
        return nullptr;
    }

    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> dlls;
        for (uint32_t rva = directoryRva[1]; directoryRva[1] != 0; rva += 20) {
            const uint8_t* d = AtRva(rva, 20);
            if (d == nullptr || U32(d + 12) == 0) break;
            dlls.push_back(StringAtRva(U32(d + 12)));
        }
        return dlls;
    }

    bool Exports(std::string* moduleName, std::vector<Export>* exports) const {
        const uint8_t* d = AtRva(directoryRva[0], 40);
        if (directoryRva[0] == 0 || d == nullptr) return false;
        *moduleName = StringAtRva(U32(d + 12));
        const uint32_t base = U32(d + 16);
        const uint32_t names = U32(d + 24);
        const uint8_t* namePointers = AtRva(U32(d + 32), 4 * names);
        const uint8_t* ordinals = AtRva(U32(d + 36), 2 * names);
        if (names != 0 && (namePointers == nullptr || ordinals == nullptr)) return false;
        for (uint32_t i = 0; i < names; ++i)
            exports->push_back({StringAtRva(U32(namePointers + 4 * i)), base + U16(ordinals + 2 * i)});
        return true;
    }

    // The data of resource type/id (the first language) and its language.
    bool FindResource(uint32_t type, uint32_t id, std::vector<uint8_t>* data, uint32_t* language) const {
        const uint32_t root = directoryRva[2];
        if (root == 0) return false;
        uint32_t entry = 0;
        if (!FindEntry(root, root, type, &entry) || !(entry & 0x80000000u)) return false;
        const uint32_t names = root + (entry & 0x7FFFFFFFu);
        if (!FindEntry(root, names, id, &entry) || !(entry & 0x80000000u)) return false;
        const uint8_t* langs = AtRva(root + (entry & 0x7FFFFFFFu), 24);
        if (langs == nullptr || U16(langs + 12) + U16(langs + 14) == 0) return false;
        *language = U32(langs + 16);
        const uint8_t* leaf = AtRva(root + (U32(langs + 20) & 0x7FFFFFFFu), 16);
        if (leaf == nullptr) return false;
        const uint8_t* bytesAt = AtRva(U32(leaf), U32(leaf + 4));
        if (bytesAt == nullptr) return false;
        data->assign(bytesAt, bytesAt + U32(leaf + 4));
        return true;
    }

private:
    bool FindEntry(uint32_t root, uint32_t directory, uint32_t id, uint32_t* offset) const {
        const uint8_t* d = AtRva(directory, 16);
        if (d == nullptr) return false;
        const uint32_t count = U16(d + 12) + U16(d + 14);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = AtRva(directory + 16 + 8 * i, 8);
            if (e == nullptr) return false;
            if (U32(e) == id) {
                *offset = U32(e + 4);
                return true;
            }
        }
        (void)root;
        return false;
    }

    static bool Fail(std::string* error, const std::string& message) {
        if (error) *error = message;
        return false;
    }
};

// One control or the dialog itself, read from an extended dialog template.
struct DialogItem {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    std::string className;  // "#128" style for ordinals
    std::string text;       // "#131" for an ordinal (a resource picture)
};

struct DialogTemplate {
    DialogItem dialog;  // className is the dialog class; text the caption
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::string font;
    std::string menu;
    std::vector<DialogItem> items;
};

// Reads a DLGTEMPLATEEX; false when it is not one or is cut short.
inline bool ParseDialog(const std::vector<uint8_t>& data, DialogTemplate* out) {
    size_t pos = 0;
    auto need = [&](size_t n) { return pos <= data.size() && data.size() - pos >= n; };
    auto word = [&](uint16_t* v) { if (!need(2)) return false; *v = U16(&data[pos]); pos += 2; return true; };
    auto dword = [&](uint32_t* v) { if (!need(4)) return false; *v = U32(&data[pos]); pos += 4; return true; };
    auto text = [&](std::string* s) {
        s->clear();
        for (uint16_t c; word(&c);) {
            if (c == 0) return true;
            s->push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return false;
    };
    auto sizeOrOrdinal = [&](std::string* s) {
        uint16_t first;
        if (!need(2)) return false;
        first = U16(&data[pos]);
        if (first == 0xFFFF) {
            pos += 2;
            uint16_t ordinal;
            if (!word(&ordinal)) return false;
            *s = "#" + std::to_string(ordinal);
            return true;
        }
        return text(s);
    };
    uint16_t version, signature, count;
    uint32_t helpId;
    DialogItem& d = out->dialog;
    uint16_t coords[4];
    if (!word(&version) || !word(&signature) || version != 1 || signature != 0xFFFF) return false;
    if (!dword(&helpId) || !dword(&d.exStyle) || !dword(&d.style) || !word(&count)) return false;
    for (uint16_t& c : coords)
        if (!word(&c)) return false;
    d.x = static_cast<int16_t>(coords[0]);
    d.y = static_cast<int16_t>(coords[1]);
    d.cx = static_cast<int16_t>(coords[2]);
    d.cy = static_cast<int16_t>(coords[3]);
    if (!sizeOrOrdinal(&out->menu) || !sizeOrOrdinal(&d.className) || !text(&d.text)) return false;
    if (d.style & 0x40) {  // DS_SETFONT
        uint16_t italicCharset;
        if (!word(&out->pointSize) || !word(&out->weight) || !word(&italicCharset) || !text(&out->font))
            return false;
        out->italic = static_cast<uint8_t>(italicCharset & 0xFF);
        out->charset = static_cast<uint8_t>(italicCharset >> 8);
    }
    for (uint16_t i = 0; i < count; ++i) {
        pos = (pos + 3) & ~size_t{3};
        DialogItem item;
        uint32_t id;
        uint16_t extra;
        if (!dword(&helpId) || !dword(&item.exStyle) || !dword(&item.style)) return false;
        for (uint16_t& c : coords)
            if (!word(&c)) return false;
        item.x = static_cast<int16_t>(coords[0]);
        item.y = static_cast<int16_t>(coords[1]);
        item.cx = static_cast<int16_t>(coords[2]);
        item.cy = static_cast<int16_t>(coords[3]);
        if (!dword(&id) || !sizeOrOrdinal(&item.className) || !sizeOrOrdinal(&item.text) || !word(&extra))
            return false;
        item.id = static_cast<int32_t>(id);
        if (!need(extra)) return false;
        pos += extra;
        out->items.push_back(item);
    }
    return true;
}

}  // namespace pe
