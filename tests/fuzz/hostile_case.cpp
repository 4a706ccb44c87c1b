#include "tests/fuzz/hostile_case.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
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
std::string Twin(const std::string& name) {
    std::string twin = name;
    for (char& c : twin) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return twin;
}

std::string MakeName(Choices& choices, unsigned codePage, const std::vector<Entry>& earlier,
                     uint32_t rarity) {
    if (!earlier.empty() && choices.OneIn(4)) {
        // One of the names before, as it is or as Windows would take it.
        const std::string& other =
            earlier[choices.Below(static_cast<uint32_t>(earlier.size()))].name;
        switch (choices.Below(4)) {
            case 0:
                return other;
            case 1:
                return Twin(other);
            case 2:
                return other + ".";
            default:
                return other + "\\" + Piece(choices, codePage, rarity);
        }
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

// The tag each entry's bytes start with: a file that holds it is that entry's.
std::string Tag(size_t index) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "\x02HUNT%04zu\x03", index % 10000);
    return tag;
}

bool TagOf(const std::string& content, size_t* index) {
    if (content.size() < 10 || content.compare(0, 5, "\x02HUNT") != 0 || content[9] != '\x03')
        return false;
    *index = static_cast<size_t>(std::atoi(content.substr(5, 4).c_str()));
    return true;
}

std::string MakeData(Choices& choices, size_t index) {
    std::string data = Tag(index);
    // Mostly small; now and then past the sizes at which the tool and the library
    // change their ways (whole entries in memory, several blocks, 4 MiB).
    size_t length = choices.Below(300);
    if (choices.OneIn(40)) length = (1u << 20) + choices.Below(5u << 20);
    const uint32_t seed = choices.Below(1u << 24);
    for (size_t i = 0; i < length; ++i)
        data += "abcdefgh"[(i * seed >> 4) & 7] ^ (i % 97 == 0 ? 0x20 : 0);
    return data;
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
    size_t inLeft = stored.size();
    char* out = utf8.data();
    size_t outLeft = utf8.size();
    const size_t converted = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (converted == static_cast<size_t>(-1) || inLeft != 0) return std::nullopt;
    utf8.resize(utf8.size() - outLeft);
    std::mbstate_t state{};
    std::wstring wide(utf8.size() + 1, L'\0');
    const char* source = utf8.c_str();
    const size_t n = std::mbsrtowcs(wide.data(), &source, wide.size(), &state);
    if (n == static_cast<size_t>(-1)) return std::nullopt;
    wide.resize(n);
    for (wchar_t c : wide) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        if (std::wcschr(L"<>:\"/|?*", c) && c != 0) return std::nullopt;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = utf8.find('\\', start);
        const std::string part =
            utf8.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part.back() == '.' || part.back() == ' ') return std::nullopt;
        parts.push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
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

std::string Fold(const std::string& utf8, bool ignoreCase) {
    if (!ignoreCase) return utf8;
    std::mbstate_t state{};
    std::wstring wide(utf8.size() + 1, L'\0');
    const char* source = utf8.c_str();
    const size_t n = std::mbsrtowcs(wide.data(), &source, wide.size(), &state);
    if (n == static_cast<size_t>(-1)) return utf8;
    wide.resize(n);
    std::string folded;
    for (wchar_t c : wide) {
        char buffer[8];
        std::mbstate_t s{};
        const size_t k =
            std::wcrtomb(buffer, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))), &s);
        folded.append(buffer, k == static_cast<size_t>(-1) ? 0 : k);
    }
    return folded;
}

std::string Join(const std::vector<std::string>& parts, bool ignoreCase) {
    std::string path;
    for (const std::string& p : parts) path += (path.empty() ? "" : "/") + Fold(p, ignoreCase);
    return path;
}

std::string ReadAll(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return content;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<size_t>(n));
    close(fd);
    return content;
}

