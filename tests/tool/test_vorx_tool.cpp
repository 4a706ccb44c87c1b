// The vorx tool from the outside: every command and option, exit codes, refusals with
// their messages, overwrite rules, code pages, extraction safety, the self-extractor.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container/crc32.h"
#include "container/format.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

using test::Handle;
using test::TempDir;

struct Result {
    int code;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// Runs the tool with `args` (already quoted as needed) inside `dir`, stdin from
// /dev/null, so it never sees a terminal. `shellPrefix` runs before it in the same shell.
Result Vorx(const TempDir& dir, const std::string& args, const std::string& shellPrefix = "") {
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    const std::string command = "cd " + Quote(dir.Path()) + " && " + shellPrefix + Quote(VORX_TOOL_PATH) + " " +
                                args + " </dev/null >" + Quote(out) + " 2>" + Quote(err);
    const int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream o(out), e(err);
    std::stringstream so, se;
    so << o.rdbuf();
    se << e.rdbuf();
    r.out = so.str();
    r.err = se.str();
    return r;
}

void Write(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
}

std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int64_t MTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

void SetMTime(const std::string& path, int64_t seconds) {
    ASSERT_EQ(std::system(("touch -d @" + std::to_string(seconds) + " " + Quote(path)).c_str()), 0);
}

// A small tree: nested folders, an empty file, text and binary data.
void MakeTree(const TempDir& dir) {
    ASSERT_EQ(mkdir(dir.File("src").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(dir.File("src/sub").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(dir.File("src/sub/deeper").c_str(), 0777), 0);
    Write(dir.File("src/readme.txt"), "hello\nthis is a small text file\n");
    Write(dir.File("src/empty.bin"), "");
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i % 97) + " of the archive test\n";
    Write(dir.File("src/sub/big.txt"), text);
    const Bytes noise = test::RandomBytes(70000, 5);
    Write(dir.File("src/sub/deeper/noise.dat"), std::string(noise.begin(), noise.end()));
    SetMTime(dir.File("src/readme.txt"), 1500000000);
    SetMTime(dir.File("src/sub/big.txt"), 1600000000);
}

TEST(VorxTool, HelpForEveryCommand) {
    TempDir dir;
    Result r = Vorx(dir, "--help");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("vorx a ARCHIVE PATH..."), std::string::npos);
    for (const char* command : {"a", "l", "t", "x"}) {
        r = Vorx(dir, std::string(command) + " --help");
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_NE(r.out.find(std::string("Usage: vorx ") + command), std::string::npos) << r.out;
    }
    r = Vorx(dir, "a --help");
    EXPECT_NE(r.out.find("legacy-strength"), std::string::npos);
}

TEST(VorxTool, CommandLineErrorsExitSeven) {
    TempDir dir;
    Write(dir.File("f"), "x");
    const std::pair<const char*, const char*> cases[] = {
        {"", "no command given"},
        {"q archive", "unknown command 'q'"},
        {"a", "no archive given"},
        {"a out.vx", "no files or folders to add"},
        {"a out.vx f --bogus", "unknown option '--bogus'"},
        {"l out.vx -m5", "does not apply"},
        {"x out.vx --json", "does not apply"},
        {"a out.vx f -p", "needs a value"},
        {"a out.vx f -p short", "at least 6"},
        {"a out.vx f -p 0123456789012345678901234567890123456789012345678901234567890123",
         "at most 63"},
        {"a out.vx f --encrypt-names", "needs a password"},
        {"a out.vx f --dest C:\\\\x", "need --sfx"},
        {"a out.vx f --codepage abc", "code page number"},
        {"l out.vx extra", "unexpected argument"},
        {"--version out.vx", "unexpected argument"},
    };
    for (const auto& [args, message] : cases) {
        const Result r = Vorx(dir, args);
        EXPECT_EQ(r.code, 7) << args;
        EXPECT_NE(r.err.find(message), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_FALSE(Exists(dir.File("out.vx")));
}

TEST(VorxTool, AddListTestExtractRoundTrip) {
    TempDir dir;
    MakeTree(dir);
    for (const char* level : {"-m0", "-m1", "-m5", "-m9"}) {
        SCOPED_TRACE(level);
        // Options after the paths as well as before them.
        Result r = Vorx(dir, std::string("a -y out.vx src ") + level);
        ASSERT_EQ(r.code, 0) << r.err;
        r = Vorx(dir, "l out.vx");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("src\\sub\\deeper\\noise.dat"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("src\\empty.bin"), std::string::npos);
        EXPECT_NE(r.out.find("2017-07-14 02:40:00"), std::string::npos);  // readme.txt
        r = Vorx(dir, "t out.vx");
        EXPECT_EQ(r.code, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("4 entries tested, 0 failed"), std::string::npos) << r.out;
        ASSERT_EQ(std::system(("rm -rf " + Quote(dir.File("dest"))).c_str()), 0);
        r = Vorx(dir, "x out.vx -o dest/inner");
        ASSERT_EQ(r.code, 0) << r.err;
        for (const char* f : {"src/readme.txt", "src/empty.bin", "src/sub/big.txt", "src/sub/deeper/noise.dat"})
            EXPECT_EQ(Read(dir.File(std::string("dest/inner/") + f)), Read(dir.File(f))) << f;
        EXPECT_EQ(MTime(dir.File("dest/inner/src/readme.txt")), 1500000000);
        EXPECT_EQ(MTime(dir.File("dest/inner/src/sub/big.txt")), 1600000000);
    }
}

TEST(VorxTool, NamesAreRelativeToEachPathsParent) {
    TempDir dir;
    MakeTree(dir);
    Result r = Vorx(dir, "a out.vx src/sub/big.txt ./src/sub/deeper/ src/../src/readme.txt");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Vorx(dir, "l out.vx --json");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"name\":\"big.txt\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"name\":\"deeper\\\\noise.dat\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"name\":\"readme.txt\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"count\":3"), std::string::npos);
    EXPECT_NE(r.out.find("\"modified\":\"2020-09-13T12:26:40Z\""), std::string::npos) << r.out;
}

TEST(VorxTool, RefusalsWriteNothing) {
    TempDir dir;
    MakeTree(dir);
    Write(dir.File("existing.vx"), "keep me");
    Result r = Vorx(dir, "a existing.vx src");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("exists; add -y"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir.File("existing.vx")), "keep me");

