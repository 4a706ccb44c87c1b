// The self-extractor's window-free rules: paths, the quiet switch, destination settling,
// name safety, the folder walk, the run command and the entry password protocol.
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
    sfx::SettleDestination(oversized, "D:\\", FakeExpand, &big);
    EXPECT_STREQ(oversized, "C:\\%BIG%\\");
}

TEST(EntryNames, OrdinaryNamesAreSafe) {
    for (const char* name : {"readme.txt", "docs\\readme.txt", "a\\b\\c\\d.bin", "..data",
                             "file..txt", "dir.\\x", ".hidden", "a\\.\\b", "x...y\\z"})
        EXPECT_TRUE(sfx::IsSafeEntryName(name)) << name;
}

TEST(EntryNames, NamesThatLeaveTheDestinationAreRefused) {
    for (const char* name :
         {"", "..\\evil.exe", "docs\\..\\..\\evil.exe", "docs\\..", "..", "\\windows\\evil.exe",
          "/etc/evil", "C:\\evil.exe", "C:evil.exe", "docs/../../evil", "../evil", "a\\...\\b",
          "a\\.. \\b", "a\\ ..\\b", "file.txt:stream", "\\\\server\\share\\x"})
        EXPECT_FALSE(sfx::IsSafeEntryName(name)) << name;
    EXPECT_FALSE(sfx::IsSafeEntryName(nullptr));
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
    std::set<std::string> refuse;
    std::vector<std::string> tested;
    std::vector<std::string> created;
};

bool FakeExists(void* context, const char* path) {
    auto* fs = static_cast<FakeFolders*>(context);
    fs->tested.push_back(path);
    return fs->existing.count(path) != 0;
}

bool FakeCreate(void* context, const char* path) {
    auto* fs = static_cast<FakeFolders*>(context);
    if (fs->refuse.count(path)) return false;
    fs->created.push_back(path);
    fs->existing.insert(path);
    return true;
}

TEST(EnsureDirectory, CreatesEachMissingFolderBelowTheDriveRoot) {
    FakeFolders fs;
    fs.existing = {"C:\\out\\"};
    char folder[sfx::kPathSize] = "C:\\out\\docs\\deep";
    ASSERT_TRUE(sfx::EnsureDirectory(folder, sizeof folder, {&fs, FakeExists, FakeCreate}));
    EXPECT_STREQ(folder, "C:\\out\\docs\\deep\\");  // the caller's buffer gains the backslash
    EXPECT_EQ(fs.tested,
              (std::vector<std::string>{"C:\\out\\", "C:\\out\\docs\\", "C:\\out\\docs\\deep\\"}));
    EXPECT_EQ(fs.created, (std::vector<std::string>{"C:\\out\\docs\\", "C:\\out\\docs\\deep\\"}));
}

TEST(EnsureDirectory, ExistingFoldersAreLeftAloneAndRootsNeverTouched) {
    FakeFolders fs;
    fs.existing = {"C:\\a\\", "C:\\a\\b\\"};
    char folder[sfx::kPathSize] = "C:\\a\\b\\";
    ASSERT_TRUE(sfx::EnsureDirectory(folder, sizeof folder, {&fs, FakeExists, FakeCreate}));
    EXPECT_TRUE(fs.created.empty());
    EXPECT_EQ(fs.tested, (std::vector<std::string>{"C:\\a\\", "C:\\a\\b\\"}));

    FakeFolders unc;
    char network[sfx::kPathSize] = "\\\\server\\share\\dir\\";
    ASSERT_TRUE(sfx::EnsureDirectory(network, sizeof network, {&unc, FakeExists, FakeCreate}));
    EXPECT_EQ(unc.created, (std::vector<std::string>{"\\\\server\\share\\dir\\"}));

    FakeFolders relative;
    char local[sfx::kPathSize] = "";
    ASSERT_TRUE(sfx::EnsureDirectory(local, sizeof local, {&relative, FakeExists, FakeCreate}));
    EXPECT_EQ(relative.created, (std::vector<std::string>{"\\"}));
}

