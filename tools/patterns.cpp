#include "tools/patterns.h"

#include "platform/host.h"
#include "platform/platform.h"
#include "writer/entry_names.h"

namespace tool {
namespace {

// The code points of UTF-8 text (a byte that starts no sequence counts as one character).
std::u32string CodePoints(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<uint8_t>(utf8[i]);
        const size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (n == 1 || i + n > utf8.size()) {
            out.push_back(c);
            ++i;
            continue;
        }
        char32_t code = c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k)
            code = (code << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        out.push_back(code);
        i += n;
    }
    return out;
}

// Pattern positions reachable without consuming a character: a `*` may stand for nothing.
void Close(const std::u32string& pattern, std::vector<bool>* states) {
    for (size_t j = 0; j < pattern.size(); ++j)
        if ((*states)[j] && pattern[j] == U'*') (*states)[j + 1] = true;
}

}  // namespace

Pattern::Pattern(const std::string& utf8) : key_(CodePoints(vorx::WindowsNameKey(utf8))) {
    for (char32_t& c : key_)
        if (c == U'/') c = U'\\';
    // "src/" as a shell completes a folder's name: the folder.
    while (key_.size() > 1 && key_.back() == U'\\') key_.pop_back();
}

bool Pattern::Matches(const std::string& name) const {
    // The positions of the pattern reached after each prefix of the name, checked at
    // the name's end and before every separator (a folder takes what is below it).
    const std::u32string text = CodePoints(vorx::WindowsNameKey(name));
    std::vector<bool> states(key_.size() + 1, false), next(key_.size() + 1);
    states[0] = true;
    Close(key_, &states);
    for (size_t i = 0;; ++i) {
        if ((i == text.size() || text[i] == U'\\') && states[key_.size()] && i > 0) return true;
        if (i == text.size()) return false;
        std::fill(next.begin(), next.end(), false);
        bool any = false;
        for (size_t j = 0; j < key_.size(); ++j) {
            if (!states[j]) continue;
            const char32_t p = key_[j];
            if (p == U'*') next[j] = any = true;
            if (p == text[i] || (p == U'?' && text[i] != U'\\')) next[j + 1] = any = true;
        }
        if (!any) return false;
        Close(key_, &next);
        states.swap(next);
    }
}

NameFilter::NameFilter(const std::vector<std::string>& include,
                       const std::vector<std::string>& exclude)
    : matched_(include.size(), false) {
    for (const std::string& p : include) include_.emplace_back(p);
    for (const std::string& p : exclude) exclude_.emplace_back(p);
}

bool NameFilter::Takes(const std::string& name) {
    bool taken = include_.empty();
    for (size_t i = 0; i < include_.size(); ++i) {
        if (include_[i].Matches(name)) matched_[i] = taken = true;
    }
    return taken && !Excludes(name);
}

bool NameFilter::Excludes(const std::string& name) const {
    for (const Pattern& p : exclude_)
        if (p.Matches(name)) return true;
    return false;
}

std::vector<size_t> NameFilter::Unmatched() const {
    std::vector<size_t> unmatched;
    for (size_t i = 0; i < matched_.size(); ++i)
        if (!matched_[i]) unmatched.push_back(i);
    return unmatched;
}

EntryList SelectEntries(const Options& o, EntryList list) {
    if (o.patterns.empty() && o.exclude.empty()) return list;
    std::vector<std::string> include, exclude;
    for (const auto& [given, utf8] : {std::pair{&o.patterns, &include}, {&o.exclude, &exclude}})
        for (const std::string& pattern : *given) {
            std::string converted, error;
            HostToUtf8(pattern, &converted, &error);
            utf8->push_back(converted);
        }
    NameFilter filter(include, exclude);
    EntryList taken;
    taken.error = list.error;
    taken.unreadable = list.unreadable;
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const vorx_FileInfo& info = list.entries[i];
        if (!filter.Takes(StoredToUtf8(info.name, o.codePage))) continue;
        taken.entries.push_back(info);
        taken.index.push_back(list.index[i]);
        taken.totalSize += info.uncompressedSize;
    }
    for (size_t i : filter.Unmatched()) {
        Error("no entry matches '" + o.patterns[i] + "'");
        taken.selectExit = kExitWarning;
    }
    return taken;
}

bool HostToUtf8(const std::string& host, std::string* utf8, std::string* error) {
    return host::ToCodePage(host, 65001, utf8, error);
}

std::string StoredToUtf8(const std::string& stored, unsigned codePage) {
    std::string host, utf8, error;
    if (host::FromCodePage(stored, codePage, &host, &error) && HostToUtf8(host, &utf8, &error))
        return utf8;
    return stored;
}

bool ReadSmallFile(const std::string& path, uint64_t limit, std::string* bytes, std::string* error,
                   bool regularOnly) {
    const int fd = host::OpenForReading(path, regularOnly);
    if (fd < 0) {
        *error = host::LastError().text;
        return false;
    }
    bytes->clear();
    char buffer[65536];
    int64_t n;
    while ((n = platform::FileRead(fd, buffer, sizeof buffer)) > 0 && bytes->size() <= limit)
        bytes->append(buffer, static_cast<size_t>(n));
    if (n < 0) *error = host::LastError().text;
    platform::FileClose(fd);
    if (n >= 0 && bytes->size() > limit)
        *error = "it holds more than " + std::to_string(limit) + " bytes";
    return n >= 0 && bytes->size() <= limit;
}

bool ReadListFile(const std::string& path, std::vector<std::string>* paths, std::string* error) {
    constexpr uint64_t kListLimit = 256u << 20;
    std::string text;
    if (!ReadSmallFile(path, kListLimit, &text, error)) return false;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths->push_back(line);
        start = end + 1;
    }
    return true;
}

}  // namespace tool