    struct Case {
        std::string file;
        const char* message;
    };
    const Case cases[] = {
        {"bad\\name.txt", "Windows takes for a separator"},
        {"colon:name.txt", "no Windows file name may hold"},
        {"pipe|name.txt", "no Windows file name may hold"},
        {"esc\x1b[2J.txt", "control character"},
        {"trailing.", "ends in '.' or a blank"},
        {"nul", "device name"},
        {"COM1.txt", "device name"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "cannot hold"},  // not in code page 1252
        {std::string(240, 'n'), "longer than 239 bytes"},
        {"$comments$", "reserved for the comment"},
        // One file on Windows, where letter case does not count (also beyond ASCII).
        {"OK.TXT", "the same file as"},
        {"\xC3\xA9t\xC3\xA9", "the same file as"},  // "été" beside "ÉTÉ"
    };
    for (const Case& c : cases) {
        TempDir one;
        ASSERT_EQ(mkdir(one.File("in").c_str(), 0777), 0);
        Write(one.File("in/ok.txt"), "fine");
        Write(one.File("in/\xC3\x89T\xC3\x89"), "fine");
        Write(one.File("in/" + c.file), "data");
        const std::string args = c.file == "$comments$" ? "a out.vx in/ok.txt 'in/$comments$'" : "a out.vx in";
        r = Vorx(one, args);
        EXPECT_EQ(r.code, 2) << c.file;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.file << ": " << r.err;
        EXPECT_NE(r.err.find("nothing written"), std::string::npos);
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "a control byte printed raw";
        EXPECT_FALSE(Exists(one.File("out.vx")));
    }
    // Two paths that give the same name.
    ASSERT_EQ(mkdir(dir.File("other").c_str(), 0777), 0);
    Write(dir.File("other/readme.txt"), "second");
    r = Vorx(dir, "a dup.vx src/readme.txt other/readme.txt");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("two entries would have this name"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File("dup.vx")));
    // A file where another path needs a folder of that name (in another case).
    ASSERT_EQ(mkdir(dir.File("other/SRC").c_str(), 0777), 0);
    Write(dir.File("other/SRC/f.txt"), "in a folder");
    Write(dir.File("src/sub/src"), "a file");
    r = Vorx(dir, "a fold.vx src/sub other/SRC src/sub/src");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot hold this file beside the folder of 'SRC/f.txt'"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File("fold.vx")));
    r = Vorx(dir, "a missing.vx no-such-file");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot find 'no-such-file'"), std::string::npos);
    EXPECT_FALSE(Exists(dir.File("missing.vx")));
}

