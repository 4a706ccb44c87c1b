#include "writer/entry_names.h"

#include "container/format.h"

namespace vorx {
namespace {

bool ForbiddenInWindowsName(unsigned char c) {
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
           c == '*';
}

}  // namespace

std::string EntryNameProblem(const std::string& name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > kMaxEntryNameBytes)
        return "the name is " + std::to_string(name.size()) + " bytes long; at most " +
               std::to_string(kMaxEntryNameBytes) + " can be read back";
    if (name == kCommentEntryName) return "the name \"$comments$\" is reserved for the comment";
    if (name[0] == '\\') return "the name starts with a separator";
    if (name.size() >= 2 && name[1] == ':') return "the name has a drive";
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty()) return "the name has an empty component";
        if (part == "." || part == "..") return "the name has a \"" + part + "\" component";
        for (unsigned char c : part) {
            if (c == '/') return "the name has a '/' (Windows takes it for a separator)";
            if (ForbiddenInWindowsName(c))
                return c < 0x20 ? "the name has a control character"
                                : std::string("the name has a '") + static_cast<char>(c) +
                                      "', which no Windows file name may hold";
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "";
}

bool SplitForExtraction(const std::string& name, std::vector<std::string>* parts,
                        std::string* reason) {
    parts->clear();
    if (name.empty()) {
        *reason = "empty name";
        return false;
    }
    if (name[0] == '\\' || name[0] == '/') {
        *reason = "absolute name";
        return false;
    }
    if (name.size() >= 2 && name[1] == ':') {
        *reason = "name with a drive";
        return false;
    }
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("\\/", start);
        const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty()) {
            *reason = "name with an empty component";
            return false;
        }
        if (part == "." || part == "..") {
            *reason = "name with a \"" + part + "\" component";
            return false;
        }
        for (unsigned char c : part)
            if (ForbiddenInWindowsName(c)) {
                *reason = "name with a character no file name may hold";
                return false;
            }
        parts->push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return true;
}

std::string PasswordProblem(const std::string& password) {
    if (password.size() < kMinPasswordLength)
        return "a password needs at least " + std::to_string(kMinPasswordLength) +
               " characters (the self-extractor takes no shorter one)";
    if (password.size() > kMaxPasswordLength)
        return "a password has at most " + std::to_string(kMaxPasswordLength) +
               " characters (the self-extractor cuts longer ones)";
    if (password.find('\0') != std::string::npos) return "a password cannot hold a NUL character";
    return "";
}

std::string CommentForArchive(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace vorx
