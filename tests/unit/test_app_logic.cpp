// The self-extractor's window-free rules, each a table of cases.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/app_logic.h"

namespace {

// A path text made in a buffer of `capacity` units, one more watched for an overrun: 'A'
// AppendBackslash to `a`, 'C' Compose, 'M' ModuleFolderOf, 'J' BuildOutputPath. What the
// buffer holds after, behind "refused: " when refused.
std::wstring Made(char op, size_t capacity, const wchar_t* a, const wchar_t* b = L"",
                  const wchar_t* c = L"") {
    std::vector<wchar_t> buffer(capacity + 1, L'X');
    wchar_t* out = std::wcscpy(buffer.data(), op == 'A' ? a : L"");
    const bool ok = op == 'A'   ? sfx::AppendBackslash(out, capacity)
                    : op == 'C' ? sfx::Compose(out, capacity, a, b, c)
                    : op == 'M' ? sfx::ModuleFolderOf(a, out, capacity)
                                : sfx::BuildOutputPath(out, capacity, a, b) == vorx_Success;
    EXPECT_EQ(buffer[capacity], L'X') << "written past the end";
    return (ok ? L"" : L"refused: ") + std::wstring(out);
}

TEST(PathTexts, ResultsThatDoNotFitAreRefusedNeverCut) {
    const std::pair<std::wstring, std::wstring> rows[] = {
        {Made('A', 16, L"C:\\out\\"), L"C:\\out\\"},
        {Made('A', 4, L""), L"\\"},
        {Made('A', 4, L"\\"), L"\\"},
        {Made('A', 9, L"C:/out/"), L"C:/out/\\"},  // only a backslash ends a folder
        {Made('A', 8, L"C:\\out"), L"C:\\out\\"},
        {Made('A', 7, L"C:\\out"), L"refused: C:\\out"},  // fits, then not
        {Made('C', 12, L"ab", L"cdefgh", L"ijk"), L"abcdefghijk"},
        {Made('C', 12, L"ab", L"cdefgh", L"ijkl"), L"refused: "},
        {Made('M', 64, L"C:setup.exe"), L"C:"},
        {Made('M', 64, L"setup.exe"), L""},
        {Made('M', 64, L"\\\\server\\share\\x\\setup.exe"), L"\\\\server\\share\\x\\"},
        {Made('M', 64, L"C:/tools/bin/setup.exe"), L"C:/tools/bin/"},
        {Made('M', 8, L"C:\\long\\x.exe"), L"refused: "},
        // A trail unit 0x5C is no backslash in UTF-16: U+30BD stays one character.
        {Made('M', 64, L"C:\\\u30BD\\x.exe"), L"C:\\\u30BD\\"},
        {Made('J', 64, L"C:\\\u30BD", L"\u8868\\a"), L"C:\\\u30BD\\\u8868\\a"},
        {Made('J', 15, L"C:\\out", L"a.txt\\b"), L"C:\\out\\a.txt\\b"},  // exactly fits
        {Made('J', 14, L"C:\\out", L"a.txt\\b"), L"refused: "},
    };
    for (const auto& [made, expected] : rows) EXPECT_EQ(made, expected);
}

TEST(Switches, OnlyExactlySlashQOrSlashQSlashSInEitherCase) {
    const std::set<std::string> quiet = {"/q", "/Q"}, silent = {"/q /s", "/Q /S", "/q /S", "/Q /s"};
    for (const char* tail : {"/q",   "/Q",    "/q /s",  "/Q /S",  "/q /S",    "/Q /s",  "",
                             "/q ",  "-q",    "/quiet", " /q",    "/",        "/q /s ", "/q  /s",
                             "/q/s", "/s /q", "/q /",   "/q /sx", "/q /s /q", "/r /s"}) {
        EXPECT_EQ(sfx::IsQuietTail(tail), quiet.count(tail) == 1) << '"' << tail << '"';
        EXPECT_EQ(sfx::IsSilentTail(tail), silent.count(tail) == 1) << '"' << tail << '"';
    }
    EXPECT_FALSE(sfx::IsQuietTail(nullptr) || sfx::IsSilentTail(nullptr));
}

// The system's expansion is scripted per row: what it writes and the size it returns (the
// size needed with the NUL; 0 when it fails).
TEST(SettleDestination, TakesAnExpansionThatFitsAndKeepsTheTextOtherwise) {
    const uint32_t room = sfx::kDestinationChars;
    const std::wstring full(room - 1, L'f'), big(room, L'x');
    using Expansion = std::pair<const wchar_t*, uint32_t>;
    const struct {
        const wchar_t* configured;
        Expansion expansion;
        const wchar_t* settled;
    } cases[] = {
        {L"", {L"unused", 7}, L"D:\\%TEMP%\\"},  // the program's folder, never expanded
        {L"%FAIL%\\a\\", {L"", 0}, L"%FAIL%\\a\\"},
        {L"%BIG%\\", {big.c_str(), room + 1}, L"%BIG%\\"},  // not written whole
        {L"%FULL%", {full.c_str(), room}, full.c_str()},
    };
    for (const auto& c : cases) {
        wchar_t destination[sfx::kDestinationChars] = {};
        const auto expand = [](void* expansion, const wchar_t*, wchar_t* out, uint32_t size) {
            // Only part when short.
            std::wcsncpy(out, static_cast<const Expansion*>(expansion)->first, size);
            return static_cast<const Expansion*>(expansion)->second;
        };
        Expansion expansion = c.expansion;
        std::wcscpy(destination, c.configured);
        sfx::SettleDestination(destination, L"D:\\%TEMP%\\", expand, &expansion);
        EXPECT_EQ(std::wstring(destination), c.settled);
    }
}

// The name is judged as stored (the rule's own table judges it in full), then its UTF-16
// conversion must keep its shape: the same components, none empty, "." or "..", none with
// a '/' or a control character. The conversions below are what a system might make.
TEST(EntryNames, StoredNameRuleThenTheConversionsShape) {
    EXPECT_TRUE(sfx::IsSafeEntryName("\x83\x5C\\a.txt", 932) &&
                sfx::IsSafeEntryName("docs\\readme.txt", 1252));
    EXPECT_FALSE(sfx::IsSafeEntryName("\x83\x5C\\a.txt", 1252) ||
                 sfx::IsSafeEntryName("docs\\..\\..\\evil.exe", 1252));
    EXPECT_FALSE(sfx::IsSafeEntryName(nullptr, 1252));
    const std::wstring longest(sfx::kMaxNameChars, L'n');
    const struct {
        const char* stored;
        unsigned codePage;
        std::wstring wide;
        std::string parts;
    } rows[] = {
        {"dir\x95\x5C\\inner.txt", 932, L"dir\u8868\\inner.txt", "0+4 5+9"},  // dir表\inner.txt
        {"\x83\x5C", 932, L"\u30BD", "0+1"},
        {"a\\b\\c", 1252, L"a\\b\\c", "0+1 2+1 4+1"},
        {"a\\b", 1252, L"a\\b\\c", ""},
        {"a\\b", 1252, L"a", ""},  // a separator made or lost
        {"ab", 1252, L"a\\b", ""},
        {"a\\b", 1252, L"a\\\\b", ""},
        {"x", 1252, L".", ""},
        {"x\\y", 1252, L"..\\y", ""},
        {"a\x81", 1252, L"a\u0081", ""},
        {"a\x9d", 1252, L"a\u009D", ""},
        {"a", 1252, L"a\u007F", ""},  // C1 and DEL
        {"a", 1252, L"a/b", ""},
        {"a", 1252, L"", ""},
        {"n", 1252, longest, "0+239"},
        {"n", 1252, longest + L"n", ""},
    };
    for (const auto& row : rows) {
        sfx::NameParts parts;
        std::string got;
        if (sfx::SplitEntryName(row.stored, row.codePage, row.wide.c_str(), &parts))
            for (size_t i = 0; i < parts.count; ++i)
                got += (i ? " " : "") + std::to_string(parts.start[i]) + "+" +
                       std::to_string(parts.length[i]);
        EXPECT_EQ(got, row.parts) << row.stored;
    }
}

// The destination's missing folders are made from below the root, which never is.
TEST(CreateDestination, MakesEveryFolderBelowTheRoot) {
    const std::pair<const wchar_t*, std::wstring> rows[] = {
        {L"C:\\out\\docs\\", L"C:\\out C:\\out\\docs "},
        {L"C:\\a", L"C:\\a "},
        {L"C:", L""},
        {L"\\\\server\\share\\dir", L"\\\\server\\share\\dir "},
        {L"\\\\server\\share", L""},
        {L"\\\\?\\C:\\x\\y", L"\\\\?\\C:\\x \\\\?\\C:\\x\\y "},
        {L"\\\\?\\UNC\\server\\share\\d", L"\\\\?\\UNC\\server\\share\\d "},
        {L"rel/sub", L"rel rel/sub "},
        {L"\\top", L"\\top "},
    };
    for (const auto& [destination, made] : rows) {
        std::wstring got;
        sfx::CreateDestination(destination, &got, [](void* g, const wchar_t* path) {
            *static_cast<std::wstring*>(g) += std::wstring(path) + L" ";
        });
        EXPECT_EQ(got, made);
    }
}

// A scripted file system for the held folders: a handle is the folder's path; opens and
// closes are recorded in order ("+path", "-path").
struct Folders {
    std::set<std::wstring> links, files;
    std::wstring log = L"";
    std::vector<std::unique_ptr<std::wstring>> handles = {};
};

TEST(WalkFolders, KeepsWhatTheNextNameSharesAndPassesNoLink) {
    Folders fs{{L"D\\a\\link"}, {L"D\\file"}};
    const sfx::FolderOps ops{
        &fs,
        [](void* f, void* parent, const wchar_t* name, size_t length, void** out) {
            auto* s = static_cast<Folders*>(f);
            const std::wstring path =
                *static_cast<std::wstring*>(parent) + L"\\" + std::wstring(name, length);
            if (s->links.count(path)) return sfx::FolderStep::Link;
            if (s->files.count(path)) return sfx::FolderStep::NotFolder;
            s->handles.push_back(std::make_unique<std::wstring>(path));
            s->log += L"+" + path + L" ";
            *out = s->handles.back().get();
            return sfx::FolderStep::Opened;
        },
        [](void* f, void* folder) {
            static_cast<Folders*>(f)->log += L"-" + *static_cast<std::wstring*>(folder) + L" ";
        }};
    std::wstring destination = L"D";
    auto held = std::make_unique<sfx::HeldFolders>();
    held->folder[0] = &destination;
    held->depth = 0;
    const struct {
        const wchar_t* name;
        sfx::FolderWalk walk;
        size_t stopped;
        const wchar_t* log;
    } steps[] = {
        {L"a\\b\\f.txt", sfx::FolderWalk::Done, 0, L"+D\\a +D\\a\\b "},
        {L"a\\b\\g.txt", sfx::FolderWalk::Done, 0, L""},
        {L"a\\c\\h.txt", sfx::FolderWalk::Done, 0, L"-D\\a\\b +D\\a\\c "},
        {L"A\\c\\h.txt", sfx::FolderWalk::Done, 0,
         L"-D\\a\\c -D\\a +D\\A +D\\A\\c "},  // as written, not folded
        {L"top.txt", sfx::FolderWalk::Done, 0, L"-D\\A\\c -D\\A "},
        {L"a\\link\\x\\y.txt", sfx::FolderWalk::ThroughLink, 2, L"+D\\a "},
        {L"file\\y.txt", sfx::FolderWalk::CannotCreate, 1, L"-D\\a "},
        {L"a\\b\\f.txt", sfx::FolderWalk::Done, 0, L"+D\\a +D\\a\\b "},
    };
    for (const auto& step : steps) {
        sfx::NameParts parts;
        // Stored with separators where the name has them.
        std::string shaped(std::wcslen(step.name), 'x');
        for (size_t i = 0; step.name[i]; ++i) shaped[i] = step.name[i] == L'\\' ? '\\' : 'x';
        ASSERT_TRUE(sfx::SplitEntryName(shaped.c_str(), 1252, step.name, &parts));
        fs.log.clear();
        size_t stopped = 0;
        EXPECT_EQ(sfx::WalkFolders(*held, step.name, parts, ops, &stopped), step.walk);
        EXPECT_EQ(stopped, step.stopped);
        EXPECT_EQ(fs.log, step.log);
    }
    fs.log.clear();
    sfx::ReleaseFolders(*held, ops);
    EXPECT_EQ(fs.log, L"-D\\a\\b -D\\a ");
}

// Identities of many files, random and dense, 0 among them: each is found once added, and
// none that was not.
TEST(FileIdSet, FindsEveryIdentityAddedAndNoOther) {
    sfx::FileIdSet set;
    std::set<uint64_t> added;
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 5000; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const uint64_t id = i % 3 == 0 ? x : i % 3 == 1 ? static_cast<uint64_t>(i) * 64 : x % 1000;
        EXPECT_EQ(set.Contains(id), added.count(id) == 1);
        ASSERT_TRUE(set.Add(id));
        added.insert(id);
    }
    for (const uint64_t id : added) EXPECT_TRUE(set.Contains(id));
    EXPECT_TRUE(set.Add(0) && set.Contains(0));
    for (uint64_t id = 5001; id < 6000; ++id)
        EXPECT_EQ(set.Contains(id * 64 + 1), added.count(id * 64 + 1) == 1);
}