TEST(VorxTool, CodePagesConvertNamesBothWays) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("in").c_str(), 0777), 0);
    const std::string latin = "caf\xC3\xA9 \xE2\x82\xAC.txt";        // "café €.txt" in UTF-8
    const std::string cyrillic = "\xD0\x96\xD1\x83\xD0\xBA.txt";       // "Жук.txt"
    Write(dir.File("in/" + latin), "latin");
    Result r = Vorx(dir, "a w.vx in");
    ASSERT_EQ(r.code, 0) << r.err;
    // Stored as code page 1252 bytes: é is 0xE9, € is 0x80.
    const std::string archive = Read(dir.File("w.vx"));
    EXPECT_NE(archive.find("in\\caf\xE9 \x80.txt"), std::string::npos);
    r = Vorx(dir, "x w.vx -o out");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir.File("out/in/" + latin)), "latin");

    TempDir ru;
    ASSERT_EQ(mkdir(ru.File("in").c_str(), 0777), 0);
    Write(ru.File("in/" + cyrillic), "cyrillic");
    r = Vorx(ru, "a w.vx in");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("code page 1252 cannot hold"), std::string::npos) << r.err;
    r = Vorx(ru, "a w.vx in --codepage 1251");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(Read(ru.File("w.vx")).find("in\\\xC6\xF3\xEA.txt"), std::string::npos);
    r = Vorx(ru, "x w.vx -o out --codepage=1251");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(ru.File("out/in/" + cyrillic)), "cyrillic");
}

TEST(VorxTool, PasswordsAndEncryptedNames) {
    TempDir dir;
    MakeTree(dir);
    Write(dir.File("comment.txt"), "Welcome\nto the setup\r\nof things\n");
    Result r = Vorx(dir, "a -p 'pass word' --encrypt-names --comment comment.txt e.vx src");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Vorx(dir, "l e.vx");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("give the password with -p"), std::string::npos);
    r = Vorx(dir, "l e.vx -p 'wrong one'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("wrong password"), std::string::npos);
    r = Vorx(dir, "l e.vx -p 'pass word' --json");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("{\"name\":\"$comments$\",\"size\":34"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"encrypted\":false"), std::string::npos);  // the comment
    EXPECT_NE(r.out.find("\"encrypted\":true"), std::string::npos);
    r = Vorx(dir, "t e.vx -p 'pass word' --json");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"tested\":5,\"failed\":0"), std::string::npos) << r.out;
    r = Vorx(dir, "x e.vx -o out -p 'pass word'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir.File("out/src/sub/big.txt")), Read(dir.File("src/sub/big.txt")));
    EXPECT_FALSE(Exists(dir.File("out/$comments$")));

    // Plain names, encrypted data: listing works, testing without the password fails.
    r = Vorx(dir, "a -p secret -m1 d.vx src");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Vorx(dir, "t d.vx");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("give the password with -p"), std::string::npos) << r.out;
    r = Vorx(dir, "x d.vx -o bad -p wrongpass");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(Exists(dir.File("bad/src/sub/big.txt")));  // no half-written files
}

TEST(VorxTool, CommentLinesGetCarriageReturns) {
    TempDir dir;
    Write(dir.File("f.txt"), "x");
    Write(dir.File("c.txt"), "one\ntwo\r\nthree\n");
    ASSERT_EQ(Vorx(dir, "a c.vx f.txt --comment c.txt -p secret").code, 0);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("c.vx")), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_GetFileInfo(h, &info, "$comments$"), vorx_Success);
    EXPECT_EQ(info.attributes & VORX_ATTRIBUTE_ENCRYPTED, 0u);
    std::string text(info.uncompressedSize, '\0');
    ASSERT_EQ(vorx_DecompressToPtr(h, "$comments$", text.data(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(text, "one\r\ntwo\r\nthree\r\n");
}

TEST(VorxTool, OverwriteRules) {
    TempDir dir;
    MakeTree(dir);
    ASSERT_EQ(Vorx(dir, "a o.vx src").code, 0);
    ASSERT_EQ(Vorx(dir, "x o.vx -o out").code, 0);
    Write(dir.File("out/src/readme.txt"), "changed");
    Result r = Vorx(dir, "x o.vx -o out");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("exists (use -y to replace)"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir.File("out/src/readme.txt")), "changed");
    r = Vorx(dir, "x -y o.vx -o out");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir.File("out/src/readme.txt")), Read(dir.File("src/readme.txt")));
    // -y replaces an existing archive too.
    r = Vorx(dir, "a o.vx src/readme.txt -y");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(Vorx(dir, "l o.vx").out.find("1 entry"), std::string::npos);
}

// Every file and folder below `root`, with the contents of the files.
std::string Snapshot(const std::string& root) {
    const std::string list = root + ".list";
    const std::string find = "find . ! -name stdout.txt ! -name stderr.txt";
    EXPECT_EQ(std::system(("cd " + Quote(root) + " && " + find + " -type f -print0 | sort -z | xargs -0 -r sha1sum >" +
                           Quote(list) + " && " + find + " | sort >>" + Quote(list)).c_str()), 0);
    const std::string text = Read(list);
    std::remove(list.c_str());
    return text;
}