// Every file, folder and link below `folder`, never through a link, with what each is: a
// file with its time and its bytes, or (`summary`) its size, time and a hash of its bytes.
void Walk(const std::string& folder, const std::string& relative,
          std::map<std::string, std::string>* out, bool summary = false) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* d = readdir(dir))
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
            names.push_back(d->d_name);
    closedir(dir);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            (*out)[rel] = "folder";
            Walk(path, rel, out, summary);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(path.c_str(), target, sizeof target);
            (*out)[rel] = "link to " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISREG(st.st_mode)) {
            const std::string content = ReadAll(path);
            (*out)[rel] = summary ? "file of " + std::to_string(content.size()) + " bytes, time " +
                                        std::to_string(st.st_mtime) + ", hash " +
                                        std::to_string(std::hash<std::string>()(content))
                                  : "file " + std::to_string(st.st_mtime) + " " + content;
        } else {
            (*out)[rel] = "special";
        }
    }
}

const char kPlanted[] = "PLANTED";

}  // namespace

Case MakeCase(Choices& choices, const std::vector<unsigned>& codePages, size_t maxEntries,
              uint32_t rarity) {
    Case c;
    c.codePage = codePages[choices.Below(static_cast<uint32_t>(codePages.size()))];
    const size_t count = 1 + choices.Below(static_cast<uint32_t>(maxEntries));
    for (size_t i = 0; i < count; ++i) {
        Entry e;
        e.name = MakeName(choices, c.codePage, c.entries, rarity);
        e.data = MakeData(choices, i);
        e.encrypted = choices.OneIn(5);
        e.compressed = choices.OneIn(3);
        const uint32_t lie = 12 * rarity / 4;
        switch (choices.Below(lie) + 12 - lie) {
            case 11: {
                // A little more, or far more than any memory or disk holds.
                static const uint64_t kHuge[] = {1ull << 32, 1ull << 40, ~0ull, ~0ull >> 1};
                e.declaredSize = choices.OneIn(3) ? kHuge[choices.Below(4)]
                                                  : e.data.size() + 1 + choices.Below(5000);
                break;
            }
            case 10:
                e.declaredSize =
                    e.data.size() - 1 - choices.Below(static_cast<uint32_t>(e.data.size() - 1));
                break;
            case 9:
                e.declaredCrc = 0xDEADBEEF;
                break;
            default:
                break;
        }
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
    std::sort(c.plants.begin(), c.plants.end(),
              [](const Plant& a, const Plant& b) { return a.path.size() < b.path.size(); });
    return c;
}

std::string Describe(const Case& c) {
    auto hex = [](const std::string& s) {
        std::string out;
        for (unsigned char ch : s) {
            char b[5];
            std::snprintf(b, sizeof b, ch >= 0x20 && ch < 0x7F && ch != '\\' ? "%c" : "\\x%02X",
                          ch);
            out += b;
        }
        return out;
    };
    std::string text = "code page " + std::to_string(c.codePage) + ", -j " +
                       std::to_string(c.jobs) + (c.yes ? ", -y" : "") +
                       (c.encryptNames ? ", names encrypted" : "") +
                       (c.password ? ", password '" + *c.password + "'" : "") + "\n";
    for (size_t i = 0; i < c.entries.size(); ++i) {
        const Entry& e = c.entries[i];
        text += "  entry " + std::to_string(i) + " '" + hex(e.name) + "' " +
                std::to_string(e.data.size()) + " bytes" + (e.encrypted ? " encrypted" : "") +
                (e.compressed ? " compressed" : "") +
                (e.declaredSize ? " declared " + std::to_string(*e.declaredSize) : "") +
                (e.declaredCrc ? " bad crc" : "") + " time " + std::to_string(e.timeKind) + ":" +
                std::to_string(e.time) + "\n";
    }
    static const char* const kKinds[] = {"folder link", "file link", "dangling link", "hard link",
                                         "file",        "folder",    "fifo"};
    for (const Plant& p : c.plants)
        text += "  planted " + std::string(kKinds[static_cast<int>(p.kind)]) + " at '" +
                Join(p.path, false) + "'\n";
    return text;
}

bool WriteArchive(const Case& c, const std::string& path, const std::vector<uint8_t>& carrier,
                  std::string* error) {
    vorx::test::DamagingWriter writer;
    vorx::Compressor compressor(1);
    bool ok = writer.Create(path) &&
              (carrier.empty() || writer.WriteCarrier(carrier.data(), carrier.size())) &&
              writer.BeginArchive();
    for (size_t i = 0; ok && i < c.entries.size(); ++i) {
        const Entry& e = c.entries[i];
        vorx::EntryOptions options;
        options.name = e.name;
        options.timeKind = e.timeKind;
        options.time = e.time;
        if (e.encrypted) options.password = std::string(kArchivePassword);
        if (e.compressed) options.encoder = compressor.AsBlockEncoder();
        vorx::test::RecordOverrides overrides;
        overrides.uncompressedSize = e.declaredSize;
        overrides.crc32 = e.declaredCrc;
        ok = writer.BeginEntry(options) && writer.Write(e.data.data(), e.data.size()) &&
             writer.EndEntry(overrides);
    }
    vorx::test::DamagedDirectory directory;
    if (c.encryptNames) directory.password = std::string(kArchivePassword);
    ok = ok && writer.Finish(directory);
    if (!ok) *error = writer.Error();
    return ok;
}

Scene::Scene(const Case& c, const std::string& parent) {
    std::string pattern = parent + "/vorx-hunt-XXXXXX";
    if (!mkdtemp(pattern.data())) return;
    root_ = pattern;
    const std::string out = this->out();
    const std::string outside = root_ + "/outside";
    if (mkdir(out.c_str(), 0755) != 0 || mkdir(outside.c_str(), 0755) != 0 ||
        mkdir((outside + "/dir").c_str(), 0755) != 0)
        return;
    const int secret = open((outside + "/secret.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (secret < 0 || write(secret, "SECRET", 6) != 6) return;
    close(secret);
    for (const Plant& p : c.plants) {
        // Folders on the way are made only where nothing stands yet.
        std::string path = out;
        bool clear = true;
        for (size_t i = 0; i + 1 < p.path.size() && clear; ++i) {
            path += "/" + p.path[i];
            struct stat st;
            if (lstat(path.c_str(), &st) == 0)
                clear = S_ISDIR(st.st_mode);
            else
                clear = mkdir(path.c_str(), 0755) == 0;
        }
        path += "/" + p.path.back();
        struct stat st;
        if (!clear || lstat(path.c_str(), &st) == 0) continue;
        switch (p.kind) {
            case PlantKind::FolderLink:
                (void)!symlink((outside + "/dir").c_str(), path.c_str());
                break;
            case PlantKind::FileLink:
                (void)!symlink((outside + "/secret.txt").c_str(), path.c_str());
                break;
            case PlantKind::DanglingLink:
                (void)!symlink((outside + "/missing").c_str(), path.c_str());
                break;
            case PlantKind::HardLink:
                (void)!link((outside + "/secret.txt").c_str(), path.c_str());
                break;
            case PlantKind::File: {
                const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                if (fd >= 0) {
                    (void)!write(fd, kPlanted, sizeof kPlanted - 1);
                    close(fd);
                }
                break;
            }
            case PlantKind::Folder:
                mkdir(path.c_str(), 0755);
                break;
            case PlantKind::Fifo:
                mkfifo(path.c_str(), 0644);
                break;
        }
    }
    ok_ = true;
}

Scene::~Scene() {
    if (root_.empty()) return;
    const std::string command = "rm -rf '" + root_ + "'";
    (void)!std::system(command.c_str());
}

std::string Scene::Current() const {
    std::map<std::string, std::string> tree;
    Walk(root_, "", &tree, true);
    std::string text;
    for (const auto& [path, what] : tree)
        if (path != "out" && path.compare(0, 4, "out/") != 0) text += path + ": " + what + "\n";
    return text;
}

void Scene::TakeSnapshot() { snapshot_ = Current(); }

std::vector<std::string> Check(const Case& c, const Scene& scene, const Outcome& outcome) {
    std::vector<std::string> broken;
    if (outcome.timedOut) broken.push_back("the extraction did not end");
    if (scene.Current() != scene.snapshot())
        broken.push_back("something outside the destination changed; before:\n" + scene.snapshot() +
                         "after:\n" + scene.Current());

    std::vector<std::string> why(c.entries.size());
    std::vector<std::string> expected(c.entries.size());
    for (size_t i = 0; i < c.entries.size(); ++i) {
        why[i] = Forbidden(c, c.entries[i]);
        if (const auto parts = HostComponents(c.entries[i].name, c.codePage))
            expected[i] = Join(*parts, outcome.ignoreCase);
    }
    std::set<std::string> planted;
    for (const Plant& p : c.plants) planted.insert(Join(p.path, false));

    std::map<std::string, std::string> tree;
    Walk(scene.out(), "", &tree);
    std::vector<bool> written(c.entries.size());
    size_t writtenCount = 0;
    for (const auto& [path, what] : tree) {
        if (what.compare(0, 5, "file ") != 0) {
            if (what != "folder" && !planted.count(path))
                broken.push_back("'" + path + "' (" + what + ") appeared");
            continue;
        }
        const std::string content = what.substr(what.find(' ', 5) + 1);
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
        const std::string entry = "entry " + std::to_string(index);
        if (content != e.data) broken.push_back("'" + path + "' holds a damaged copy of " + entry);
        if (!why[index].empty())
            broken.push_back(entry + " was written to '" + path + "' although " + why[index]);
        if (why[index].empty() && !outcome.race &&
            Fold(path, outcome.ignoreCase) != expected[index])
            broken.push_back(entry + " was written to '" + path + "' instead of '" +
                             expected[index] + "'");
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
    if (outcome.counts && !outcome.race) {
        // The summary line: "N files extracted[, S skipped][, F failed]".
        const size_t at = outcome.output.rfind(" extracted");
        size_t extracted = 0, skipped = 0, failed = 0;
        if (at != std::string::npos) {
            const size_t line = outcome.output.rfind('\n', at);
            extracted = static_cast<size_t>(
                std::atol(outcome.output.c_str() + (line == std::string::npos ? 0 : line + 1)));
            const size_t s = outcome.output.find(" skipped", at);
            const size_t f = outcome.output.find(" failed", at);
            auto number = [&](size_t end) {
                const size_t start = outcome.output.rfind(", ", end);
                return static_cast<size_t>(std::atol(outcome.output.c_str() + start + 2));
            };
            if (s != std::string::npos) skipped = number(s);
            if (f != std::string::npos) failed = number(f);
            if (extracted != writtenCount || extracted + skipped + failed != extractable)
                broken.push_back("the summary says " + std::to_string(extracted) + " extracted, " +
                                 std::to_string(skipped) + " skipped, " + std::to_string(failed) +
                                 " failed, but " + std::to_string(writtenCount) + " of " +
                                 std::to_string(extractable) + " entries were written");
        } else if (outcome.exitCode == 0) {
            broken.push_back("exit code 0 without a summary");
        }
    }
    for (unsigned char ch : outcome.output) {
        if ((ch < 0x20 && ch != '\n' && ch != '\r' && ch != '\t') || ch == 0x7F) {
            broken.push_back("the output holds a raw control character");
            break;
        }
    }
    if (outcome.output.find("\xC2\x85") != std::string::npos ||
        outcome.output.find("\xC2\x9B") != std::string::npos)
        broken.push_back("the output holds a raw C1 control character");
    return broken;
}

}  // namespace hunt
