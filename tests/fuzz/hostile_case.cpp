#include "tests/fuzz/hostile_case.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <map>
#include <filesystem>
#include <regex>
#include <set>

#include "container/format.h"
#include "tests/support/damaging_writer.h"
#include "writer/compressor.h"

namespace hunt {

const char kArchivePassword[] = "hunt-secret";

uint32_t Choices::Below(uint32_t n) {
    if (n <= 1) return 0;
    if (!data_) return static_cast<uint32_t>(random_() % n);
    uint32_t value = 0;
    for (uint32_t range = 1; range < n && range < (1u << 24); range <<= 8) {
        value = value << 8 | (size_ > 0 ? *data_ : 0);
        if (size_ > 0) ++data_, --size_;
    }
    return value % n;
}

std::string ReadAll(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<size_t>(n));
    if (fd >= 0) close(fd);
    return content;
}

Entry Plain(const std::string& name, size_t index, size_t length, char fill) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "\x02HUNT%04zu\x03", index % 10000);
    Entry e;
    e.name = name;
    e.data = tag + std::string(length, fill);
    return e;
}

namespace {

// Pieces of names. Plain ones, that every extraction should write (letters with their
// case twins, blanks inside, double-byte characters whose second byte is '\' or '|'),
// and hostile ones: separators, dots and blanks at the end, device stems, the reserved
// and control characters, the names of the extraction's own temporaries, lone lead
// bytes, bytes the code page leaves undefined, overlong and surrogate UTF-8.
struct Pieces {
    unsigned codePage;
    std::vector<std::string> plain;
    std::vector<std::string> hostile;
};

const Pieces kCommon = {
    0,
    {"a", "B", "readme.txt", "README.TXT", "dir", "Dir", "x y", "v1.2", "setup.exe"},
    {".",          "..",      "...",     " ",          "x.",
     "x ",         "nul",     "NUL.txt", "com1",       "CONIN$",
     "lpt9.log",   "aux .x",  ":",       "a:b",        "*",
     "?",          "<",       "|",       "\"",         "/",
     "\t",         "\x1b[2J", "\x7f",    "$comments$", "~vx0badc0de.tmp",
     ".vorx-1.tmp"},
};

const Pieces kCodePages[] = {
    {1252,
     {"\xE9t\xE9", "\xC9T\xC9", "\xA0x", "\xFF"},
     {"\x81", "\x8D", "\x8F", "\x90", "\x9D", "com\xB9", "\x85"}},
    {932,
     {"\x83\x5C", "\x95\x5C", "\x83\x7C", "\x83\x41", "\x83\x61", "\x82\xA0", "\xB1", "dir\x95\x5C",
      "\x81\x5F"},
     {"\x81", "\xFD", "\x81\x7F"}},
    {936, {"\x81\x5C", "\xB1\xED", "\xD5\x7C", "\xA3\xDC", "\x80"}, {"\xFF", "\x81"}},
    {949, {"\xB0\xA1", "\xC8\xFE", "\xA1\xAC"}, {"\x81\x5C", "\xFF"}},
    {950, {"\xA5\x5C", "\xB3\x5C", "\xAA\xED", "\xF9\xFE"}, {"\x80", "\xA5"}},
    {65001,
     {"\xC3\xA9", "\xC3\x89", "\xC4\xB0", "i", "\xE2\x80\x8B", "\xE2\x80\xAE"},
     {"\xC0\xAF", "\xC2\x85", "\xED\xA0\x80", "\xC3"}},
};

const Pieces& PiecesOf(unsigned codePage) {
    for (const Pieces& p : kCodePages)
        if (p.codePage == codePage) return p;
    return kCodePages[0];
}

const std::string& OneOf(Choices& choices, const std::vector<std::string>& a,
                         const std::vector<std::string>& b) {
    const uint32_t k = choices.Below(static_cast<uint32_t>(a.size() + b.size()));
    return k < a.size() ? a[k] : b[k - a.size()];
}

std::string Piece(Choices& choices, unsigned codePage, uint32_t rarity) {
    const Pieces& own = PiecesOf(codePage);
    return choices.OneIn(rarity) ? OneOf(choices, kCommon.hostile, own.hostile)
                                 : OneOf(choices, kCommon.plain, own.plain);
}

// ASCII letters in the other case: a twin Windows takes for the same name.
std::string Twin(std::string name) {
    for (char& c : name)
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
    return name;
}

std::string MakeName(Choices& choices, unsigned codePage, const std::vector<Entry>& earlier,
                     uint32_t rarity) {
    if (!earlier.empty() && choices.OneIn(4)) {
        // One of the names before, as it is or as Windows would take it.
        const std::string& other =
            earlier[choices.Below(static_cast<uint32_t>(earlier.size()))].name;
        const uint32_t how = choices.Below(4);
        return how == 0   ? other
               : how == 1 ? Twin(other)
               : how == 2 ? other + "."
                          : other + "\\" + Piece(choices, codePage, rarity);
    }
    std::string name;
    if (choices.OneIn(24)) name += '\\';
    const uint32_t components = 1 + choices.Below(4);
    for (uint32_t i = 0; i < components; ++i) {
        if (i > 0) name += choices.OneIn(24) ? "\\\\" : "\\";
        const uint32_t pieces = 1 + choices.Below(2);
        for (uint32_t k = 0; k < pieces; ++k) name += Piece(choices, codePage, rarity);
    }
    if (choices.OneIn(12)) {
        // Long enough to reach the limits of the names table and of paths.
        const std::string piece = Piece(choices, codePage, rarity);
        while (name.size() < 200 + choices.Below(120)) name += piece;
    }
    if (choices.OneIn(24)) name += '\\';
    return name;
}

bool TagOf(const std::string& content, size_t* index) {
    if (content.size() < 10 || content.compare(0, 5, "\x02HUNT") != 0 || content[9] != '\x03')
        return false;
    *index = static_cast<size_t>(std::atoi(content.substr(5, 4).c_str()));
    return true;
}

// UTF-8 as wide characters (the C.UTF-8 locale), or nothing when it is not UTF-8.
std::optional<std::wstring> Wide(const std::string& utf8) {
    std::mbstate_t state{};
    std::wstring wide(utf8.size() + 1, L'\0');
    const char* source = utf8.c_str();
    const size_t n = std::mbsrtowcs(wide.data(), &source, wide.size(), &state);
    if (n == static_cast<size_t>(-1)) return std::nullopt;
    wide.resize(n);
    return wide;
}

// The host name of an entry as an independent reader of its code page sees it, cut
// into components at '\', or nothing when a faithful extraction cannot write it: bytes
// that are no text of the code page, empty components, "." and "..", control
// characters, the characters Windows reserves, a trailing dot or blank.
std::optional<std::vector<std::string>> HostComponents(const std::string& stored,
                                                       unsigned codePage) {
    const std::string from = codePage == 65001 ? "UTF-8" : "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string utf8(stored.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(stored.data());
    char* out = utf8.data();
    size_t inLeft = stored.size(), outLeft = utf8.size();
    const size_t converted = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (converted == static_cast<size_t>(-1) || inLeft != 0) return std::nullopt;
    utf8.resize(utf8.size() - outLeft);
    const auto wide = Wide(utf8);
    if (!wide) return std::nullopt;
    for (wchar_t c : *wide)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) ||
            (c != 0 && std::wcschr(L"<>:\"/|?*", c)))
            return std::nullopt;
    std::vector<std::string> parts;
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = utf8.find('\\', start);
        parts.push_back(utf8.substr(start, end == std::string::npos ? end : end - start));
        if (parts.back().empty() || parts.back().back() == '.' || parts.back().back() == ' ')
            return std::nullopt;
    }
    return parts;
}