// Names no extraction may write: each is refused with its reason and exit code 2; no file
// outside the output folder appears or changes; the other entries are written.
TEST(VorxTool, ExtractionWritesOnlyNamesTheRuleAccepts) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("box").c_str(), 0777), 0);
    Write(dir.File("box/evil.txt"), "kept as it was");
    test::TestArchive archive;
    const std::pair<const char*, const char*> refused[] = {
        {"..\\evil.txt", "ends in '.'"},       {"ok\\..\\..\\up.txt", "ends in '.'"},
        {"x\\.. \\.. \\e", "ends in '.'"},     {"...", "ends in '.'"},
        {"a\\.\\b.txt", "ends in '.'"},        {"\\absolute.txt", "empty component"},
        {"a\\\\b", "empty component"},         {"/slash.txt", "'/'"},
        {"sub/../../fwd.txt", "'/'"},          {"C:\\drive.txt", "no Windows file name"},
        {"bad|*?<>\".txt", "no Windows file name"},
        {"esc\x1b[2J.txt", "control character"}, {"NUL", "device name"},
        {"nul.txt", "device name"},            {"COM1", "device name"},
        {"AUX.txt", "device name"},            {"CON", "device name"},
        {"CONOUT$", "device name"},            {"dir\\com\xB9.txt", "device name"},
    };
    for (const auto& [name, reason] : refused) archive.entries.emplace_back(name, test::ToBytes(name));
    for (const char* name : {"good.txt", "dir\\fine.txt"}) archive.entries.emplace_back(name, test::ToBytes(name));
    // "..\..\evil.txt" in EBCDIC (code page 500), where '.' is 0x4B and '\' is 0xE0.
    archive.entries.emplace_back("\x4B\x4B\xE0\x4B\x4B\xE0\x85\xA5\x89\x93\x4B\xA3\xA7\xA3", test::ToBytes("ebcdic"));
    // Two characters of code page 932, the first with the trail byte 0x5C (in 1252, an
    // empty component).
    archive.entries.emplace_back("\x83\x5C\\\x82\xA0.txt", test::ToBytes("kana"));
    test::WriteArchive(dir.File("box/evil.vx"), archive);
    const std::string before = Snapshot(dir.Path());

    Result r = Vorx(dir, "x box/evil.vx -o box/out");
    EXPECT_EQ(r.code, 2);
    for (const auto& [name, reason] : refused) {
        const std::string line = std::string("refused '") + name + "': ";
        const size_t at = r.err.find(line.substr(0, line.find_first_of("\x1b\xB9")));
        EXPECT_NE(at, std::string::npos) << name << "\n" << r.err;
        if (at != std::string::npos) {
            EXPECT_NE(r.err.find(reason, at), std::string::npos) << name;
        }
    }
    EXPECT_NE(r.err.find("refused 'esc\\x1B[2J.txt'"), std::string::npos) << "control bytes are escaped";
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("3 files extracted, 20 failed"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(Read(dir.File("box/out/good.txt")), "good.txt");
    EXPECT_EQ(Read(dir.File("box/out/dir/fine.txt")), "dir\\fine.txt");
    ASSERT_EQ(std::system(("rm -rf " + Quote(dir.File("box/out"))).c_str()), 0);
    EXPECT_EQ(Snapshot(dir.Path()), before) << "a file outside the output folder appeared or changed";

    // The EBCDIC code page is refused before anything is written; in 932 the trail
    // byte 0x5C does not separate folders.
    r = Vorx(dir, "x box/evil.vx -o box/out --codepage 500");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("code page 500 cannot be used for names"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(dir.Path()), before);
    r = Vorx(dir, "x box/evil.vx -o box/out --codepage 932");
    EXPECT_EQ(Read(dir.File("box/out/\xE3\x82\xBD/\xE3\x81\x82.txt")), "kana") << r.err;

    // Listings escape control bytes too, each in its own way.
    r = Vorx(dir, "l box/evil.vx");
    EXPECT_NE(r.out.find("esc\\x1B[2J.txt"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    r = Vorx(dir, "l box/evil.vx --json");
    EXPECT_NE(r.out.find("esc\\u001b[2J.txt"), std::string::npos) << r.out;
}

// Links that someone else put below the output folder (which may be a link itself):
// a folder link refuses the entries below it; a file's link or second (hard) link is
// replaced, never written through, whether the file comes from memory or is decoded
// straight into its file; links planted under the names temporary files once had are
// not used, by x nor by a. Nothing outside the output folder is created or changed.
TEST(VorxTool, LinksBelowTheOutputFolderAreNeverFollowed) {
    TempDir dir;
    std::string large;
    for (int i = 0; large.size() < (5u << 20); ++i) large += "line " + std::to_string(i) + " of a large entry\n";
    const std::pair<const char*, std::string> entries[] = {
        {"away\\new.txt", "through a folder link"}, {"away\\deeper\\new.txt", "deeper"},
        {"file.txt", "replaces a link"},             {"hard.txt", "replaces a hard link"},
        {"big.bin", large},                          {"sub\\big.bin", large},
        {"sub\\small.txt", "small"}};
    test::TestArchive archive;
    for (const auto& [name, content] : entries) archive.entries.emplace_back(name, test::ToBytes(content));
    test::WriteArchive(dir.File("links.vx"), archive);
    for (const char* folder : {"outside", "real", "real/sub"}) ASSERT_EQ(mkdir(dir.File(folder).c_str(), 0777), 0);
    Write(dir.File("outside/victim.txt"), "outside");
    Write(dir.File("outside/hard.txt"), "hard");
    Write(dir.File("real/sub/small.txt"), "old small");
    ASSERT_EQ(symlink("real", dir.File("out").c_str()), 0);
    ASSERT_EQ(symlink("../outside", dir.File("real/away").c_str()), 0);
    ASSERT_EQ(symlink("../outside/victim.txt", dir.File("real/file.txt").c_str()), 0);
    ASSERT_EQ(symlink("../outside/victim.txt", dir.File("real/big.bin").c_str()), 0);
    ASSERT_EQ(link(dir.File("outside/hard.txt").c_str(), dir.File("real/hard.txt").c_str()), 0);
    struct stat hard;
    ASSERT_EQ(stat(dir.File("outside/hard.txt").c_str(), &hard), 0);
    // The shell's process id is the tool's after exec.
    const std::string plant =
        "ln -s ../outside/victim.txt real/.vorx-$$.part && ln -s ../../outside/victim.txt real/sub/.vorx-$$.part && "
        "ln -s outside/victim.txt new.vx.part$$ && exec ";

    Result r = Vorx(dir, "x links.vx -o out", plant);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("refused 'away\\new.txt': 'out/away' is a link"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skipped 'out/file.txt'"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("1 file extracted, 4 skipped, 2 failed"), std::string::npos) << r.out;
    r = Vorx(dir, "x links.vx -o out -y", plant);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.out.find("5 files extracted, 2 failed"), std::string::npos) << r.out;
    r = Vorx(dir, "a new.vx links.vx", plant);
    EXPECT_EQ(r.code, 0) << r.err;

    EXPECT_TRUE(Read(dir.File("outside/victim.txt")) == "outside") << "the file outside was written";
    EXPECT_EQ(Read(dir.File("outside/hard.txt")), "hard");
    struct stat after;
    ASSERT_EQ(stat(dir.File("outside/hard.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, hard.st_ino);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(std::system(("test \"$(ls -A " + Quote(dir.File("outside")) + ")\" = \"$(printf 'hard.txt\\nvictim.txt')\"").c_str()), 0)
        << "something was created outside the output folder";
    struct stat replaced;
    for (const auto& [name, content] : {std::pair<const char*, std::string>{"real/file.txt", "replaces a link"},
                                        {"real/hard.txt", "replaces a hard link"}, {"real/big.bin", large},
                                        {"real/sub/big.bin", large}, {"real/sub/small.txt", "small"}}) {
        ASSERT_EQ(lstat(dir.File(name).c_str(), &replaced), 0) << name;
        EXPECT_TRUE(S_ISREG(replaced.st_mode)) << name;
        EXPECT_TRUE(Read(dir.File(name)) == content) << name;
    }
    // Only the planted links are left besides the entries.
    EXPECT_EQ(std::system(("test -z \"$(find " + Quote(dir.File("real")) + " -name '.vorx-*' ! -type l)\"").c_str()), 0);
    EXPECT_EQ(std::system(("test -z \"$(find " + Quote(dir.Path()) + " -name 'new.vx?*' ! -type l)\"").c_str()), 0);
}

// Files and folders of the same name, and entries written from memory beside one
// decoded straight into its file, in a fresh folder and again over the first result.
// Entries are extracted by name, and a name finds its first entry: a repeated name
// gets that entry's bytes again, whatever its own size.
TEST(VorxTool, EntriesAreWrittenInArchiveOrder) {
    TempDir dir;
    std::string huge;
    for (int i = 0; huge.size() < (9u << 20); ++i) huge += "block of a large file " + std::to_string(i) + "\n";
    test::TestArchive archive;
    const std::pair<const char*, std::string> entries[] = {
        {"dup.txt", "first"},   {"d\\one.txt", "1"},        {"dup.txt", "a longer second"},
        {"d", "a file d"},      {"f.txt", "f"},             {"f.txt\\inner.txt", "x"},
        {"huge.bin", huge},     {"sub\\dup.txt", "the third"},  {"sub\\dup.txt", "4th"},
        {"after.txt", "last"}};
    for (const auto& [name, content] : entries) {
        test::TestEntry e(name, test::ToBytes(content));
        e.time = 1400000000;
        archive.entries.push_back(e);
    }
    test::WriteArchive(dir.File("order.vx"), archive);
    for (const char* options : {"", " -y"}) {
        SCOPED_TRACE(options);
        const Result r = Vorx(dir, std::string("x order.vx -o out") + options);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("cannot write 'out/d': a folder of that name exists"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("cannot make the folder 'out/f.txt'"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("8 files extracted, 2 failed"), std::string::npos) << r.out;
        EXPECT_EQ(Read(dir.File("out/dup.txt")), "first");
        EXPECT_EQ(Read(dir.File("out/sub/dup.txt")), "the third");
        EXPECT_EQ(Read(dir.File("out/d/one.txt")), "1");
        EXPECT_EQ(Read(dir.File("out/f.txt")), "f");
        EXPECT_EQ(Read(dir.File("out/huge.bin")), huge);
        EXPECT_EQ(Read(dir.File("out/after.txt")), "last");
        EXPECT_EQ(MTime(dir.File("out/sub/dup.txt")), 1400000000);
        EXPECT_EQ(MTime(dir.File("out/huge.bin")), 1400000000);
        EXPECT_EQ(std::system(("test -z \"$(find " + Quote(dir.File("out")) + " -name '*.part')\"").c_str()), 0);
    }
    // Testing decodes each name's first entry too, into memory of its size.
    Result r = Vorx(dir, "t order.vx");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("10 entries tested, 0 failed"), std::string::npos) << r.out;
    // Without -y the files of the first run stay as they are.
    Write(dir.File("out/dup.txt"), "changed");
    r = Vorx(dir, "x order.vx -o out");
    EXPECT_EQ(Read(dir.File("out/dup.txt")), "changed");
    EXPECT_NE(r.err.find("skipped 'out/dup.txt'"), std::string::npos) << r.err;
}

// A file that cannot be written (here: beyond the process's file-size limit) is
// reported, leaves no file and no temporary file, and does not replace the file it
// was to replace; the files beside it are written.
TEST(VorxTool, AFailedWriteLeavesNothingBehind) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("src").c_str(), 0777), 0);
    std::string text, huge;
    for (int i = 0; text.size() < 400000; ++i) text += "line " + std::to_string(i) + " of a text\n";
    for (int i = 0; huge.size() < (9u << 20); ++i) huge += "line " + std::to_string(i) + " of a large file\n";
    Write(dir.File("src/a-small.txt"), "small");
    Write(dir.File("src/b-text.txt"), text);
    Write(dir.File("src/c-huge.txt"), huge);
    Write(dir.File("src/d-small.txt"), "small too");
    ASSERT_EQ(Vorx(dir, "a s.vx src").code, 0);
    // 128 blocks of 512 or 1024 bytes, as the shell counts them.
    const std::string limit = "trap '' XFSZ; ulimit -f 128; ";
    Result r = Vorx(dir, "x s.vx -o out", limit);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot write 'out/src/b-text.txt'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot extract 'src\\c-huge.txt'"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("2 files extracted, 2 failed"), std::string::npos) << r.out;
    EXPECT_EQ(Read(dir.File("out/src/a-small.txt")), "small");
    EXPECT_EQ(Read(dir.File("out/src/d-small.txt")), "small too");
    EXPECT_FALSE(Exists(dir.File("out/src/b-text.txt")));
    EXPECT_FALSE(Exists(dir.File("out/src/c-huge.txt")));
    EXPECT_EQ(std::system(("test \"$(ls -A " + Quote(dir.File("out/src")) + " | wc -l)\" -eq 2").c_str()), 0);

    Write(dir.File("out/src/b-text.txt"), "old");
    r = Vorx(dir, "x s.vx -o out -y", limit);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(Read(dir.File("out/src/b-text.txt")), "old");
    EXPECT_EQ(std::system(("test \"$(ls -A " + Quote(dir.File("out/src")) + " | wc -l)\" -eq 3").c_str()), 0);
    // Without the limit everything is written.
    r = Vorx(dir, "x s.vx -o out -y");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir.File("out/src/b-text.txt")), text);
    EXPECT_EQ(Read(dir.File("out/src/c-huge.txt")), huge);
}

