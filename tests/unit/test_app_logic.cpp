// The self-extractor's window-free rules, each a table of cases.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/app_logic.h"

namespace {

// A path text made in a buffer of `capacity` bytes, one more watched for an overrun: 'A'
// AppendBackslash to `a`, 'D' GetDirectoryPart, 'C' Compose, 'M' ModuleFolderOf, 'J'
// BuildOutputPath. What the buffer holds after, behind "refused: " when refused.
std::string Made(char op, size_t capacity, const char* a, const char* b = "", const char* c = "") {
    std::vector<char> buffer(capacity + 1, 'X');
    char* out = std::strcpy(buffer.data(), op == 'A' ? a : "");
    const bool ok = op == 'A'   ? sfx::AppendBackslash(out, capacity)
                    : op == 'D' ? sfx::GetDirectoryPart(out, capacity, a)
                    : op == 'C' ? sfx::Compose(out, capacity, a, b, c)
                    : op == 'M' ? sfx::ModuleFolderOf(a, out, capacity)
                                : sfx::BuildOutputPath(out, capacity, a, b) == vorx_Success;
    EXPECT_EQ(buffer[capacity], 'X') << "written past the end";
    return (ok ? "" : "refused: ") + std::string(out);
}

TEST(PathTexts, ResultsThatDoNotFitAreRefusedNeverCut) {
    const std::pair<std::string, std::string> rows[] = {
        {Made('A', 16, "C:\\out\\"), "C:\\out\\"}, {Made('A', 4, ""), "\\"}, {Made('A', 4, "\\"), "\\"},
        {Made('A', 9, "C:/out/"), "C:/out/\\"},  // only a backslash ends a folder
        {Made('A', 8, "C:\\out"), "C:\\out\\"}, {Made('A', 7, "C:\\out"), "refused: C:\\out"},  // fits, then not
        {Made('D', 64, "C:\\out\\docs\\readme.txt"), "C:\\out\\docs\\"}, {Made('D', 64, "a/b/c.txt"), ""},
        {Made('D', 6, "abcd\\e"), "abcd\\"}, {Made('D', 5, "abcd\\e"), "refused: "},
        {Made('C', 12, "ab", "cdefgh", "ijk"), "abcdefghijk"}, {Made('C', 12, "ab", "cdefgh", "ijkl"), "refused: "},
        {Made('M', 64, "C:setup.exe"), "C:"}, {Made('M', 64, "setup.exe"), ""},
        {Made('M', 64, "\\\\server\\share\\x\\setup.exe"), "\\\\server\\share\\x\\"},
        {Made('M', 64, "C:/tools/bin/setup.exe"), "C:/tools/bin/"}, {Made('M', 8, "C:\\long\\x.exe"), "refused: "},
        {Made('J', 15, "C:\\out", "a.txt\\b"), "C:\\out\\a.txt\\b"},  // exactly fits
        {Made('J', 14, "C:\\out", "a.txt\\b"), "refused: "},
    };
    for (const auto& [made, expected] : rows) EXPECT_EQ(made, expected);
}

TEST(Switches, OnlyExactlySlashQOrSlashQSlashSInEitherCase) {
    const std::set<std::string> quiet = {"/q", "/Q"}, silent = {"/q /s", "/Q /S", "/q /S", "/Q /s"};
    for (const char* tail : {"/q", "/Q", "/q /s", "/Q /S", "/q /S", "/Q /s", "", "/q ", "-q", "/quiet", " /q", "/",
                             "/q /s ", "/q  /s", "/q/s", "/s /q", "/q /", "/q /sx", "/q /s /q", "/r /s"}) {
        EXPECT_EQ(sfx::IsQuietTail(tail), quiet.count(tail) == 1) << '"' << tail << '"';
        EXPECT_EQ(sfx::IsSilentTail(tail), silent.count(tail) == 1) << '"' << tail << '"';
    }
    EXPECT_FALSE(sfx::IsQuietTail(nullptr) || sfx::IsSilentTail(nullptr));
}

// The system's expansion is scripted per row: what it writes and the size it returns (the
// size needed with the NUL; 0 when it fails). A lossy one is refused: the GUI runs tell.
TEST(SettleDestination, TakesAnExpansionThatFitsAndKeepsTheTextOtherwise) {
    const uint32_t field = sfx::kConfigFieldSize;
    const std::string full(field - 1, 'f'), big(field, 'x');
    using Expansion = std::pair<const char*, uint32_t>;
    const struct { const char* configured; Expansion expansion; const char* settled; } cases[] = {
        {"", {"unused", 7}, "D:\\%TEMP%\\"},  // the program's folder, never expanded
        {"%FAIL%\\a\\", {"", 0}, "%FAIL%\\a\\"},
        {"%BIG%\\", {big.c_str(), field + 1}, "%BIG%\\"},  // not written whole
        {"%FULL%", {full.c_str(), field}, full.c_str()},
    };
    for (const auto& c : cases) {
        char destination[sfx::kConfigFieldSize] = {};
        const auto expand = [](void* expansion, const char*, char* out, uint32_t size) {
            std::strncpy(out, static_cast<const Expansion*>(expansion)->first, size);  // only part when short
            return static_cast<const Expansion*>(expansion)->second;
        };
        Expansion expansion = c.expansion;
        std::strcpy(destination, c.configured);
        EXPECT_TRUE(sfx::SettleDestination(destination, "D:\\%TEMP%\\", expand, &expansion)) << c.configured;
        EXPECT_STREQ(destination, c.settled) << c.configured;
    }
}

// The stub's check is the name rule (judged in full by its own table) in the system's code
// page: a double-byte character whose trail byte is 0x5C is one character there.
TEST(EntryNames, TheStubsCheckIsTheNameRuleInTheSystemsCodePage) {
    EXPECT_TRUE(sfx::IsSafeEntryName("\x83\x5C\\a.txt", 932) && sfx::IsSafeEntryName("docs\\readme.txt", 1252));
    EXPECT_FALSE(sfx::IsSafeEntryName("\x83\x5C\\a.txt", 1252) || sfx::IsSafeEntryName("docs\\..\\..\\evil.exe", 1252));
    EXPECT_FALSE(sfx::IsSafeEntryName(nullptr, 1252));
}

// A scripted file system for the folder walk, and what it was asked in order: "?path"
// for a probe, "+path" for a creation.
struct Walk {
    const char* folder;
    std::set<std::string> existing, links;
    size_t trusted;
    sfx::FolderWalk walk;
    const char* after;
    const char* asked;
    std::string got = "";
};

TEST(EnsureDirectory, CreatesWhatIsMissingBelowTheRootAndPassesNoLinkBelowTheDestination) {
    Walk cases[] = {
        {"C:\\out\\docs\\deep", {"C:\\out\\"}, {}, 0, sfx::FolderWalk::Done, "C:\\out\\docs\\deep\\",
         "?C:\\out\\ ?C:\\out\\docs\\ +C:\\out\\docs\\ ?C:\\out\\docs\\deep\\ +C:\\out\\docs\\deep\\ "},
        {"C:\\a\\", {"C:\\a\\"}, {}, 0, sfx::FolderWalk::Done, "C:\\a\\", "?C:\\a\\ "},
        {"\\\\server\\share\\dir\\", {}, {}, 0, sfx::FolderWalk::Done, "\\\\server\\share\\dir\\",
         "?\\\\server\\share\\dir\\ +\\\\server\\share\\dir\\ "},
        {"", {}, {}, 0, sfx::FolderWalk::Done, "\\", "?\\ +\\ "},
        // The destination C:\me\out\ (10 characters) may sit behind links, nothing below it (the
        // GUI runs plant one there).
        {"C:\\me\\out\\a\\", {"C:\\me\\", "C:\\me\\out\\", "C:\\me\\out\\a\\"}, {"C:\\me\\", "C:\\me\\out\\"}, 10,
         sfx::FolderWalk::Done, "C:\\me\\out\\a\\", "?C:\\me\\ ?C:\\me\\out\\ ?C:\\me\\out\\a\\ "},
        {"C:\\me\\out\\a\\", {"C:\\me\\"}, {"C:\\me\\out\\"}, 9, sfx::FolderWalk::ThroughLink, "C:\\me\\out\\",
         "?C:\\me\\ ?C:\\me\\out\\ "},
    };
    for (Walk& c : cases) {
        const sfx::DirectoryOps ops{
            &c,
            [](void* walk, const char* path) {
                auto* w = static_cast<Walk*>(walk);
                w->got += "?" + std::string(path) + " ";
                return w->links.count(path) ? sfx::FolderState::Link
                       : w->existing.count(path) ? sfx::FolderState::Folder : sfx::FolderState::Missing;
            },
            [](void* walk, const char* path) {
                auto* w = static_cast<Walk*>(walk);
                w->got += "+" + std::string(path) + " ";
                return w->existing.insert(path).second;
            }};
        char folder[sfx::kPathSize] = {};
        EXPECT_EQ(sfx::EnsureDirectory(std::strcpy(folder, c.folder), sizeof folder, c.trusted, ops), c.walk) << c.folder;
        EXPECT_STREQ(folder, c.after) << c.folder;
        EXPECT_EQ(c.got, c.asked) << c.folder;
    }
    char full[8] = "C:\\abcd";  // no room for the closing backslash
    EXPECT_EQ(sfx::EnsureDirectory(full, sizeof full, 0, {}), sfx::FolderWalk::TooLong);
    char deep[400] = "C:\\";  // longer than any folder the walk takes
    std::memset(deep + 3, 'd', 256);
    EXPECT_EQ(sfx::EnsureDirectory(deep, sizeof deep, 0, {}), sfx::FolderWalk::TooLong);
}

TEST(RunCommand, TheLongestPrefixThatThisRunWroteIsTheProgramAndNothingElseIsStarted) {
    // The entries written, the command, the command line ("": nothing is started) and its room.
    const struct { std::vector<const char*> written; const char* run; const char* line; size_t room; } cases[] = {
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
        EXPECT_EQ(sfx::ResolveRunCommand("C:\\T", c.run, candidates, program, sizeof program, line, c.room),
                  c.line[0] ? sfx::RunCommand::Ready : c.room < 600 ? sfx::RunCommand::TooLong : sfx::RunCommand::NoProgram)
            << c.run;
        EXPECT_EQ(std::string(line), c.line) << c.run;
        const std::string quoted = '"' + std::string(program) + '"';  // started by its exact path, never looked up
        EXPECT_EQ(c.line[0] ? std::string(line).substr(0, quoted.size()) : "\"\"", quoted) << c.run;
    }
}

TEST(OverwriteAnswer, ABoxThatWasNotShownOrAnsweredOtherwiseKeepsTheFile) {  // yes, no, cancel: the GUI runs
    for (int result : {0, 1, 3}) EXPECT_EQ(sfx::OverwriteAnswerOf(result), sfx::OverwriteAnswer::Unanswered) << result;
}

// A scripted extraction: the remembered password is "kept", each try returns the next code,
// the prompt answers in turn (1 OK with the password, 2 Cancel, -1 could not be shown).
struct Script {
    std::vector<vorx_Error> results;
    std::vector<std::pair<intptr_t, const char*>> answers;
    vorx_Error result;
    const char* tried;  // the passwords tried in turn, "-" for none
    std::string got = "";
    size_t tries = 0, prompts = 0;
};

TEST(PasswordProtocol, RememberedFirstThenAskUntilOneWorksOrThePersonGivesUp) {
    using E = std::vector<vorx_Error>;
    const vorx_Error required = vorx_PasswordRequired, wrong = vorx_CrcMismatch;
    Script cases[] = {
        {E{required, vorx_Success}, {}, vorx_Success, "- kept "},
        {E{required, wrong, vorx_CorruptArchive}, {{1, "bad"}, {1, "good"}}, vorx_Success, "- kept bad good "},
        {E{required, wrong}, {{2, "ignored"}}, required, "- kept "},
        {E{required, wrong}, {{-1, ""}, {1, "never"}}, required, "- kept "},
        {E{required, wrong, vorx_OutOfDiskSpace}, {{1, "typed"}}, vorx_OutOfDiskSpace, "- kept typed "},
    };
    for (Script& c : cases) {
        const sfx::PasswordProtocolOps ops{
            &c,
            [](void* script, const char* password) {
                auto* s = static_cast<Script*>(script);
                s->got += (password ? password : "-") + std::string(" ");
                return s->tries < s->results.size() ? s->results[s->tries++] : vorx_Success;
            },
            [](void*) { return "kept"; },
            [](void* script, char (&buffer)[sfx::kPathSize]) -> intptr_t {
                auto* s = static_cast<Script*>(script);
                if (s->prompts >= s->answers.size()) return 2;
                std::strcpy(buffer, s->answers[s->prompts].second);
                return s->answers[s->prompts++].first;
            }};
        EXPECT_EQ(sfx::RunPasswordProtocol(ops), c.result) << c.tried;
        EXPECT_EQ(c.got, c.tried);
    }
}

}  // namespace