// Why an entry must not be written, or "".
std::string Forbidden(const Case& c, const Entry& e) {
    if (e.name == vorx::kCommentEntryName) return "the comment";
    if (e.declaredSize && *e.declaredSize != e.data.size()) return "its record lies about its size";
    if (e.declaredCrc) return "its record lies about its checksum";
    const bool rightPassword = c.password && *c.password == kArchivePassword;
    if (c.encryptNames && !rightPassword)
        return "the names are encrypted and the password is not given";
    if (e.encrypted && !rightPassword)
        return c.password ? "it is encrypted and the password is wrong"
                          : "it is encrypted and no password was given";
    if (!HostComponents(e.name, c.codePage)) return "no extraction may write its name";
    return "";
}

// A path as Windows compares it when `ignoreCase` (upper case), else as it is.
std::string Join(const std::vector<std::string>& parts, bool ignoreCase) {
    std::string path;
    for (const std::string& p : parts) path += (path.empty() ? "" : "/") + p;
    auto wide = Wide(path);
    if (!ignoreCase || !wide) return path;
    for (wchar_t& c : *wide) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    std::string upper(wide->size() * 4 + 1, '\0');
    std::mbstate_t state{};
    const wchar_t* from = wide->c_str();
    const size_t n = std::wcsrtombs(upper.data(), &from, upper.size(), &state);
    return n == static_cast<size_t>(-1) ? path : upper.substr(0, n);
}