// Ctrl+C while files are being written: the tool stops with 255, every file it leaves
// is complete, and no temporary file remains. (Should it finish first, it exits 0 with
// every file complete.)
TEST(VorxTool, InterruptedExtractionLeavesCompleteFilesOnly) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("src").c_str(), 0777), 0);
    constexpr int kFiles = 2000;
    const auto content = [](int i) {
        std::string text;
        for (int line = 0; text.size() < 4000; ++line)
            text += "file " + std::to_string(i) + " line " + std::to_string(line) + "\n";
        return text;
    };
    for (int i = 0; i < kFiles; ++i) Write(dir.File("src/f" + std::to_string(i)), content(i));
    ASSERT_EQ(Vorx(dir, "a -m1 many.vx src").code, 0);
    // Interrupted once the first file has appeared.
    const std::string script =
        "cd " + Quote(dir.Path()) + " && { " + Quote(VORX_TOOL_PATH) +
        " x many.vx -o out </dev/null >stdout.txt 2>stderr.txt & pid=$!; "
        "while [ -z \"$(ls -A out/src 2>/dev/null)\" ] && kill -0 $pid 2>/dev/null; do sleep 0.01; done; "
        "kill -INT $pid 2>/dev/null; wait $pid; echo $? > code.txt; }";
    ASSERT_EQ(std::system(script.c_str()), 0);
    const int code = std::atoi(Read(dir.File("code.txt")).c_str());
    EXPECT_TRUE(code == 255 || code == 0) << code;
    if (code == 255) {
        EXPECT_NE(Read(dir.File("stderr.txt")).find("interrupted"), std::string::npos);
    }
    int present = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir.File("out/src/f" + std::to_string(i));
        if (!Exists(path)) continue;
        ++present;
        EXPECT_EQ(Read(path), content(i)) << path;
    }
    EXPECT_EQ(std::system(("test \"$(ls -A " + Quote(dir.File("out/src")) + " | wc -l)\" -eq " +
                           std::to_string(present)).c_str()), 0)
        << "files other than the entries remain";
    if (code == 0) {
        EXPECT_EQ(present, kFiles);
    }
    std::printf("interrupted with exit code %d after %d of %d files\n", code, present, kFiles);
}

