#include "writer/entry_names.h"

#include "container/config_block.h"
#include "container/format.h"

namespace vorx {
namespace {

// Simple upper case of the letters that come with the code pages names are stored in.
uint32_t Upper(uint32_t c) {
    const auto pairs = [](uint32_t ch, bool upperIsEven) {  // alternating upper/lower pairs
        return ((ch & 1) == 0) == upperIsEven ? ch : ch - 1;
    };
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0xB5) return c;
    if (c == 0xB5) return 0x39C;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if ((c >= 0x100 && c <= 0x137 && c != 0x131) || (c >= 0x14A && c <= 0x177))
        return pairs(c, true);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return pairs(c, false);
    if (c == 0x192) return 0x191;
    if (c == 0x1A1 || c == 0x1B0) return c - 1;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3C2) return 0x3A3;
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 0x20;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return pairs(c, true);
    if (c >= 0x2170 && c <= 0x217F) return c - 0x10;
    if (c >= 0x24D0 && c <= 0x24E9) return c - 0x1A;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    return c;
}

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string EntryNameProblem(const std::string& name, unsigned codePage) {
    const NameProblem problem = CheckEntryName(name.data(), name.size(), codePage);
    if (problem != NameProblem::None) return NameProblemText(problem);
    if (name == kCommentEntryName)
        return std::string("the name \"") + kCommentEntryName + "\" is reserved for the comment";
    return "";
}

bool SplitForExtraction(const std::string& name, unsigned codePage, std::vector<std::string>* parts,
                        std::string* reason) {
    parts->clear();
    const NameProblem problem = CheckEntryName(name.data(), name.size(), codePage);
    if (problem != NameProblem::None) {
        *reason = NameProblemText(problem);
        return false;
    }
    for (size_t start = 0; start < name.size();) {
        const size_t end = ComponentEnd(name.data(), name.size(), start, codePage);
        parts->push_back(name.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::string WindowsNameKey(const std::string& utf8) {
    std::string key;
    key.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<uint8_t>(utf8[i]);
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + n > utf8.size()) {  // not UTF-8: the rest as it is
            key.append(utf8, i, std::string::npos);
            break;
        }
        uint32_t code = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k)
            code = (code << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        AppendUtf8(Upper(code), &key);
        i += n;
    }
    return key;
}

std::string PasswordProblem(const std::string& password) {
    if (password.size() < kMinStubPasswordLength)
        return "a password needs at least " + std::to_string(kMinStubPasswordLength) +
               " characters (the self-extractor takes no shorter one)";
    if (password.size() > kMaxStubPasswordLength)
        return "a password has at most " + std::to_string(kMaxStubPasswordLength) +
               " characters (the self-extractor cuts longer ones)";
    if (password.find('\0') != std::string::npos) return "a password cannot hold a NUL character";
    return "";
}

std::string CommentForArchive(const std::string& text) {
    std::string out(2 * text.size(), '\0');
    out.resize(WidenLineEnds(text.data(), text.size(), out.data()));
    return out;
}

}  // namespace vorx