// Every file, folder and link below `folder`, never through a link, with what each is: a
// file with its size, time and a hash of its bytes. A folder seen before (mounted a
// second time) is listed, not entered again.
std::map<std::string, std::string> Walk(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    std::set<std::pair<dev_t, ino_t>> folders;
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) folders.emplace(st.st_dev, st.st_ino);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string(), rel = path.substr(folder.size() + 1);
        char target[4096];
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode) && !folders.emplace(st.st_dev, st.st_ino).second)
            it.disable_recursion_pending();
        if (S_ISREG(st.st_mode)) {
            const std::string content = ReadAll(path);
            tree[rel] = "file of " + std::to_string(content.size()) + " bytes, time " +
                        std::to_string(st.st_mtime) + ", hash " +
                        std::to_string(std::hash<std::string>()(content));
        } else if (S_ISLNK(st.st_mode)) {
            const ssize_t n = readlink(path.c_str(), target, sizeof target);
            tree[rel] = "link to " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else {
            tree[rel] = S_ISDIR(st.st_mode) ? "folder" : "special";
        }
    }
    return tree;
}

const char kPlanted[] = "PLANTED";
const char kSecondWay[] = "second-way";  // the destination's second name

}  // namespace

Case MakeCase(Choices& choices, const std::vector<unsigned>& codePages, size_t maxEntries,
              uint32_t rarity) {
    Case c;
    c.codePage = codePages[choices.Below(static_cast<uint32_t>(codePages.size()))];
    const size_t count = 1 + choices.Below(static_cast<uint32_t>(maxEntries));
    for (size_t i = 0; i < count; ++i) {
        // Mostly small; now and then past the sizes at which the tool and the library
        // change their ways (whole entries in memory, several blocks, 4 MiB).
        const std::string name = MakeName(choices, c.codePage, c.entries, rarity);
        size_t length = choices.Below(300);
        if (choices.OneIn(40)) length = (1u << 20) + choices.Below(5u << 20);
        Entry e = Plain(name, i, length, 'a');
        const uint32_t seed = choices.Below(1u << 24);
        for (size_t k = 0; k < length; ++k)
            e.data[10 + k] = "abcdefgh"[(k * seed >> 4) & 7] ^ (k % 97 == 0 ? 0x20 : 0);
        e.encrypted = choices.OneIn(5);
        e.compressed = choices.OneIn(3);
        const uint32_t lies = 12 * rarity / 4, lie = choices.Below(lies) + 12 - lies;
        // A little more, or far more than any memory or disk holds; less; another checksum.
        static const uint64_t kHuge[] = {1ull << 32, 1ull << 40, ~0ull, ~0ull >> 1};
        if (lie == 11)
            e.declaredSize = choices.OneIn(3) ? kHuge[choices.Below(4)]
                                              : e.data.size() + 1 + choices.Below(5000);
        if (lie == 10)
            e.declaredSize =
                e.data.size() - 1 - choices.Below(static_cast<uint32_t>(e.data.size() - 1));
        if (lie == 9) e.declaredCrc = 0xDEADBEEF;
        if (choices.OneIn(6)) {
            // Times no calendar or clock of the system may hold.
            static const uint64_t kTimes[] = {
                0, ~0ull, 1ull << 63, 32536850000ull, 0xFFFFFFFF80000000ull, 1};
            e.timeKind = static_cast<uint8_t>(1 + choices.Below(3));
            e.time = kTimes[choices.Below(6)];
        }
        c.entries.push_back(std::move(e));
    }
    c.encryptNames = choices.OneIn(10);
    const uint32_t password = choices.Below(3);
    if (password == 1) c.password = kArchivePassword;
    if (password == 2) c.password = "wrong-password";
    c.yes = choices.OneIn(2);
    c.jobs = 1 + choices.Below(4);

    // Things in the way, at the places the entries' names lead to (in either case).
    const uint32_t plants = choices.Below(4);
    for (uint32_t k = 0; k < plants; ++k) {
        const Entry& e = c.entries[choices.Below(static_cast<uint32_t>(c.entries.size()))];
        const auto parts = HostComponents(e.name, c.codePage);
        if (!parts) continue;
        Plant p;
        p.kind = static_cast<PlantKind>(choices.Below(7));
        const size_t depth = 1 + choices.Below(static_cast<uint32_t>(parts->size()));
        p.path.assign(parts->begin(), parts->begin() + static_cast<std::ptrdiff_t>(depth));
        if (choices.OneIn(3)) p.path.back() = Twin(p.path.back());
        c.plants.push_back(std::move(p));
    }
    if (choices.OneIn(6)) {
        // An entry that reaches an earlier one's file by the destination's second name,
        // small or past the size the tool decodes through a temporary file.
        const std::string name = c.entries[choices.Below(static_cast<uint32_t>(count))].name;
        const size_t length =
            choices.OneIn(2) ? (4u << 20) + choices.Below(1u << 20) : choices.Below(300);
        c.entries.push_back(Plain(std::string(kSecondWay) + "\\" + name, count, length, 'b'));
        c.plants.push_back({PlantKind::Mount, {kSecondWay}});
    }
    std::sort(c.plants.begin(), c.plants.end(),
              [](const Plant& a, const Plant& b) { return a.path.size() < b.path.size(); });
    return c;
}