TEST(VorxTool, DamagedArchivesAreFatal) {
    TempDir dir;
    MakeTree(dir);
    ASSERT_EQ(Vorx(dir, "a d.vx src/sub/big.txt -m5").code, 0);
    std::string bytes = Read(dir.File("d.vx"));
    bytes[24 + 40 + 4 + 100] ^= 0x55;  // inside the first block's body
    Write(dir.File("d.vx"), bytes);
    Result r = Vorx(dir, "t d.vx");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("FAILED  big.txt"), std::string::npos) << r.out;
    r = Vorx(dir, "t src/readme.txt");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("holds no archive"), std::string::npos) << r.err;
    r = Vorx(dir, "l nothing-here.vx");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot find the archive"), std::string::npos);
}

// A code signature is appended behind the archive (an 8-byte aligned certificate table);
// what lies there, even a second archive signature, is not read as part of the archive.
TEST(VorxTool, BytesBehindTheArchiveAreIgnored) {
    TempDir dir;
    MakeTree(dir);
    ASSERT_EQ(Vorx(dir, "a d.vx src -m5").code, 0);
    const std::string archive = Read(dir.File("d.vx"));
    const Bytes noise = test::RandomBytes(1500, 3);
    std::string header(24, '\0');
    std::memcpy(&header[0], kMagic, 4);
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>(kVersionFormat2 >> (8 * i));
    for (const std::string& behind : {std::string(7, '\0') + std::string(noise.begin(), noise.end()),
                                      std::string(noise.begin(), noise.begin() + 700) + header +
                                          std::string(noise.begin(), noise.end())}) {
        Write(dir.File("signed.vx"), archive + behind);
        const Result listed = Vorx(dir, "l signed.vx");
        EXPECT_EQ(listed.code, 0) << listed.err;
        EXPECT_EQ(listed.out, Vorx(dir, "l d.vx").out);
        EXPECT_EQ(Vorx(dir, "t signed.vx").code, 0);
        const Result extracted = Vorx(dir, "x signed.vx -y -o out");
        ASSERT_EQ(extracted.code, 0) << extracted.err;
        EXPECT_EQ(Read(dir.File("out/src/sub/deeper/noise.dat")), Read(dir.File("src/sub/deeper/noise.dat")));
    }
}