// Names compare as a system that ignores ASCII letter case would: U+30A2 and U+30C2,
// whose code page 932 bytes differ in one ASCII letter bit, stay two names.
bool SameNames(const wchar_t* a, const wchar_t* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

TEST(RunCommand, TheLongestPrefixThatThisRunWroteIsTheProgramAndNothingElseIsStarted) {
    // The entries written, the command, the command line ("": nothing is started) and its room.
    const struct {
        std::vector<const wchar_t*> written;
        const wchar_t* run;
        const wchar_t* line;
        size_t room = 600;
    } cases[] = {
        {{L"setup.exe"}, L"setup /a  /b", L"\"C:\\T\\setup.exe\" /a  /b"},
        {{L"Setup.EXE"}, L"setup /a", L"\"C:\\T\\setup.exe\" /a"},  // case ignored
        {{L"bin\\run.exe"}, L"bin/run", L"\"C:\\T\\bin/run.exe\""},
        // A file planted beside the extracted program names a shorter prefix: not taken.
        {{L"my.exe", L"my tool.exe"}, L"my tool.exe --go", L"\"C:\\T\\my tool.exe\" --go"},
        {{L"my tool", L"my tool.exe"}, L"my tool --go", L"\"C:\\T\\my tool\" --go"},
        {{L"my.exe", L"my tool.exe x"}, L"my tool.exe x --go", L"\"C:\\T\\my tool.exe x\" --go"},
        {{L"my tool.exe"}, L"\"my tool\" /a b", L"\"C:\\T\\my tool.exe\" /a b"},
        {{L"app"}, L"\"app", L"\"C:\\T\\app\""},
        {{L"a.exe"}, L"a /b", L"\"C:\\T\\a.exe\" /b", 16},  // exactly fits
        // Programs this run did not write are never started.
        {{L"other.exe", L"sub\\setup.exe", L"setup.exe.txt", L"setup.ex"}, L"setup.exe /s", L""},
        {{L"\u30A2.exe"}, L"\u30C2.exe", L""},
        {{L"setup.exe.txt"}, L"setup /s", L""},
        {{L"my.exe"}, L"\"my tool.exe\"", L""},
        {{L"app"}, L"\"\" app", L""},
        {{L"x"}, L"   ", L""},
        {{L"a.exe"}, L"a /b", L"", 15},  // does not fit: refused
    };
    for (const auto& c : cases) {
        sfx::RunCandidates candidates;
        sfx::ClearRunCandidates(candidates);
        for (const wchar_t* name : c.written)
            sfx::NoteWrittenEntry(candidates, c.run, name, SameNames);
        wchar_t program[600], line[600];
        EXPECT_EQ(sfx::ResolveRunCommand(L"C:\\T", c.run, candidates, program, 600, line, c.room),
                  c.line[0]      ? sfx::RunCommand::Ready
                  : c.room < 600 ? sfx::RunCommand::TooLong
                                 : sfx::RunCommand::NoProgram);
        EXPECT_EQ(std::wstring(line), c.line);
        // Started by its exact path, never looked up.
        const std::wstring quoted = L'"' + std::wstring(program) + L'"';
        EXPECT_EQ(c.line[0] ? std::wstring(line).substr(0, quoted.size()) : L"\"\"", quoted);
    }
}

// Yes, no, cancel: the GUI runs.
TEST(OverwriteAnswer, ABoxThatWasNotShownOrAnsweredOtherwiseKeepsTheFile) {
    for (int result : {0, 1, 3})
        EXPECT_EQ(sfx::OverwriteAnswerOf(result), sfx::OverwriteAnswer::Unanswered) << result;
}

// A scripted extraction: the remembered password is "kept", each try returns the next code,
// the prompt answers in turn (1 OK with the password, 2 Cancel, -1 could not be shown).
struct Script {
    vorx_Error result;  // what the protocol returns
    const char* tried;  // the passwords tried in turn, "-" for none
    std::vector<vorx_Error> results;
    std::vector<std::pair<intptr_t, const char*>> answers = {};
    std::string got = "";
    size_t tries = 0, prompts = 0;
};

TEST(PasswordProtocol, RememberedFirstThenAskUntilOneWorksOrThePersonGivesUp) {
    using E = std::vector<vorx_Error>;
    const vorx_Error ok = vorx_Success, required = vorx_PasswordRequired, wrong = vorx_CrcMismatch,
                     bad = vorx_CorruptArchive, full = vorx_OutOfDiskSpace;
    Script cases[] = {
        {ok, "- kept ", E{required, ok}},
        {ok, "- kept bad good ", E{required, wrong, bad}, {{1, "bad"}, {1, "good"}}},
        {required, "- kept ", E{required, wrong}, {{2, "ignored"}}},
        {required, "- kept ", E{required, wrong}, {{-1, ""}, {1, "never"}}},
        {full, "- kept typed ", E{required, wrong, full}, {{1, "typed"}}},
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
            [](void* script, char(&buffer)[sfx::kPathSize]) -> intptr_t {
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