std::string Describe(const Case& c) {
    std::string text = "code page " + std::to_string(c.codePage) + ", -j " +
                       std::to_string(c.jobs) + (c.yes ? ", -y" : "") +
                       (c.encryptNames ? ", names encrypted" : "") +
                       (c.password ? ", password '" + *c.password + "'" : "") + "\n";
    for (const Entry& e : c.entries) {
        text += "  " + std::to_string(e.data.size()) + " bytes" +
                (e.encrypted ? " encrypted" : "") + (e.compressed ? " compressed" : "") +
                (e.declaredSize ? " declared " + std::to_string(*e.declaredSize) : "") +
                (e.declaredCrc ? " bad crc" : "") + " time " + std::to_string(e.timeKind) + ":" +
                std::to_string(e.time) + ", name ";
        for (unsigned char ch : e.name)
            text += ch >= 0x20 && ch < 0x7F && ch != '\\'
                        ? std::string(1, static_cast<char>(ch))
                        : std::string{'\\', 'x', "0123456789ABCDEF"[ch >> 4],
                                      "0123456789ABCDEF"[ch & 15]};
        text += "\n";
    }
    for (const Plant& p : c.plants)
        text += "  planted kind " + std::to_string(static_cast<int>(p.kind)) + " (FolderLink, " +
                "FileLink, DanglingLink, HardLink, File, Folder, Fifo, Mount) at " +
                Join(p.path, false) + "\n";
    return text;
}