// The progress line on a terminal of 72 columns (a pseudo-terminal made by script(1)):
// bar, percentage, bytes done of the total, rate and current file, never wider than
// the terminal; and nothing at all on standard error when it is not a terminal.
TEST(VorxTool, ProgressLineOnATerminalOnly) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("in").c_str(), 0777), 0);
    const std::string longName = "a-name-far-too-long-for-the-sixty-columns-of-this-terminal.bin";
    const Bytes data = test::RandomBytes(3 << 20, 9);
    Write(dir.File("in/" + longName), std::string(data.begin(), data.end()));
    Write(dir.File("in/z.txt"), std::string(1000, 'z'));
    for (const std::string command : {"a -m1 arch.vx in", "t arch.vx", "x arch.vx -o out"}) {
        SCOPED_TRACE(command);
        const std::string shell = "stty cols 72 rows 20; " + Quote(VORX_TOOL_PATH) + " " + command;
        const std::string run = "cd " + Quote(dir.Path()) + " && script -qec " + Quote(shell) + " /dev/null >tty.txt";
        ASSERT_EQ(std::system(run.c_str()), 0);
        std::vector<std::string> lines;
        std::string line;
        for (const char c : Read(dir.File("tty.txt"))) {
            if (c == '\r' || c == '\n') {
                if (line.rfind("[", 0) == 0) lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        ASSERT_FALSE(lines.empty());
        bool rate = false, cutName = false;
        for (const std::string& l : lines) {
            EXPECT_LE(l.size(), 71u) << l;
            EXPECT_NE(l.find("% "), std::string::npos) << l;
            EXPECT_NE(l.find(" of 3.0 MiB"), std::string::npos) << l;
            rate = rate || l.find("B/s") != std::string::npos;
            const size_t dots = l.rfind("...");
            const std::string tail = dots == std::string::npos ? "" : l.substr(dots + 3);
            cutName = cutName || (tail.size() >= 8 && longName.size() > tail.size() &&
                                  longName.compare(longName.size() - tail.size(), tail.size(), tail) == 0);
        }
        EXPECT_TRUE(rate);
        EXPECT_TRUE(cutName) << "the long name's end behind \"...\"";
        EXPECT_NE(lines.back().find("100%  3.0 MiB of 3.0 MiB"), std::string::npos) << lines.back();
    }
    const Result r = Vorx(dir, "t arch.vx");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
}

// The self-extractor through the tool, from the 64-bit stub when it has been built.
TEST(VorxTool, SelfExtractorFromTheStub) {
    const std::string stub = std::string(VORX_SOURCE_DIR) + "/build/win64/bin/sfxstub.exe";
    if (!Exists(stub)) GTEST_SKIP() << "the win64 stub is not built";
    TempDir dir;
    MakeTree(dir);
    Result r = Vorx(dir, "a setup.exe src --sfx " + Quote(stub) +
                             " --dest '%ProgramFiles%\\Example' --run 'src\\readme.txt' -m9");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string stubBytes = Read(stub);
    const std::string made = Read(dir.File("setup.exe"));
    ASSERT_GT(made.size(), stubBytes.size());
    // The stub part is the stub byte for byte, except its configuration block.
    size_t differing = 0, first = std::string::npos;
    for (size_t i = 0; i < stubBytes.size(); ++i)
        if (made[i] != stubBytes[i]) {
            ++differing;
            if (first == std::string::npos) first = i;
        }
    EXPECT_GT(differing, 0u);
    ASSERT_NE(first, std::string::npos);
    const size_t block = made.find("%ProgramFiles%\\Example");
    ASSERT_NE(block, std::string::npos);
    EXPECT_LE(block, first);
    EXPECT_LT(first + differing, block + 512 + 1);
    EXPECT_NE(made.find("src\\readme.txt", block), std::string::npos);
    // It opens as an archive and extracts.
    r = Vorx(dir, "x setup.exe -o out");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read(dir.File("out/src/sub/big.txt")), Read(dir.File("src/sub/big.txt")));
    // A self-extractor is no stub: it already carries an archive.
    r = Vorx(dir, "a again.exe src --sfx setup.exe");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(Exists(dir.File("again.exe")));
    // --dest of 256 bytes does not fit.
    r = Vorx(dir, "a long.exe src --sfx " + Quote(stub) + " --dest " + std::string(256, 'd'));
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.err.find("at most 255"), std::string::npos);
}

TEST(VorxTool, StubWithoutConfigurationSectionIsRefused) {
    TempDir dir;
    Write(dir.File("f.txt"), "x");
    Write(dir.File("notastub.exe"), std::string(4096, 'M'));
    const Result r = Vorx(dir, "a s.exe f.txt --sfx notastub.exe");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("the stub 'notastub.exe'"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File("s.exe")));
}

}  // namespace
}  // namespace vorx