TEST(EnsureDirectory, StopsAtTheFirstFolderThatCannotBeCreated) {
    FakeFolders fs;
    fs.refuse = {"C:\\locked\\"};
    char folder[sfx::kPathSize] = "C:\\locked\\inner\\";
    EXPECT_FALSE(sfx::EnsureDirectory(folder, sizeof folder, {&fs, FakeExists, FakeCreate}));
    EXPECT_TRUE(fs.created.empty());
    EXPECT_EQ(fs.tested, (std::vector<std::string>{"C:\\locked\\"}));
}

// Files that exist in the scripted destination.
struct FakeFiles {
    std::set<std::string> files;
    std::vector<std::string> asked;
};

bool FakeFileExists(void* context, const char* path) {
    auto* fs = static_cast<FakeFiles*>(context);
    fs->asked.push_back(path);
    return fs->files.count(path) != 0;
}

std::string Resolve(FakeFiles& fs, const char* destination, const char* run,
                    sfx::RunCommand expected = sfx::RunCommand::Ready) {
    char line[600];
    EXPECT_EQ(sfx::ResolveRunCommand(destination, run, FakeFileExists, &fs, line, sizeof line),
              expected);
    return line;
}

TEST(RunCommand, ProgramIsQuotedAndArgumentsFollow) {
    FakeFiles fs;
    fs.files = {"C:\\Program Files\\Tool\\setup.exe"};
    EXPECT_EQ(Resolve(fs, "C:\\Program Files\\Tool\\", "setup.exe /silent"),
              "\"C:\\Program Files\\Tool\\setup.exe\" /silent");
    EXPECT_EQ(Resolve(fs, "C:\\Program Files\\Tool", "setup.exe"),
              "\"C:\\Program Files\\Tool\\setup.exe\"");
    EXPECT_EQ(Resolve(fs, "C:\\Program Files\\Tool", "setup /a  /b"),
              "\"C:\\Program Files\\Tool\\setup.exe\" /a  /b");
}

TEST(RunCommand, TheShortestPrefixNamingAFileIsTheProgram) {
    FakeFiles fs;
    fs.files = {"D:\\x\\my tool.exe", "D:\\x\\my tool.exe extra"};
    EXPECT_EQ(Resolve(fs, "D:\\x", "my tool.exe extra --go"), "\"D:\\x\\my tool.exe\" extra --go");
    // Every shorter prefix was tried, as written and with .exe, before the match.
    EXPECT_EQ(fs.asked, (std::vector<std::string>{"D:\\x\\my", "D:\\x\\my.exe",
                                                  "D:\\x\\my tool.exe"}));
}

TEST(RunCommand, QuotedProgramNamesAreTakenAsTheyStand) {
    FakeFiles fs;
    fs.files = {"D:\\x\\my tool.exe", "D:\\x\\app"};
    EXPECT_EQ(Resolve(fs, "D:\\x\\", "\"my tool.exe\" /a b"), "\"D:\\x\\my tool.exe\" /a b");
    EXPECT_EQ(Resolve(fs, "D:\\x\\", "\"my tool\""), "\"D:\\x\\my tool.exe\"");
    EXPECT_EQ(Resolve(fs, "D:\\x\\", "\"app"), "\"D:\\x\\app\"");
    Resolve(fs, "D:\\x\\", "\"\" app", sfx::RunCommand::NoProgram);
}

TEST(RunCommand, NothingStartsWhenNoFileNamesTheProgram) {
    FakeFiles fs;
    fs.files = {"D:\\x\\other.exe"};
    EXPECT_EQ(Resolve(fs, "D:\\x", "setup.exe /s", sfx::RunCommand::NoProgram), "");
    EXPECT_EQ(Resolve(fs, "D:\\x", "   ", sfx::RunCommand::NoProgram), "");
}

TEST(RunCommand, ACommandLineThatDoesNotFitIsRefused) {
    FakeFiles fs;
    fs.files = {"D:\\x\\a.exe"};
    char line[16];
    EXPECT_EQ(sfx::ResolveRunCommand("D:\\x", "a.exe /with /many /arguments", FakeFileExists,
                                     &fs, line, sizeof line),
              sfx::RunCommand::TooLong);
    EXPECT_STREQ(line, "");
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