bool WriteArchive(const Case& c, const std::string& path, const std::vector<uint8_t>& carrier,
                  std::string* error) {
    vorx::Compressor compressor(1);  // fresh: every case alone decides its bytes
    vorx::test::TestArchive archive;
    archive.carrier = carrier;
    for (const Entry& e : c.entries) {
        vorx::test::TestEntry& t =
            archive.entries.emplace_back(e.name, vorx::Bytes(e.data.begin(), e.data.end()));
        t.timeKind = e.timeKind, t.time = e.time;
        t.overrides = {e.declaredSize, e.declaredCrc};
        if (e.encrypted) t.password = std::string(kArchivePassword);
        if (e.compressed) t.encoder = compressor.AsBlockEncoder();
    }
    if (c.encryptNames) archive.directory.password = std::string(kArchivePassword);
    return vorx::test::WriteTestArchive(path, archive, error);
}

Scene::Scene(const Case& c, const std::string& parent) {
    std::string pattern = parent + "/vorx-hunt-XXXXXX";
    if (!mkdtemp(pattern.data())) return;
    root = pattern, out = root + "/out", archive = root + "/archive.vx";
    const std::string outside = root + "/outside", secret = outside + "/secret.txt";
    for (const std::string& folder : {out, outside, outside + "/dir"}) mkdir(folder.c_str(), 0755);
    std::FILE* f = std::fopen(secret.c_str(), "wbx");
    if (!f || std::fputs("SECRET", f) < 0 || std::fclose(f) != 0) return;
    for (const Plant& p : c.plants) {
        if (p.kind == PlantKind::Mount) {
            const std::string path = out + "/" + kSecondWay;
            if (mkdir(path.c_str(), 0755) != 0) continue;
            if (mount(out.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0)
                mounts.push_back(path);
            else
                rmdir(path.c_str());  // not where the hunt may mount: a plain folder then
            continue;
        }
        // Folders on the way are made only where nothing stands yet.
        std::string path = out;
        bool clear = true;
        struct stat st;
        for (size_t i = 0; i + 1 < p.path.size() && clear; ++i) {
            path += "/" + p.path[i];
            clear = lstat(path.c_str(), &st) == 0 ? S_ISDIR(st.st_mode)
                                                  : mkdir(path.c_str(), 0755) == 0;
        }
        path += "/" + p.path.back();
        if (!clear || lstat(path.c_str(), &st) == 0) continue;
        const std::string target = p.kind == PlantKind::FolderLink     ? outside + "/dir"
                                   : p.kind == PlantKind::DanglingLink ? outside + "/missing"
                                                                       : secret;
        if (p.kind <= PlantKind::DanglingLink) (void)!symlink(target.c_str(), path.c_str());
        if (p.kind == PlantKind::HardLink) (void)!link(target.c_str(), path.c_str());
        if (p.kind == PlantKind::Folder) mkdir(path.c_str(), 0755);
        if (p.kind == PlantKind::Fifo) mkfifo(path.c_str(), 0644);
        if (std::FILE* file = p.kind == PlantKind::File ? std::fopen(path.c_str(), "wbx") : nullptr)
            std::fputs(kPlanted, file), std::fclose(file);
    }
    ok = true;
}

Scene::~Scene() {
    for (const std::string& path : mounts) umount2(path.c_str(), MNT_DETACH);
    std::error_code ec;
    if (!root.empty()) std::filesystem::remove_all(root, ec);
}

std::string Scene::Current() const {
    std::string text;
    for (const auto& [path, what] : Walk(root))
        if (path != "out" && path.compare(0, 4, "out/") != 0) text += path + ": " + what + "\n";
    return text;
}

std::vector<std::string> Check(const Case& c, const Scene& scene, const Outcome& outcome) {
    std::vector<std::string> broken;
    if (outcome.timedOut) broken.push_back("the extraction did not end");
    if (scene.Current() != scene.snapshot)
        broken.push_back("something outside the destination changed; before:\n" + scene.snapshot +
                         "after:\n" + scene.Current());
    std::set<std::string> planted;
    for (const Plant& p : c.plants) planted.insert(Join(p.path, false));

    std::vector<bool> written(c.entries.size());
    size_t writtenCount = 0;
    for (const auto& [path, what] : Walk(scene.out)) {
        if (what.compare(0, 5, "file ") != 0) {
            if (what != "folder" && !planted.count(path))
                broken.push_back("'" + path + "' (" + what + ") appeared");
            continue;
        }
        const std::string content = ReadAll(scene.out + "/" + path);
        size_t index = 0;
        if (!TagOf(content, &index) || index >= c.entries.size()) {
            const bool plantedFile =
                planted.count(path) && (content == kPlanted || content == "SECRET");
            // Under a race the racer itself may move a file the extraction was removing back
            // into place (under Wine a file is removed by its name).
            if (!plantedFile && !outcome.race)
                broken.push_back("'" + path + "' holds no entry's bytes");
            continue;
        }
        const Entry& e = c.entries[index];
        const std::string entry = "entry " + std::to_string(index), why = Forbidden(c, e);
        auto parts = HostComponents(e.name, c.codePage);
        // Under the destination's second name, a file lies in the destination itself.
        if (parts && parts->size() > 1 && parts->front() == kSecondWay && !scene.mounts.empty())
            parts->erase(parts->begin());
        const std::string expected = parts ? Join(*parts, outcome.ignoreCase) : "";
        if (content != e.data) broken.push_back("'" + path + "' holds a damaged copy of " + entry);
        if (!why.empty())
            broken.push_back(entry + " was written to '" + path + "' although " + why);
        if (why.empty() && !outcome.race && Join({path}, outcome.ignoreCase) != expected)
            broken.push_back(entry + " was written to '" + path + "' instead of '" + expected +
                             "'");
        if (written[index]) broken.push_back(entry + " was written twice");
        written[index] = true;
        ++writtenCount;
    }
    size_t extractable = 0;
    for (const Entry& e : c.entries) extractable += e.name != vorx::kCommentEntryName;
    // Under a race the racer itself may move or remove what was written.
    if (!outcome.race && writtenCount < extractable && outcome.exitCode == 0)
        broken.push_back("exit code 0 although " + std::to_string(extractable - writtenCount) +
                         " entries were not written");
    // The tool's last summary line, "N files extracted[, S skipped][, F failed]".
    static const std::regex summary(
        "(^|\n)[\r ]*([0-9]+) files? extracted(, ([0-9]+) skipped)?(, ([0-9]+) failed)?");
    std::smatch last;
    for (std::sregex_iterator it(outcome.output.begin(), outcome.output.end(), summary), end;
         it != end; ++it)
        last = *it;
    const auto number = [&](int group) {
        return last[group].matched ? std::stoul(last[group]) : 0;
    };
    if (outcome.counts && !outcome.race && last.empty() && outcome.exitCode == 0)
        broken.push_back("exit code 0 without a summary");
    if (outcome.counts && !outcome.race && !last.empty() &&
        (number(2) != writtenCount || number(2) + number(4) + number(6) != extractable))
        broken.push_back("the summary '" + last.str() +
                         "' does not match: " + std::to_string(writtenCount) + " of " +
                         std::to_string(extractable) + " entries were written");
    static const std::regex control("[\\x00-\\x08\\x0B\\x0C\\x0E-\\x1F\\x7F]|\xC2[\x85\x9B]");
    if (std::regex_search(outcome.output, control))
        broken.push_back("the output holds a raw control character");
    return broken;
}

}  // namespace hunt
