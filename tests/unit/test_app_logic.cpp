// The self-extractor's window-free rules: paths, the quiet switch, destination settling,
// name safety, the folder walk, the run command, the overwrite answer and the entry
// password protocol.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app_logic.h"

namespace {

TEST(AppendBackslash, AddsOneOnlyWhenMissing) {
    char path[16] = "C:\\out";
    ASSERT_TRUE(sfx::AppendBackslash(path, sizeof path));
    EXPECT_STREQ(path, "C:\\out\\");
    ASSERT_TRUE(sfx::AppendBackslash(path, sizeof path));
    EXPECT_STREQ(path, "C:\\out\\");
    char empty[4] = "";
    ASSERT_TRUE(sfx::AppendBackslash(empty, sizeof empty));
    EXPECT_STREQ(empty, "\\");
    char slash[9] = "C:/out/";  // only a backslash counts as the folder end
    ASSERT_TRUE(sfx::AppendBackslash(slash, sizeof slash));
    EXPECT_STREQ(slash, "C:/out/\\");
}

TEST(AppendBackslash, RefusesWhenTheBufferIsFull) {
    char path[7] = "C:\\out";  // six characters and the NUL: no room for one more
    EXPECT_FALSE(sfx::AppendBackslash(path, sizeof path));
    EXPECT_STREQ(path, "C:\\out");
    char room[8] = "C:\\out";
    EXPECT_TRUE(sfx::AppendBackslash(room, sizeof room));
    EXPECT_STREQ(room, "C:\\out\\");
}

TEST(GetDirectoryPart, KeepsEverythingUpToTheLastBackslash) {
    char out[64];
    ASSERT_TRUE(sfx::GetDirectoryPart(out, sizeof out, "C:\\out\\docs\\readme.txt"));
    EXPECT_STREQ(out, "C:\\out\\docs\\");
    ASSERT_TRUE(sfx::GetDirectoryPart(out, sizeof out, "C:\\out\\"));
    EXPECT_STREQ(out, "C:\\out\\");
    ASSERT_TRUE(sfx::GetDirectoryPart(out, sizeof out, "readme.txt"));
    EXPECT_STREQ(out, "");
    ASSERT_TRUE(sfx::GetDirectoryPart(out, sizeof out, "a/b/c.txt"));  // slashes are not folders here
    EXPECT_STREQ(out, "");
    char small[4];
    EXPECT_FALSE(sfx::GetDirectoryPart(small, sizeof small, "abcd\\e"));
    EXPECT_STREQ(small, "");
}

TEST(Compose, JoinsTheThreePartsOrRefusesWhenTheyDoNotFit) {
    char out[sfx::kPathSize * 2];
    const std::string path = "C:\\" + std::string(250, 'p');
    ASSERT_TRUE(sfx::Compose(out, sizeof out, "File ", path.c_str(), " exists already, ovewrite it?"));
    EXPECT_EQ(std::string(out), "File " + path + " exists already, ovewrite it?");
    char small[12];
    EXPECT_TRUE(sfx::Compose(small, sizeof small, "ab", "cdefgh", "ijk"));  // 11 characters fit
    EXPECT_STREQ(small, "abcdefghijk");
    EXPECT_FALSE(sfx::Compose(small, sizeof small, "ab", "cdefgh", "ijkl"));
    EXPECT_STREQ(small, "");
}

TEST(QuietTail, OnlyExactlySlashQOrSlashQSlashSInEitherCase) {
    for (const char* tail : {"/q", "/Q"}) {
        EXPECT_TRUE(sfx::IsQuietTail(tail)) << tail;
        EXPECT_FALSE(sfx::IsSilentTail(tail)) << tail;
    }
    for (const char* tail : {"/q /s", "/Q /S", "/q /S", "/Q /s"}) {
        EXPECT_TRUE(sfx::IsSilentTail(tail)) << tail;
        EXPECT_FALSE(sfx::IsQuietTail(tail)) << tail;
    }
    for (const char* tail : {"", "/q ", "/q /x", "-q", "/quiet", " /q", "q", "/", "//q", "/q /s ", "/q  /s",
                             "/q/s", "/s /q", "/s", "/q /", "/q /sx", " /q /s", "/q /s /q"}) {
        EXPECT_FALSE(sfx::IsQuietTail(tail)) << '"' << tail << '"';
        EXPECT_FALSE(sfx::IsSilentTail(tail)) << '"' << tail << '"';
    }
    EXPECT_FALSE(sfx::IsQuietTail(nullptr));
    EXPECT_FALSE(sfx::IsSilentTail(nullptr));
}

TEST(ModuleFolder, DriveAndDirectoryWithTrailingSeparator) {
    char out[sfx::kPathSize];
    ASSERT_TRUE(sfx::ModuleFolderOf("D:\\downloads\\setup.exe", out, sizeof out));
    EXPECT_STREQ(out, "D:\\downloads\\");
    ASSERT_TRUE(sfx::ModuleFolderOf("C:\\setup.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\");
    ASSERT_TRUE(sfx::ModuleFolderOf("\\\\server\\share\\x\\setup.exe", out, sizeof out));
    EXPECT_STREQ(out, "\\\\server\\share\\x\\");
    ASSERT_TRUE(sfx::ModuleFolderOf("C:/tools/bin/setup.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:/tools/bin/");
    ASSERT_TRUE(sfx::ModuleFolderOf("setup.exe", out, sizeof out));
    EXPECT_STREQ(out, "");
    char small[8];
    EXPECT_FALSE(sfx::ModuleFolderOf("C:\\long\\folder\\x.exe", small, sizeof small));
    EXPECT_STREQ(small, "");
}

// A scripted ExpandEnvironmentStringsA: %TEMP% is defined, everything else is left alone.
struct FakeEnvironment {
    std::map<std::string, std::string> variables{{"TEMP", "C:\\Users\\me\\AppData\\Local\\Temp"}};
    bool fail = false;
    int calls = 0;
};

uint32_t FakeExpand(void* context, const char* source, char* destination, uint32_t size) {
    auto* env = static_cast<FakeEnvironment*>(context);
    ++env->calls;
    if (env->fail) return 0;
    std::string out;
    for (const char* p = source; *p;) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        auto found = close ? env->variables.find(std::string(p + 1, close)) : env->variables.end();
        if (close && found != env->variables.end()) {
            out += found->second;
            p = close + 1;
        } else {
            out += *p++;
        }
    }
    // Like the system call: the size needed, and only a partial copy when it is short.
    std::strncpy(destination, out.c_str(), size);
    return static_cast<uint32_t>(out.size() + 1);
}

TEST(SettleDestination, EmptyMeansTheExecutablesFolderWithoutExpansion) {
    FakeEnvironment env;
    char destination[sfx::kConfigFieldSize] = "";
    sfx::SettleDestination(destination, "D:\\%TEMP%\\", FakeExpand, &env);
    EXPECT_STREQ(destination, "D:\\%TEMP%\\");
    EXPECT_EQ(env.calls, 0);
}

TEST(SettleDestination, ExpandsVariablesAndKeepsUnknownOnesAsWritten) {
    FakeEnvironment env;
    char destination[sfx::kConfigFieldSize] = "%TEMP%\\setup\\";
    sfx::SettleDestination(destination, "D:\\", FakeExpand, &env);
    EXPECT_STREQ(destination, "C:\\Users\\me\\AppData\\Local\\Temp\\setup\\");
    char unknown[sfx::kConfigFieldSize] = "%NOPE%\\setup\\";
    sfx::SettleDestination(unknown, "D:\\", FakeExpand, &env);
    EXPECT_STREQ(unknown, "%NOPE%\\setup\\");
}

TEST(SettleDestination, FailedOrOversizedExpansionKeepsTheConfiguredText) {
    FakeEnvironment env;
    env.fail = true;
    char destination[sfx::kConfigFieldSize] = "%TEMP%\\a\\";
    sfx::SettleDestination(destination, "D:\\", FakeExpand, &env);
    EXPECT_STREQ(destination, "%TEMP%\\a\\");

    FakeEnvironment big;
    big.variables["BIG"] = std::string(300, 'x');
    char oversized[sfx::kConfigFieldSize] = "C:\\%BIG%\\";
    EXPECT_TRUE(sfx::SettleDestination(oversized, "D:\\", FakeExpand, &big));
    EXPECT_STREQ(oversized, "C:\\%BIG%\\");
}

TEST(SettleDestination, AnExpansionOutsideTheCodePageLeavesNoDestination) {
    char destination[sfx::kConfigFieldSize] = "%USERPROFILE%\\setup\\";
    auto unrepresentable = [](void*, const char*, char* out, uint32_t) -> uint32_t {
        std::strcpy(out, "C:\\Users\\??\\setup\\");  // what a lossy conversion would give
        return sfx::kUnrepresentable;
    };
    EXPECT_FALSE(sfx::SettleDestination(destination, "D:\\", unrepresentable, nullptr));
    EXPECT_STREQ(destination, "");
}

// The stub's check is the name rule in the system's code page: names that leave the
// destination, devices, '/' and characters Windows refuses are never written; a
// double-byte character whose trail byte is 0x5C is one character.
TEST(EntryNames, TheStubsCheckIsTheNameRule) {
    const struct {
        const char* name;
        unsigned codePage;
        bool safe;
    } cases[] = {
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

TEST(OutputPath, JoinsDestinationAndNameWithOneBackslash) {
    char out[sfx::kPathSize];
    ASSERT_EQ(sfx::BuildOutputPath(out, sizeof out, "C:\\out", "docs\\readme.txt"), vorx_Success);
    EXPECT_STREQ(out, "C:\\out\\docs\\readme.txt");
    ASSERT_EQ(sfx::BuildOutputPath(out, sizeof out, "C:\\out\\", "a.txt"), vorx_Success);
    EXPECT_STREQ(out, "C:\\out\\a.txt");
}

TEST(OutputPath, APathThatDoesNotFitIsRefusedNotCut) {
    char out[sfx::kPathSize];
    const std::string destination = "C:\\" + std::string(200, 'd');
    const std::string fits(sfx::kPathSize - 1 - destination.size() - 1, 'n');
    ASSERT_EQ(sfx::BuildOutputPath(out, sizeof out, destination.c_str(), fits.c_str()),
              vorx_Success);
    EXPECT_EQ(std::strlen(out), sfx::kPathSize - 1);
    const std::string tooLong = fits + "n";
    EXPECT_EQ(sfx::BuildOutputPath(out, sizeof out, destination.c_str(), tooLong.c_str()),
              vorx_InvalidArgument);
    EXPECT_STREQ(out, "");
}

// A scripted file system for the folder walk.
struct FakeFolders {
    std::set<std::string> existing;
    std::set<std::string> links;
    std::set<std::string> refuse;
    std::vector<std::string> tested;
    std::vector<std::string> created;
};

sfx::FolderState FakeProbe(void* context, const char* path) {
    auto* fs = static_cast<FakeFolders*>(context);
    fs->tested.push_back(path);
    if (fs->links.count(path)) return sfx::FolderState::Link;
    return fs->existing.count(path) ? sfx::FolderState::Folder : sfx::FolderState::Missing;
}

bool FakeCreate(void* context, const char* path) {
    auto* fs = static_cast<FakeFolders*>(context);
    if (fs->refuse.count(path)) return false;
    fs->created.push_back(path);
    fs->existing.insert(path);
    return true;
}

sfx::FolderWalk Walk(FakeFolders& fs, char (&folder)[sfx::kPathSize], size_t trusted = 0) {
    return sfx::EnsureDirectory(folder, sizeof folder, trusted, {&fs, FakeProbe, FakeCreate});
}

TEST(EnsureDirectory, CreatesEachMissingFolderBelowTheDriveRoot) {
    FakeFolders fs;
    fs.existing = {"C:\\out\\"};
    char folder[sfx::kPathSize] = "C:\\out\\docs\\deep";
    ASSERT_EQ(Walk(fs, folder), sfx::FolderWalk::Done);
    EXPECT_STREQ(folder, "C:\\out\\docs\\deep\\");  // the caller's buffer gains the backslash
    EXPECT_EQ(fs.tested,
              (std::vector<std::string>{"C:\\out\\", "C:\\out\\docs\\", "C:\\out\\docs\\deep\\"}));
    EXPECT_EQ(fs.created, (std::vector<std::string>{"C:\\out\\docs\\", "C:\\out\\docs\\deep\\"}));
}

TEST(EnsureDirectory, ExistingFoldersAreLeftAloneAndRootsNeverTouched) {
    FakeFolders fs;
    fs.existing = {"C:\\a\\", "C:\\a\\b\\"};
    char folder[sfx::kPathSize] = "C:\\a\\b\\";
    ASSERT_EQ(Walk(fs, folder), sfx::FolderWalk::Done);
    EXPECT_TRUE(fs.created.empty());
    EXPECT_EQ(fs.tested, (std::vector<std::string>{"C:\\a\\", "C:\\a\\b\\"}));

    FakeFolders unc;
    char network[sfx::kPathSize] = "\\\\server\\share\\dir\\";
    ASSERT_EQ(Walk(unc, network), sfx::FolderWalk::Done);
    EXPECT_EQ(unc.created, (std::vector<std::string>{"\\\\server\\share\\dir\\"}));

    FakeFolders relative;
    char local[sfx::kPathSize] = "";
    ASSERT_EQ(Walk(relative, local), sfx::FolderWalk::Done);
    EXPECT_EQ(relative.created, (std::vector<std::string>{"\\"}));
}

TEST(EnsureDirectory, StopsAtTheFirstFolderThatCannotBeCreated) {
    FakeFolders fs;
    fs.refuse = {"C:\\locked\\"};
    char folder[sfx::kPathSize] = "C:\\locked\\inner\\";
    EXPECT_EQ(Walk(fs, folder), sfx::FolderWalk::CannotCreate);
    EXPECT_TRUE(fs.created.empty());
    EXPECT_EQ(fs.tested, (std::vector<std::string>{"C:\\locked\\"}));
    EXPECT_STREQ(folder, "C:\\locked\\");
}

TEST(EnsureDirectory, NoLinkBelowTheDestinationIsPassed) {
    // The destination C:\\Users\\me\\out\\ (16 characters) may sit behind links; nothing
    // below it may be one.
    const size_t trusted = std::strlen("C:\\Users\\me\\out\\");
    const struct { const char* link; sfx::FolderWalk walk; const char* stoppedAt; } cases[] = {
        {"C:\\Users\\", sfx::FolderWalk::Done, "C:\\Users\\me\\out\\a\\b\\"},
        {"C:\\Users\\me\\out\\", sfx::FolderWalk::Done, "C:\\Users\\me\\out\\a\\b\\"},
        {"C:\\Users\\me\\out\\a\\", sfx::FolderWalk::ThroughLink, "C:\\Users\\me\\out\\a\\"},
        {"C:\\Users\\me\\out\\a\\b\\", sfx::FolderWalk::ThroughLink, "C:\\Users\\me\\out\\a\\b\\"},
    };
    for (const auto& c : cases) {
        FakeFolders fs;
        fs.existing = {"C:\\Users\\", "C:\\Users\\me\\", "C:\\Users\\me\\out\\", "C:\\Users\\me\\out\\a\\",
                       "C:\\Users\\me\\out\\a\\b\\"};
        fs.links = {c.link};
        char folder[sfx::kPathSize] = "C:\\Users\\me\\out\\a\\b\\";
        EXPECT_EQ(Walk(fs, folder, trusted), c.walk) << c.link;
        EXPECT_STREQ(folder, c.stoppedAt) << c.link;
        EXPECT_TRUE(fs.created.empty()) << c.link;
    }
}

// The run command resolved after a run that wrote the entries `written`.
std::string Resolve(const std::vector<const char*>& written, const char* destination,
                    const char* run, sfx::RunCommand expected = sfx::RunCommand::Ready,
                    std::string* program = nullptr) {
    sfx::RunCandidates candidates;
    sfx::ClearRunCandidates(candidates);
    for (const char* name : written) sfx::NoteWrittenEntry(candidates, run, name);
    char path[600];
    char line[600];
    EXPECT_EQ(sfx::ResolveRunCommand(destination, run, candidates, path, sizeof path, line,
                                     sizeof line),
              expected)
        << run;
    if (program != nullptr) *program = path;
    return line;
}

TEST(RunCommand, TheLongestPrefixThatThisRunWroteIsTheProgram) {
    const struct {
        std::vector<const char*> written;
        const char* run;
        const char* line;  // empty: nothing is started
    } cases[] = {
        {{"setup.exe"}, "setup.exe /silent", "\"C:\\T\\setup.exe\" /silent"},
        {{"setup.exe"}, "setup /a  /b", "\"C:\\T\\setup.exe\" /a  /b"},
        {{"Setup.EXE"}, "setup /a", "\"C:\\T\\setup.exe\" /a"},  // case ignored
        {{"bin\\run.exe"}, "bin/run", "\"C:\\T\\bin/run.exe\""},
        // A file planted beside the extracted program names a shorter prefix: not taken.
        {{"my tool.exe", "readme.txt"}, "my tool.exe --go", "\"C:\\T\\my tool.exe\" --go"},
        {{"my.exe", "my tool.exe"}, "my tool.exe --go", "\"C:\\T\\my tool.exe\" --go"},
        {{"my tool"}, "my tool --go", "\"C:\\T\\my tool\" --go"},
        {{"my tool", "my tool.exe"}, "my tool --go", "\"C:\\T\\my tool\" --go"},
        {{"my.exe", "my tool.exe extra"}, "my tool.exe extra --go",
         "\"C:\\T\\my tool.exe extra\" --go"},
        {{"my tool.exe"}, "\"my tool\" /a b", "\"C:\\T\\my tool.exe\" /a b"},
        {{"app"}, "\"app", "\"C:\\T\\app\""},
        // Programs this run did not write (never in the archive, refused, failed, kept
        // only by a box that could not be shown) are never started.
        {{}, "setup.exe /s", ""},
        {{"other.exe", "sub\\setup.exe", "setup.exe.txt"}, "setup.exe /s", ""},
        {{"my.exe"}, "\"my tool.exe\"", ""},
        {{"app"}, "\"\" app", ""},
        {{"x"}, "   ", ""},
    };
    for (const auto& c : cases) {
        const bool ready = c.line[0] != '\0';
        std::string program;
        const std::string line = Resolve(c.written, "C:\\T", c.run,
                                         ready ? sfx::RunCommand::Ready : sfx::RunCommand::NoProgram,
                                         &program);
        EXPECT_EQ(line, c.line) << c.run;
        // The program is started by its exact path, never looked up by the system.
        EXPECT_EQ(ready ? '"' + program + '"' : program, line.substr(0, program.size() + 2))
            << c.run;
    }
}

TEST(RunCommand, ACommandLineThatDoesNotFitIsRefused) {
    const char* run = "a.exe /with /many /arguments";
    sfx::RunCandidates candidates;
    sfx::ClearRunCandidates(candidates);
    sfx::NoteWrittenEntry(candidates, run, "a.exe");
    char program[16];
    char line[16];
    EXPECT_EQ(sfx::ResolveRunCommand("D:\\x", run, candidates, program, sizeof program, line,
                                     sizeof line),
              sfx::RunCommand::TooLong);
    EXPECT_STREQ(line, "");
    EXPECT_STREQ(program, "");
}

TEST(OverwriteAnswer, OnlyYesReplacesAndABoxThatWasNotShownKeepsTheFile) {
    const struct { int result; sfx::OverwriteAnswer answer; } cases[] = {
        {6, sfx::OverwriteAnswer::Replace},    {7, sfx::OverwriteAnswer::Keep},
        {2, sfx::OverwriteAnswer::Stop},       {0, sfx::OverwriteAnswer::Unanswered},
        {1, sfx::OverwriteAnswer::Unanswered}, {-1, sfx::OverwriteAnswer::Unanswered},
    };
    for (const auto& c : cases) EXPECT_EQ(sfx::OverwriteAnswerOf(c.result), c.answer) << c.result;
}

// A scripted extraction: each try returns the next code; the dialog answers in turn.
struct Script {
    std::vector<vorx_Error> results;
    std::vector<std::string> tried;  // "<none>" for a try without password
    const char* remembered = nullptr;
    std::vector<std::pair<intptr_t, std::string>> answers;
    size_t prompts = 0;
};

vorx_Error ScriptedExtract(void* context, const char* password) {
    auto* s = static_cast<Script*>(context);
    s->tried.push_back(password ? password : "<none>");
    const size_t i = s->tried.size() - 1;
    return i < s->results.size() ? s->results[i] : vorx_Success;
}

const char* ScriptedRemembered(void* context) { return static_cast<Script*>(context)->remembered; }

intptr_t ScriptedPrompt(void* context, char (&buffer)[sfx::kPathSize]) {
    auto* s = static_cast<Script*>(context);
    if (s->prompts >= s->answers.size()) return 2;
    const auto& answer = s->answers[s->prompts++];
    std::strcpy(buffer, answer.second.c_str());
    return answer.first;
}

vorx_Error RunScript(Script& s) {
    return sfx::RunPasswordProtocol({&s, ScriptedExtract, ScriptedRemembered, ScriptedPrompt});
}

TEST(PasswordProtocol, AnythingButPasswordRequiredIsReturnedAsIs) {
    for (vorx_Error first : {vorx_Success, vorx_CorruptArchive, vorx_CrcMismatch, vorx_NotFound}) {
        Script s;
        s.results = {first};
        s.remembered = "remembered";
        EXPECT_EQ(RunScript(s), first);
        EXPECT_EQ(s.tried, (std::vector<std::string>{"<none>"}));
        EXPECT_EQ(s.prompts, 0u);
    }
}

TEST(PasswordProtocol, EncryptedEntryWithNothingRememberedFailsWithoutAPrompt) {
    Script s;
    s.results = {vorx_PasswordRequired};
    EXPECT_EQ(RunScript(s), vorx_PasswordRequired);
    EXPECT_EQ(s.prompts, 0u);
}

TEST(PasswordProtocol, TheRememberedPasswordIsTriedFirst) {
    Script s;
    s.results = {vorx_PasswordRequired, vorx_Success};
    s.remembered = "secret1";
    EXPECT_EQ(RunScript(s), vorx_Success);
    EXPECT_EQ(s.tried, (std::vector<std::string>{"<none>", "secret1"}));
    EXPECT_EQ(s.prompts, 0u);
}

TEST(PasswordProtocol, AWrongRememberedPasswordBringsThePromptUntilOneWorks) {
    Script s;
    s.results = {vorx_PasswordRequired, vorx_CrcMismatch, vorx_CorruptArchive, vorx_Success};
    s.remembered = "stale-1";
    s.answers = {{1, "wrong-2"}, {1, "right-3"}};
    EXPECT_EQ(RunScript(s), vorx_Success);
    EXPECT_EQ(s.tried, (std::vector<std::string>{"<none>", "stale-1", "wrong-2", "right-3"}));
    EXPECT_EQ(s.prompts, 2u);
}

TEST(PasswordProtocol, CancelAtThePromptGivesPasswordRequired) {
    Script s;
    s.results = {vorx_PasswordRequired, vorx_CrcMismatch};
    s.remembered = "stale-1";
    s.answers = {{2, "ignored"}};
    EXPECT_EQ(RunScript(s), vorx_PasswordRequired);
    EXPECT_EQ(s.tried.size(), 2u);
}

TEST(PasswordProtocol, OtherFailuresAfterAPasswordAreReturned) {
    Script s;
    s.results = {vorx_PasswordRequired, vorx_CrcMismatch, vorx_OutOfDiskSpace};
    s.remembered = "stale-1";
    s.answers = {{1, "typed-2"}};
    EXPECT_EQ(RunScript(s), vorx_OutOfDiskSpace);
    EXPECT_EQ(s.prompts, 1u);
}

TEST(PasswordProtocol, ADialogThatCannotBeShownEndsTheRetries) {
    Script s;
    s.results = {vorx_PasswordRequired, vorx_CrcMismatch};
    s.remembered = "stale-1";
    s.answers = {{-1, ""}, {1, "never-used"}};
    EXPECT_EQ(RunScript(s), vorx_PasswordRequired);
    EXPECT_EQ(s.prompts, 1u);
    EXPECT_EQ(s.tried.size(), 2u);
}

TEST(PageTexts, EachPageHasItsTitleAndSubtitle) {
    const struct { int page; const char* title; const char* subtitle; } cases[] = {
        {0, "Comments", "Please read the following and push Next to continue"},
        {1, "Select Destination", "Please choose a destination for extraction and push Next"},
        {2, "Extracting", "Please wait while the files are extracted ..."},
        {3, "", ""},
        {-1, "", ""},
    };
    for (const auto& c : cases) {
        const sfx::PageTexts texts = sfx::PageTextsOf(c.page);
        EXPECT_STREQ(texts.title, c.title) << c.page;
        EXPECT_STREQ(texts.subtitle, c.subtitle) << c.page;
    }
}

}  // namespace
