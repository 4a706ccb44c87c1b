// The self-extractor's window-free rules, each a table of cases: the path texts, the
// switches, the destination, the name rule, the folder walk, the run command, the
// overwrite answer and the password protocol of one entry.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/app_logic.h"

namespace {

using Texts = std::vector<std::pair<std::string, std::string>>;  // found, expected

void ExpectRows(const Texts& rows) {
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}

// Runs `f` on a buffer of `capacity` bytes that holds `text`: what it holds after,
// behind "refused: " when `f` returned false.
template <class F>
std::string InBuffer(size_t capacity, const char* text, F f) {
    std::vector<char> buffer(capacity + 1, 'X');  // one byte past the end, to catch an overrun
    std::strcpy(buffer.data(), text);
    const bool ok = f(buffer.data(), capacity);
    EXPECT_EQ(buffer[capacity], 'X') << "written past the end";
    return (ok ? "" : "refused: ") + std::string(buffer.data());
}

TEST(PathTexts, ResultsThatDoNotFitAreRefusedNeverCut) {
    const auto slash = [](char* b, size_t n) { return sfx::AppendBackslash(b, n); };
    const auto folderOf = [](const char* path) {
        return [path](char* b, size_t n) { return sfx::GetDirectoryPart(b, n, path); };
    };
    const auto moduleFolder = [](const char* path) {
        return [path](char* b, size_t n) { return sfx::ModuleFolderOf(path, b, n); };
    };
    const auto compose = [](const char* a, const char* b, const char* c) {
        return [=](char* out, size_t n) { return sfx::Compose(out, n, a, b, c); };
    };
    const auto join = [](const char* destination, const char* name) {
        return [=](char* out, size_t n) { return sfx::BuildOutputPath(out, n, destination, name) == vorx_Success; };
    };
    ExpectRows({
        {InBuffer(16, "C:\\out", slash), "C:\\out\\"},
        {InBuffer(16, "C:\\out\\", slash), "C:\\out\\"},
        {InBuffer(4, "", slash), "\\"},
        {InBuffer(4, "\\", slash), "\\"},
        {InBuffer(9, "C:/out/", slash), "C:/out/\\"},  // only a backslash ends a folder
        {InBuffer(8, "C:\\out", slash), "C:\\out\\"},  // exactly fits
        {InBuffer(7, "C:\\out", slash), "refused: C:\\out"},
        {InBuffer(64, "", folderOf("C:\\out\\docs\\readme.txt")), "C:\\out\\docs\\"},
        {InBuffer(64, "", folderOf("C:\\out\\")), "C:\\out\\"},
        {InBuffer(64, "", folderOf("a/b/c.txt")), ""},
        {InBuffer(6, "", folderOf("abcd\\e")), "abcd\\"},
        {InBuffer(5, "", folderOf("abcd\\e")), "refused: "},
        {InBuffer(12, "", compose("ab", "cdefgh", "ijk")), "abcdefghijk"},
        {InBuffer(12, "", compose("ab", "cdefgh", "ijkl")), "refused: "},
        {InBuffer(64, "", moduleFolder("D:\\downloads\\setup.exe")), "D:\\downloads\\"},
        {InBuffer(64, "", moduleFolder("C:\\setup.exe")), "C:\\"},
        {InBuffer(64, "", moduleFolder("C:setup.exe")), "C:"},
        {InBuffer(64, "", moduleFolder("\\\\server\\share\\x\\setup.exe")), "\\\\server\\share\\x\\"},
        {InBuffer(64, "", moduleFolder("C:/tools/bin/setup.exe")), "C:/tools/bin/"},
        {InBuffer(64, "", moduleFolder("setup.exe")), ""},
        {InBuffer(8, "", moduleFolder("C:\\long\\x.exe")), "refused: "},
        {InBuffer(64, "", join("C:\\out", "docs\\a.txt")), "C:\\out\\docs\\a.txt"},
        {InBuffer(64, "", join("C:\\out\\", "a.txt")), "C:\\out\\a.txt"},
        {InBuffer(15, "", join("C:\\out", "a.txt\\b")), "C:\\out\\a.txt\\b"},  // exactly fits
        {InBuffer(14, "", join("C:\\out", "a.txt\\b")), "refused: "},
    });
}

TEST(Switches, OnlyExactlySlashQOrSlashQSlashSInEitherCase) {
    const struct { const char* tail; bool quiet, silent; } cases[] = {
        {"/q", true, false},     {"/Q", true, false},     {"/q /s", false, true}, {"/Q /S", false, true},
        {"/q /S", false, true},  {"", false, false},      {"/q ", false, false},  {"-q", false, false},
        {"/quiet", false, false}, {" /q", false, false},  {"/", false, false},    {"/q /s ", false, false},
        {"/q  /s", false, false}, {"/q/s", false, false}, {"/s /q", false, false}, {"/q /", false, false},
        {"/q /sx", false, false}, {"/q /s /q", false, false}, {"/r /s", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sfx::IsQuietTail(c.tail), c.quiet) << '"' << c.tail << '"';
        EXPECT_EQ(sfx::IsSilentTail(c.tail), c.silent) << '"' << c.tail << '"';
    }
    EXPECT_FALSE(sfx::IsQuietTail(nullptr) || sfx::IsSilentTail(nullptr));
}

// The system's expansion is scripted per row: what it writes and the size it returns
// (the size needed with the NUL; 0 when it fails; kUnrepresentable).
struct Expansion {
    const char* text;
    uint32_t needed;
    int calls;
};

TEST(SettleDestination, TakesAnExpansionThatFitsKeepsTheTextOtherwiseAndRefusesALossyOne) {
    const uint32_t field = sfx::kConfigFieldSize;
    const std::string full(field - 1, 'f'), big(field, 'x');
    const struct { const char* configured; Expansion expansion; const char* settled; bool ok; } cases[] = {
        {"", {"unused", 7, 0}, "D:\\%TEMP%\\", true},  // the program's folder, never expanded
        {"%TEMP%\\setup\\", {"C:\\Temp\\setup\\", 16, 0}, "C:\\Temp\\setup\\", true},
        {"%FAIL%\\a\\", {"", 0, 0}, "%FAIL%\\a\\", true},
        {"%BIG%\\", {big.c_str(), field + 1, 0}, "%BIG%\\", true},  // not written whole
        {"%FULL%", {full.c_str(), field, 0}, full.c_str(), true},
        {"%WIDE%\\", {"C:\\??\\", sfx::kUnrepresentable, 0}, "", false},
    };
    for (const auto& c : cases) {
        char destination[sfx::kConfigFieldSize] = {};
        std::strcpy(destination, c.configured);
        Expansion expansion = c.expansion;
        const auto expand = [](void* context, const char*, char* out, uint32_t size) {
            auto* e = static_cast<Expansion*>(context);
            ++e->calls;
            std::strncpy(out, e->text, size);  // like the system: only part when short
            return e->needed;
        };
        EXPECT_EQ(sfx::SettleDestination(destination, "D:\\%TEMP%\\", expand, &expansion), c.ok) << c.configured;
        EXPECT_STREQ(destination, c.settled) << c.configured;
        EXPECT_EQ(expansion.calls, c.configured[0] ? 1 : 0) << c.configured;
    }
}

// The stub's check is the name rule in the system's code page: names that leave the
// destination, devices, '/' and characters Windows refuses are never written; a
// double-byte character whose trail byte is 0x5C is one character.
TEST(EntryNames, TheStubsCheckIsTheNameRule) {
    const struct { const char* name; unsigned codePage; bool safe; } cases[] = {
        {"docs\\readme.txt", 1252, true},  {"..data\\file..txt", 1252, true},
        {"\x83\x5C\\a.txt", 932, true},    {"\x83\x5C\\a.txt", 1252, false},
        {"..\\evil.exe", 1252, false},     {"docs\\..\\..\\evil.exe", 1252, false},
        {"a\\.. \\b", 1252, false},        {"\\windows\\evil.exe", 1252, false},
        {"C:evil.exe", 1252, false},       {"a/b", 1252, false},
        {"a\\.\\b", 1252, false},          {"NUL", 1252, false},
        {"docs\\com\xB9.txt", 1252, false}, {"x|y", 1252, false},
        {"bell\a", 1252, false},           {"", 1252, false},
    };
    for (const auto& c : cases) EXPECT_EQ(sfx::IsSafeEntryName(c.name, c.codePage), c.safe) << c.name;
    EXPECT_FALSE(sfx::IsSafeEntryName(nullptr, 1252));
}

// A scripted file system for the folder walk: what it was asked, in order.
struct FakeFolders {
    std::set<std::string> existing, links, refuse;
    std::string asked;  // "?path" for a probe, "+path" for a creation
};

TEST(EnsureDirectory, CreatesWhatIsMissingBelowTheRootAndPassesNoLinkBelowTheDestination) {
    const struct {
        const char* folder;
        std::set<std::string> existing, links, refuse;
        size_t trusted;
        sfx::FolderWalk walk;
        const char* after;
        const char* asked;
    } cases[] = {
        {"C:\\out\\docs\\deep", {"C:\\out\\"}, {}, {}, 0, sfx::FolderWalk::Done, "C:\\out\\docs\\deep\\",
         "?C:\\out\\ ?C:\\out\\docs\\ +C:\\out\\docs\\ ?C:\\out\\docs\\deep\\ +C:\\out\\docs\\deep\\ "},
        {"C:\\a\\", {"C:\\a\\"}, {}, {}, 0, sfx::FolderWalk::Done, "C:\\a\\", "?C:\\a\\ "},
        {"\\\\server\\share\\dir\\", {}, {}, {}, 0, sfx::FolderWalk::Done, "\\\\server\\share\\dir\\",
         "?\\\\server\\share\\dir\\ +\\\\server\\share\\dir\\ "},
        {"", {}, {}, {}, 0, sfx::FolderWalk::Done, "\\", "?\\ +\\ "},
        {"C:\\locked\\inner\\", {}, {}, {"C:\\locked\\"}, 0, sfx::FolderWalk::CannotCreate, "C:\\locked\\",
         "?C:\\locked\\ "},
        // The destination C:\me\out\ (10 characters) may sit behind links; nothing below it.
        {"C:\\me\\out\\a\\", {"C:\\me\\", "C:\\me\\out\\", "C:\\me\\out\\a\\"}, {"C:\\me\\", "C:\\me\\out\\"}, {},
         10, sfx::FolderWalk::Done, "C:\\me\\out\\a\\", "?C:\\me\\ ?C:\\me\\out\\ ?C:\\me\\out\\a\\ "},
        {"C:\\me\\out\\a\\b\\", {"C:\\me\\", "C:\\me\\out\\"}, {"C:\\me\\out\\a\\"}, {}, 10,
         sfx::FolderWalk::ThroughLink, "C:\\me\\out\\a\\", "?C:\\me\\ ?C:\\me\\out\\ ?C:\\me\\out\\a\\ "},
        {"C:\\me\\out\\a\\", {"C:\\me\\"}, {"C:\\me\\out\\"}, {}, 9, sfx::FolderWalk::ThroughLink,
         "C:\\me\\out\\", "?C:\\me\\ ?C:\\me\\out\\ "},
    };
    for (const auto& c : cases) {
        FakeFolders fs{c.existing, c.links, c.refuse, ""};
        const sfx::DirectoryOps ops{
            &fs,
            [](void* context, const char* path) {
                auto* f = static_cast<FakeFolders*>(context);
                f->asked += "?" + std::string(path) + " ";
                return f->links.count(path) ? sfx::FolderState::Link
                       : f->existing.count(path) ? sfx::FolderState::Folder : sfx::FolderState::Missing;
            },
            [](void* context, const char* path) {
                auto* f = static_cast<FakeFolders*>(context);
                if (f->refuse.count(path)) return false;
                f->asked += "+" + std::string(path) + " ";
                return f->existing.insert(path).second;
            }};
        char folder[sfx::kPathSize] = {};
        std::strcpy(folder, c.folder);
        EXPECT_EQ(sfx::EnsureDirectory(folder, sizeof folder, c.trusted, ops), c.walk) << c.folder;
        EXPECT_STREQ(folder, c.after) << c.folder;
        EXPECT_EQ(fs.asked, c.asked) << c.folder;
    }
    char full[8] = "C:\\abcd";  // no room for the closing backslash
    EXPECT_EQ(sfx::EnsureDirectory(full, sizeof full, 0, {}), sfx::FolderWalk::TooLong);
    char deep[400] = "C:\\";  // longer than any folder the walk takes
    std::memset(deep + 3, 'd', 256);
    EXPECT_EQ(sfx::EnsureDirectory(deep, sizeof deep, 0, {}), sfx::FolderWalk::TooLong);
}

TEST(RunCommand, TheLongestPrefixThatThisRunWroteIsTheProgramAndNothingElseIsStarted) {
    const struct {
        std::vector<const char*> written;
        const char* run;
        const char* line;  // empty: nothing is started
        size_t room;
    } cases[] = {
        {{"setup.exe"}, "setup.exe /silent", "\"C:\\T\\setup.exe\" /silent", 600},
        {{"setup.exe"}, "setup /a  /b", "\"C:\\T\\setup.exe\" /a  /b", 600},
        {{"Setup.EXE"}, "setup /a", "\"C:\\T\\setup.exe\" /a", 600},  // case ignored
        {{"bin\\run.exe"}, "bin/run", "\"C:\\T\\bin/run.exe\"", 600},
        // A file planted beside the extracted program names a shorter prefix: not taken.
        {{"my.exe", "my tool.exe"}, "my tool.exe --go", "\"C:\\T\\my tool.exe\" --go", 600},
        {{"my tool", "my tool.exe"}, "my tool --go", "\"C:\\T\\my tool\" --go", 600},
        {{"my.exe", "my tool.exe extra"}, "my tool.exe extra --go", "\"C:\\T\\my tool.exe extra\" --go", 600},
        {{"my tool.exe"}, "\"my tool\" /a b", "\"C:\\T\\my tool.exe\" /a b", 600},
        {{"app"}, "\"app", "\"C:\\T\\app\"", 600},
        {{"a.exe"}, "a /b", "\"C:\\T\\a.exe\" /b", 16},  // exactly fits
        // Programs this run did not write are never started.
        {{}, "setup.exe /s", "", 600},
        {{"other.exe", "sub\\setup.exe", "setup.exe.txt", "setup.ex"}, "setup.exe /s", "", 600},
        {{"setup.exe.txt"}, "setup /s", "", 600},
        {{"my.exe"}, "\"my tool.exe\"", "", 600},
        {{"app"}, "\"\" app", "", 600},
        {{"x"}, "   ", "", 600},
        {{"a.exe"}, "a /b", "", 15},  // does not fit: refused
    };
    for (const auto& c : cases) {
        sfx::RunCandidates candidates;
        sfx::ClearRunCandidates(candidates);
        for (const char* name : c.written) sfx::NoteWrittenEntry(candidates, c.run, name);
        char program[600], line[600];
        const sfx::RunCommand result =
            sfx::ResolveRunCommand("C:\\T", c.run, candidates, program, sizeof program, line, c.room);
        const sfx::RunCommand expected = c.line[0] ? sfx::RunCommand::Ready
                                         : c.room < 600 ? sfx::RunCommand::TooLong : sfx::RunCommand::NoProgram;
        EXPECT_EQ(result, expected) << c.run;
        EXPECT_EQ(std::string(line), c.line) << c.run;
        // The program is started by its exact path, never looked up by the system.
        const std::string quoted = '"' + std::string(program) + '"';
        EXPECT_EQ(c.line[0] ? std::string(line).substr(0, quoted.size()) : "\"\"", quoted) << c.run;
    }
}

TEST(OverwriteAnswer, OnlyYesReplacesAndABoxThatWasNotShownKeepsTheFile) {
    const struct { int result; sfx::OverwriteAnswer answer; } cases[] = {
        {6, sfx::OverwriteAnswer::Replace},    {7, sfx::OverwriteAnswer::Keep},
        {2, sfx::OverwriteAnswer::Stop},       {0, sfx::OverwriteAnswer::Unanswered},
        {1, sfx::OverwriteAnswer::Unanswered},
    };
    for (const auto& c : cases) EXPECT_EQ(sfx::OverwriteAnswerOf(c.result), c.answer) << c.result;
}

// A scripted extraction: each try returns the next code; the prompt answers in turn
// (1 OK with the password, 2 Cancel, -1 could not be shown).
struct Script {
    std::vector<vorx_Error> results;
    const char* remembered;
    std::vector<std::pair<intptr_t, const char*>> answers;
    vorx_Error result;
    const char* tried;  // the passwords tried in turn, "-" for none
};

struct Played {
    const Script* script;
    std::string tried;
    size_t tries, prompts;
};

TEST(PasswordProtocol, RememberedFirstThenAskUntilOneWorksOrThePersonGivesUp) {
    using E = std::vector<vorx_Error>;
    const Script cases[] = {
        {E{vorx_Success}, "kept", {}, vorx_Success, "- "},
        {E{vorx_CrcMismatch}, "kept", {}, vorx_CrcMismatch, "- "},
        {E{vorx_PasswordRequired}, nullptr, {{1, "never"}}, vorx_PasswordRequired, "- "},
        {E{vorx_PasswordRequired, vorx_Success}, "kept", {}, vorx_Success, "- kept "},
        {E{vorx_PasswordRequired, vorx_CrcMismatch, vorx_CorruptArchive, vorx_Success}, "kept",
         {{1, "wrong"}, {1, "right"}}, vorx_Success, "- kept wrong right "},
        {E{vorx_PasswordRequired, vorx_CrcMismatch}, "kept", {{2, "ignored"}}, vorx_PasswordRequired, "- kept "},
        {E{vorx_PasswordRequired, vorx_CrcMismatch}, "kept", {{-1, ""}, {1, "never"}}, vorx_PasswordRequired,
         "- kept "},
        {E{vorx_PasswordRequired, vorx_CrcMismatch, vorx_OutOfDiskSpace}, "kept", {{1, "typed"}},
         vorx_OutOfDiskSpace, "- kept typed "},
    };
    for (const Script& c : cases) {
        Played played{&c, "", 0, 0};
        const sfx::PasswordProtocolOps ops{
            &played,
            [](void* context, const char* password) {
                auto* p = static_cast<Played*>(context);
                p->tried += (password ? password : "-") + std::string(" ");
                const size_t i = p->tries++;
                return i < p->script->results.size() ? p->script->results[i] : vorx_Success;
            },
            [](void* context) { return static_cast<Played*>(context)->script->remembered; },
            [](void* context, char (&buffer)[sfx::kPathSize]) -> intptr_t {
                auto* p = static_cast<Played*>(context);
                if (p->prompts >= p->script->answers.size()) return 2;
                const auto& answer = p->script->answers[p->prompts++];
                std::strcpy(buffer, answer.second);
                return answer.first;
            }};
        EXPECT_EQ(sfx::RunPasswordProtocol(ops), c.result) << c.tried;
        EXPECT_EQ(played.tried, c.tried);
    }
}

}  // namespace
