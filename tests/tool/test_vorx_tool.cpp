// The vorx tool from the outside, one row per run: shell set-up in a fresh folder, the
// command line, exit code, fragments of its output, a shell check of the folder after.
// Every run: no raw control byte printed, and nothing on standard error on success.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_support.h"

namespace vorx {
namespace {

struct Row {
    std::string setup;  // shell; its last command may leave settings (ulimit) for the tool
    std::string args;
    int code;  // -1: `after` judges it ($code)
    std::vector<std::string> out = {}, err = {};
    std::string after = "";
};

// Shared by every row: $VORX, the folder $A of prepared files, `vorx` for set-up runs,
// `snap DIR` (every path outside DIR, and the checksum of every file there), and the
// tree src/ (folders, an empty file, text, random bytes, two fixed times).
const char* const kPrelude = R"(vorx() { "$VORX" "$@" </dev/null; }
snap() { find . -path "./$1" -prune -o ! -name 'std*.txt' ! -name '*.snap' -print | sort
         find . -path "./$1" -prune -o -type f ! -name 'std*.txt' ! -name '*.snap' -print | sort | xargs -r sha1sum; }
mkdir -p src/sub/deeper && printf 'hello\nthis is a small text file\n' >src/readme.txt && : >src/empty.bin &&
seq -f 'line %g of the archive test' 4000 >src/sub/big.txt && head -c 70000 "$A/noise" >src/sub/deeper/noise.dat &&
touch -d @1500000000 src/readme.txt && touch -d @1600000000 src/sub/big.txt || exit 98
)";

std::unique_ptr<test::TempDir> gShared;

class VorxTool : public ::testing::Test {
protected:
    // Archives no `vorx a` would write (one with a 9 MiB entry), and noise.
    static void SetUpTestSuite() {
        gShared = std::make_unique<test::TempDir>();
        for (const auto& [name, value] : {std::pair<const char*, std::string>{"VORX", VORX_TOOL_PATH}, {"A", gShared->Path()}, {"STUB", VORX_STUB}})
            setenv(name, value.c_str(), 1);
        test::WriteFile(gShared->File("noise"), test::RandomBytes(3 << 20, 9));
        std::string huge;
        for (int i = 0; huge.size() < (9u << 20); ++i) huge += "block of a large file " + std::to_string(i) + "\n";
        test::WriteFile(gShared->File("huge"), huge);
        test::TestArchive order, evil;
        for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
                 {"dup.txt", "first"}, {"d\\one.txt", "1"}, {"dup.txt", "a longer second"}, {"DUP.txt", "twin"}, {"d", "a file d"},
                 {"f.txt", "f"}, {"f.txt\\inner.txt", "x"}, {"huge.bin", huge}, {"sub\\dup.txt", "the third"},
                 {"sub\\dup.txt", "4th"}, {"after.txt", "last"}})
            order.entries.emplace_back(name, test::ToBytes(content)).time = 1400000000;
        test::WriteArchive(gShared->File("order.vx"), order);
        for (const auto& [name, reason] : HostileNames()) evil.entries.emplace_back(name, test::ToBytes(name));
        for (const char* name : {"good.txt", "dir\\fine.txt"}) evil.entries.emplace_back(name, test::ToBytes(name));
        // "..\..\evil.txt" in EBCDIC (code page 500: '.' is 0x4B, '\' is 0xE0); two characters
        // of code page 932, the first with the trail byte 0x5C.
        evil.entries.emplace_back("\x4B\x4B\xE0\x4B\x4B\xE0\x85\xA5\x89\x93\x4B\xA3\xA7\xA3", test::ToBytes("ebcdic"));
        evil.entries.emplace_back("\x83\x5C\\\x82\xA0.txt", test::ToBytes("kana"));
        test::WriteArchive(gShared->File("evil.vx"), evil);
        test::TestArchive longName;  // longer than any name the format can give back
        longName.entries.emplace_back(std::string(300, 'n'), test::ToBytes("long"));
        test::WriteArchive(gShared->File("long.vx"), longName);
    }
    static void TearDownTestSuite() { gShared.reset(); }

    // The table of names no extraction may write (tests/tool/hostile_names.txt, which the
    // vorx.exe and self-extractor runs read too): each name and the words of its reason.
    static std::vector<std::pair<std::string, std::string>> HostileNames() {
        std::vector<std::pair<std::string, std::string>> names;
        std::string text = test::ReadText(VORX_HOSTILE_NAMES), line;
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = std::min(text.find('\n', at), text.size());
            line = text.substr(at, end - at);
            if (line.empty() || line[0] == '#') continue;
            std::string name;
            for (size_t i = 0; i < line.find('\t'); ++i) {
                const bool escape = line[i] == '\\' && i + 1 < line.size();
                if (escape && line[i + 1] == 'x') {
                    name += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                    i += 3;
                } else {
                    name += escape ? (line[++i] == 't' ? '\t' : line[i]) : line[i];
                }
            }
            names.emplace_back(name, line.substr(line.find('\t') + 1));
        }
        return names;
    }

    static void Run(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.setup + "\n$ vorx " + row.args);
            test::TempDir dir;
            setenv("D", dir.Path().c_str(), 1);
            const std::string env = std::string("cd \"$D\"\n") + kPrelude;
            const std::string run = env + "{ :; " + row.setup + "\n} >setup.log 2>&1 || { cat setup.log; exit 99; }\n" +
                                    "exec \"$VORX\" " + row.args + " </dev/null >stdout.txt 2>stderr.txt";
            const int status = std::system(run.c_str());
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            ASSERT_NE(code, 99) << "set-up failed";
            const std::string out = test::ReadText(dir.File("stdout.txt")), err = test::ReadText(dir.File("stderr.txt"));
            EXPECT_TRUE(row.code < 0 || code == row.code) << code << "\n" << out << err;
            for (const std::string& s : row.out) EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
            for (const std::string& s : row.err) EXPECT_NE(err.find(s), std::string::npos) << s << "\n" << err;
            EXPECT_EQ((out + err).find('\x1b'), std::string::npos) << "a control byte printed raw";
            EXPECT_TRUE(code != 0 || err.empty()) << err;
            const std::string after = env + "code=" + std::to_string(code) + "\n" + row.after;
            EXPECT_TRUE(row.after.empty() || std::system(after.c_str()) == 0) << row.after << "\n" << out << err;
        }
    }
};

const std::string kNoOut = "! test -e out.vx";

TEST_F(VorxTool, CommandLine) {
    Run({
        {"", "--help", 0, {"vorx a ARCHIVE PATH..."}},
        {"", "a --help", 0, {"Usage: vorx a", "legacy-strength"}},
        {"", "", 7, {}, {"no command given"}},
        {"", "q archive", 7, {}, {"unknown command 'q'"}},
        {"", "a", 7, {}, {"no archive given"}},
        {"", "a out.vx", 7, {}, {"no files or folders to add"}, kNoOut},
        {"", "a out.vx src --bogus", 7, {}, {"unknown option '--bogus'"}, kNoOut},
        {"", "l out.vx -m5", 7, {}, {"does not apply"}},
        {"", "a out.vx src -p", 7, {}, {"needs a value"}, kNoOut},
        {"", "a out.vx src -p short", 7, {}, {"at least 6"}, kNoOut},
        {"", "a out.vx src -p " + std::string(64, 'p'), 7, {}, {"at most 63"}, kNoOut},
        {"", "a out.vx src --encrypt-names", 7, {}, {"needs a password"}, kNoOut},
        {"", "a out.vx src --dest 'C:\\x'", 7, {}, {"need --sfx"}, kNoOut},
        {"", "a out.vx src --codepage abc", 7, {}, {"code page number"}, kNoOut},
        {"", "--version out.vx", 7, {}, {"unexpected argument"}},
    });
}

TEST_F(VorxTool, AddListTestExtract) {
    const std::string same = "diff -r src out/src && [ \"$(ls -A out)\" = src ] && "
                             "[ $(stat -c %Y out/src/readme.txt) = 1500000000 ] && "
                             "[ $(stat -c %Y out/src/sub/big.txt) = 1600000000 ]";
    Run({
        // Options after the paths as well as before them.
        {"vorx a o.vx src -m0", "x o.vx -o out", 0, {}, {}, same},
        {"vorx a -m9 o.vx src", "x o.vx -o out", 0, {}, {}, same},
        {"vorx a o.vx src", "l o.vx", 0, {"src\\sub\\deeper\\noise.dat", "src\\empty.bin", "2017-07-14 02:40:00"}},
        {"vorx a o.vx src -m1", "t o.vx", 0, {"4 entries tested, 0 failed"}},
        // Names are relative to each path's parent.
        {"vorx a o.vx src/sub/big.txt ./src/sub/deeper/ src/../src/readme.txt", "l o.vx --json", 0,
         {"\"name\":\"big.txt\"", "\"name\":\"deeper\\\\noise.dat\"", "\"name\":\"readme.txt\"", "\"count\":3",
          "\"modified\":\"2020-09-13T12:26:40Z\""}},
        // An existing file: kept without -y (1), replaced with it; the same for the archive.
        {"vorx a o.vx src && vorx x o.vx -o out && echo changed >out/src/readme.txt", "x o.vx -o out", 1, {},
         {"exists (use -y to replace)"}, "[ \"$(cat out/src/readme.txt)\" = changed ]"},
        {"vorx a o.vx src && vorx x o.vx -o out && echo changed >out/src/readme.txt", "x -y o.vx -o out", 0, {}, {},
         same},
        {"echo keep me >o.vx", "a o.vx src", 2, {}, {"exists; add -y"}, "[ \"$(cat o.vx)\" = 'keep me' ]"},
        {"vorx a o.vx src", "a o.vx src/readme.txt -y", 0, {}, {}, "vorx l o.vx | grep -q '1 entry'"},
        // Damage is fatal, and leaves no half-written file.
        {"vorx a d.vx src/sub/big.txt -m5 && b=$(od -An -tu1 -j168 -N1 d.vx) && "
         "printf \"\\\\$(printf %o $((b ^ 85)))\" | dd of=d.vx bs=1 seek=168 conv=notrunc",
         "x d.vx -o out", 2, {}, {}, "! test -e out/big.txt && vorx t d.vx | grep -q 'FAILED  big.txt'"},
        {"", "t src/readme.txt", 2, {}, {"holds no archive"}},
        {"", "l none.vx", 2, {}, {"cannot find the archive"}},
    });
}

// Comments get carriage returns (34 bytes from 32); the comment is never encrypted.
TEST_F(VorxTool, Passwords) {
    const std::string both = "printf 'Welcome\\nto the setup\\r\\nof things\\n' >c.txt && "
                             "vorx a -p 'pass word' --encrypt-names --comment c.txt e.vx src";
    const std::string data = "vorx a -p secret -m1 d.vx src";
    Run({
        {both, "l e.vx", 2, {}, {"give the password with -p"}},
        {both, "l e.vx -p 'wrong one'", 2, {}, {"wrong password"}},
        {both, "l e.vx -p 'pass word' --json", 0,
         {"{\"name\":\"$comments$\",\"size\":34,", "\"encrypted\":false", "\"encrypted\":true"}},
        {both, "x e.vx -o out -p 'pass word'", 0, {}, {},
         "diff -r src out/src && [ \"$(ls -A out)\" = src ] && vorx t e.vx -p 'pass word' | grep -q '5 entries tested, 0 failed'"},
        {data, "x d.vx -o out -p wrongpass", 2, {}, {},
         "! test -e out/src/sub/big.txt && vorx t d.vx | grep -q 'give the password with -p'"},
    });
}

TEST_F(VorxTool, AddRefusesNamesWindowsCannotHoldAndWritesNothing) {
    std::vector<Row> rows = {
        {"echo 1 >'$comments$'", "a out.vx src '$comments$'", 2, {}, {"reserved for the comment"}, kNoOut},
        {"mkdir o && echo 2 >o/readme.txt", "a out.vx src/readme.txt o/readme.txt", 2, {},
         {"two entries would have this name"}, kNoOut},
        {"mkdir -p o/SRC && echo 1 >o/SRC/f.txt && echo 2 >src/sub/src", "a out.vx src/sub o/SRC src/sub/src", 2, {},
         {"cannot hold this file beside the folder of 'SRC/f.txt'"}, kNoOut},
        {"", "a out.vx no-such-file", 2, {}, {"cannot find 'no-such-file'"}, kNoOut},
        // Letters beyond Latin-1 fold too: U+0100 and U+0101 are one file on Windows.
        {"mkdir in && echo 1 >in/\xC4\x80 && echo 2 >in/\xC4\x81", "a out.vx in --codepage 65001", 2, {},
         {"the same file as", "nothing written"}, kNoOut},
        {"head -c 4096 /dev/zero | tr '\\0' M >no.exe", "a out.vx src --sfx no.exe", 2, {}, {"the stub 'no.exe'", "not a Windows executable"}, kNoOut},
    };
    // Beside ok.txt and "ÉTÉ": "été" is the same file on Windows, also beyond ASCII.
    for (const auto& [file, message] : std::vector<std::pair<std::string, const char*>>{
             {"bad\\name.txt", "Windows takes for a separator"}, {"colon:name.txt", "no Windows file name may hold"},
             {"pipe|name.txt", "no Windows file name may hold"}, {"esc\x1b[2J.txt", "control character"},
             {"trailing.", "ends in '.' or a blank"}, {"nul", "device name"}, {"COM1.txt", "device name"},
             {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "cannot hold"}, {std::string(240, 'n'), "longer than 239 bytes"},
             {"OK.TXT", "the same file as"}, {"\xC3\xA9t\xC3\xA9", "the same file as"}})
        rows.push_back({"mkdir in && echo 1 >in/ok.txt && echo 2 >in/\xC3\x89T\xC3\x89 && echo 3 >in/'" + file + "'",
                        "a out.vx in", 2, {}, {message, "nothing written"}, kNoOut});
    Run(rows);
}

// Names are stored in the code page (1252 unless given) and come back in UTF-8.
TEST_F(VorxTool, CodePagesConvertNamesBothWays) {
    const std::string latin = "mkdir in && echo latin >'in/caf\xC3\xA9 \xE2\x82\xAC.txt'";
    const std::string cyrillic = "mkdir in && echo cyrillic >'in/\xD0\x96\xD1\x83\xD0\xBA.txt'";
    Run({
        {latin, "a w.vx in", 0, {}, {},
         "grep -qaF \"$(printf 'in\\\\caf\\351 \\200.txt')\" w.vx && vorx x w.vx -o out && diff -r in out/in"},
        {cyrillic, "a w.vx in", 2, {}, {"code page 1252 cannot hold"}, "! test -e w.vx"},
        {cyrillic + " && vorx a w.vx in --codepage 1251", "x w.vx -o out --codepage=1251", 0, {}, {},
         "grep -qaF \"$(printf 'in\\\\\\306\\363\\352.txt')\" w.vx && diff -r in out/in"},
        // Without -o, into the current folder.
        {cyrillic + " && vorx a w.vx in --codepage 65001 && mv in old", "x w.vx --codepage 65001", 0, {}, {},
         "diff -r old in"},
    });
}

// Names no extraction may write are refused with their reason; the rest are written, and
// nothing outside the output folder appears or changes.
TEST_F(VorxTool, ExtractionWritesOnlyNamesTheRuleAccepts) {
    const std::string box = "mkdir box && echo kept >box/evil.txt && cp \"$A/evil.vx\" box && snap box/out >before.snap";
    const std::string intact = "[ \"$(snap box/out)\" = \"$(cat before.snap)\" ]";
    std::vector<std::string> refused = {"refused 'esc\\x1B[2J.txt': the name has a control character"};
    const auto hostile = HostileNames();
    for (const auto& [name, reason] : hostile) {
        refused.push_back(reason);
        if (name.find_first_of("\x1b\t\x81\x9d\xb9") == std::string::npos) refused.push_back("refused '" + name + "': ");
    }
    const std::string counts = "3 files extracted, " + std::to_string(hostile.size() + 1) + " failed";
    Run({
        {box, "x box/evil.vx -o box/out", 2, {counts}, refused,
         intact + " && [ \"$(cat box/out/good.txt)\" = good.txt ] && [ \"$(cat box/out/dir/fine.txt)\" = 'dir\\fine.txt' ]"
                  " && [ $(find box/out -type f | wc -l) = 3 ]"},
        // EBCDIC is refused before anything is written; in 932 the trail byte 0x5C
        // separates nothing.
        {box, "x box/evil.vx -o box/out --codepage 500", 2, {}, {"code page 500 cannot be used for names"},
         intact + " && ! test -e box/out"},
        {box, "x box/evil.vx -o box/out --codepage 932", 2, {}, {}, intact + " && [ \"$(cat box/out/\xE3\x82\xBD/\xE3\x81\x82.txt)\" = kana ]"},
        {box, "l box/evil.vx", 0, {"esc\\x1B[2J.txt"}},
        {box, "l box/evil.vx --json", 0, {"esc\\u001b[2J.txt"}},
        {"cp \"$A/long.vx\" .", "l long.vx", 2, {}, {"cannot read entry 0: its name is missing from the names table or longer than the 255 bytes"}},
    });
}

// Links below the output folder (itself a link): one at a folder's name refuses the
// entries below; a file's link or hard link is replaced, never written through; links
// planted at temporary names ($$ is the tool's process id) go unused. Nothing outside changes.
TEST_F(VorxTool, LinksBelowTheOutputFolderAreNeverFollowed) {
    const std::string links =
        "mkdir -p lk/away/deeper lk/sub lk/tofile lk/dangling outside real/sub && echo 'through a link' >lk/away/new.txt && "
        "echo x >lk/tofile/x.txt && echo y >lk/dangling/y.txt && "
        "echo deeper >lk/away/deeper/new.txt && echo 'replaces a link' >lk/file.txt && "
        "echo 'replaces a hard link' >lk/hard.txt && seq 900000 >lk/big.bin && cp lk/big.bin lk/sub && "
        "echo small >lk/sub/small.txt && vorx a links.vx lk/away lk/file.txt lk/hard.txt lk/big.bin lk/sub lk/tofile lk/dangling && "
        "rm -r lk && echo outside >outside/victim.txt && echo hard >outside/hard.txt && echo old >real/sub/small.txt && "
        "ln -s real out && ln -s ../outside real/away && ln -s ../outside/victim.txt real/file.txt && "
        "ln -s ../outside/victim.txt real/big.bin && ln outside/hard.txt real/hard.txt && "
        "ln -s ../outside/victim.txt real/tofile && ln -s ../outside/none real/dangling && "
        "ln -s ../outside/victim.txt real/.vorx-$$.part && ln -s ../../outside/victim.txt real/sub/.vorx-$$.part && "
        "ln -s outside/victim.txt new.vx.part$$";
    const std::string intact =
        "[ \"$(cat outside/victim.txt outside/hard.txt)\" = \"$(printf 'outside\\nhard')\" ] && "
        "[ \"$(ls -A outside | tr '\\n' ' ')\" = 'hard.txt victim.txt ' ] && "
        "[ -z \"$(find real -name '.vorx-*' ! -type l)\" ] && [ -z \"$(find . -name 'new.vx?*' ! -type l)\" ]";
    Run({
        {links, "x links.vx -o out", 2, {"1 file extracted, 4 skipped, 4 failed"},
         {"refused 'away\\new.txt': 'out/away' is a link", "refused 'tofile\\x.txt': 'out/tofile' is a link",
          "refused 'dangling\\y.txt': 'out/dangling' is a link", "skipped 'out/file.txt'"},
         intact + " && [ \"$(cat real/sub/small.txt)\" = old ]"},
        {links, "x links.vx -o out -y", 2, {"5 files extracted, 4 failed"}, {},
         intact + " && [ $(stat -c %h outside/hard.txt) = 1 ] && for f in file.txt hard.txt big.bin sub/big.bin "
                  "sub/small.txt; do [ -f real/$f ] && [ ! -L real/$f ] || exit 1; done && "
                  "[ \"$(cat real/file.txt real/hard.txt real/sub/small.txt)\" = "
                  "\"$(printf 'replaces a link\\nreplaces a hard link\\nsmall')\" ] && "
                  "seq 900000 | cmp - real/big.bin && seq 900000 | cmp - real/sub/big.bin"},
        {links, "a new.vx links.vx", 0, {}, {}, intact + " && vorx t new.vx >/dev/null"},
    });
}

// A name seen before (letter case ignored, as on Windows) is refused, never written over the
// first entry's file; a file and a folder of one name fail alone.
TEST_F(VorxTool, EntriesAreWrittenInArchiveOrder) {
    const std::string copy = "cp \"$A/order.vx\" .";
    const std::string tree =
        "[ \"$(cat out/dup.txt out/sub/dup.txt out/d/one.txt out/f.txt out/after.txt)\" = "
        "'firstthe third1flast' ] && cmp out/huge.bin \"$A/huge\" && "
        "[ $(stat -c %Y out/sub/dup.txt) = 1400000000 ] && [ $(stat -c %Y out/huge.bin) = 1400000000 ] && "
        "[ $(find out -type f | wc -l) = 6 ]";
    const std::vector<std::string> failed = {"cannot write 'out/d': a folder of that name exists",
                                             "cannot make the folder 'out/f.txt'",
                                             "refused 'DUP.txt': an earlier entry has this name",
                                             "refused 'sub\\dup.txt': an earlier entry has this name"};
    Run({
        {copy, "x order.vx -o out", 2, {"6 files extracted, 5 failed"}, failed, tree},
        {copy + " && { vorx x order.vx -o out; :; }", "x order.vx -o out -y", 2, {"6 files extracted, 5 failed"}, failed, tree},
        {copy, "t order.vx", 0, {"11 entries tested, 0 failed"}},
    });
}

// A file beyond the file-size limit fails alone, leaving no temporary and the old file.
TEST_F(VorxTool, AFailedWriteLeavesNothingBehind) {
    const std::string files = "mkdir s && echo small >s/a-small.txt && seq 70000 >s/b-text.txt && "
                              "seq 1300000 >s/c-huge.txt && echo small too >s/d-small.txt && vorx a s.vx s";
    const std::string limit = " && trap '' XFSZ && ulimit -f 128";
    Run({
        {files + limit, "x s.vx -o out", 2, {"2 files extracted, 2 failed"},
         {"cannot write 'out/s/b-text.txt'", "cannot extract 's\\c-huge.txt'"},
         "[ \"$(ls -A out/s | tr '\\n' ' ')\" = 'a-small.txt d-small.txt ' ] && cmp s/a-small.txt out/s/a-small.txt && "
         "cmp s/d-small.txt out/s/d-small.txt"},
        {files + " && mkdir -p out/s && echo old >out/s/b-text.txt && echo old >out/s/c-huge.txt" + limit,
         "x s.vx -o out -y", 2, {}, {},
         "[ \"$(cat out/s/b-text.txt out/s/c-huge.txt)\" = \"$(printf 'old\\nold')\" ] && [ $(ls -A out/s | wc -l) = 4 ]"},
    });
}

// Ctrl+C once a's temporary appears: 255 and nothing left (x's interrupts are in the
// parallel test).
TEST_F(VorxTool, InterruptedAddLeavesNothing) {
    Run({{"cat \"$A/huge\" \"$A/huge\" >big || exit 99\n(for i in $(seq 1000); do ls -A | grep -q '^[.]vorx-' && break; sleep 0.01; done; "
          "kill -INT $$) &",
          "a -m9 -j 2 o.vx big", 255, {}, {"interrupted; nothing written"}, "[ \"$(ls -A | grep -c 'o.vx\\|^[.]vorx-')\" = 0 ]"}});
}

// The archive is the same for every thread count, level and password: files of several
// 4 MiB blocks (one of exactly one block, whose compressor must not reach the next entry)
// beside small ones; -m9 on the small ones alone, for time.
TEST_F(VorxTool, ArchivesAreTheSameOnEveryCore) {
    std::vector<Row> rows;
    const std::string big = "mkdir t && cp -r src t/ && cp \"$A/huge\" t/huge.txt && head -c 4194304 \"$A/huge\" >t/exact";
    const std::vector<std::tuple<std::string, std::string, std::string>> table = {
        {big, "-m0", ""}, {big, "-m1 --encrypt-names", "-p 'pass word'"}, {big, "-m5", ""}, {"mkdir t && cp -r src t/", "-m9", "-p secret"}};
    for (const auto& [tree, options, password] : table)
        rows.push_back({tree, "a j1.vx t -j 1 " + options + " " + password, 0, {}, {},
                        "for j in '-j 2' '-j 4' ''; do vorx a jn.vx t $j " + options + " " + password +
                            " >/dev/null && cmp j1.vx jn.vx && rm jn.vx || exit 1; done && "
                            "vorx t j1.vx " + password + " | grep -q ', 0 failed'"});
    Run(rows);
}

// Patterns of l, t and x on stored names; -x and list files for a; code page 932 names
// (a trail byte 0x5C in ソ), which a takes with --codepage.
TEST_F(VorxTool, PatternsChooseEntries) {
    const std::string tree = "mkdir -p 'p/a b/c d' p/sub/deeper && echo 1 >'p/a b/c d/e f.txt' && echo 2 >p/sub/deeper/x.TXT && "
                             "echo 3 >p/sub/y.bin && echo 4 >p/top.txt && vorx a p.vx p";
    const std::string kana = "mkdir -p k/\xE3\x82\xBD && echo a >k/\xE3\x82\xBD/a.txt && echo b >k/\xE8\xA1\xA8";
    const std::string list = "printf 'p/top.txt\\r\\n\\np/a b/c d/e f.txt\\n' >list";
    Run({
        {tree, "l p.vx 'P/A B'", 0, {"p\\a b\\c d\\e f.txt", "1 entry"}},
        {tree, "l p.vx '*.txt' -x p/sub", 0, {"e f.txt", "top.txt", "2 entries"}},
        {tree, "t p.vx 'p/sub/*/?.txt' --json", 0, {"\"name\":\"p\\\\sub\\\\deeper\\\\x.TXT\"", "\"tested\":1,"}},
        {tree, "x p.vx p/sub -x '*.bin' -o out", 0, {"1 file extracted"}, {}, "[ \"$(find out -type f)\" = out/p/sub/deeper/x.TXT ]"},
        {tree, "l p.vx nothing p/top.txt", 1, {"1 entry"}, {"no entry matches 'nothing'"}},
        {tree, "x p.vx '*.exe' -o out", 1, {"0 files extracted"}, {"no entry matches '*.exe'"}, "! test -e out/p"},
        {tree, "a q.vx p -x p/sub -x '*/E F.TXT'", 0, {"1 file"}, {}, "vorx l q.vx | grep -q 'p.top.txt'"},
        {tree + " && " + list, "a q.vx @list p/sub/y.bin", 0, {"3 files"}, {},
         "vorx l q.vx >l.txt && grep -q 'top.txt' l.txt && grep -q '  e f.txt' l.txt && grep -q '  y.bin' l.txt"},
        {"", "a q.vx @missing", 2, {}, {"cannot read the list 'missing': No such file or directory", "nothing written"}, kNoOut},
        {kana, "a k.vx k --codepage 932", 0, {"2 files"}, {}, "vorx x k.vx --codepage 932 -o out && diff -r k out/k"},
        {kana + " && vorx a k.vx k --codepage 932", "x k.vx --codepage 932 'K/\xE3\x82\xBD' -o out", 0, {"1 file extracted"}, {},
         "[ \"$(find out -type f)\" = out/k/\xE3\x82\xBD/a.txt ]"},
        {kana + " && vorx a k.vx k --codepage 932", "l k.vx --codepage 932 'k/\xE8\xA1\xA8' 'k/?/*'", 0, {"2 entries"}},
    });
}

// Below a path given, links, FIFOs and sockets are left out (exit 1) and the rest archived;
// a path given that is a link is followed.
TEST_F(VorxTool, AddLeavesOutWhatAnArchiveCannotHold) {
    const std::string tree = "mkdir -p d/real && echo a >d/a.txt && echo r >d/real/r.txt && mkfifo d/fifo && "
                             "ln -s /dev/zero d/zero && ln -s nowhere d/dangling && ln -s real d/folder && "
                             "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"d/sock\")' && "
                             "ln -s d/a.txt named.txt && ln -s d named";
    Run({
        {tree, "a o.vx d", 1, {"2 files"},
         {"'d/fifo' is not a regular file", "'d/zero' is a link, left out: an archive cannot hold a link",
          "'d/dangling' is a link", "'d/folder' is a link", "'d/sock' is not a regular file"},
         "vorx l o.vx | grep -q '2 entries'"},
        {tree, "a o.vx named.txt named -x named/fifo -x '*/zero' -x '*/sock' -x named/dangling -x named/folder", 0,
         {"3 files"}, {}, "vorx l o.vx >l.txt && grep -q '  named.txt' l.txt && grep -q 'named.real.r.txt' l.txt"},
    });
}

// A failure of the system is told in the system's words: a file where a folder must go.
TEST_F(VorxTool, FailuresNameTheSystemsReason) {
    Run({
        {"echo x >f", "a f/o.vx src", 2, {}, {"cannot create a file beside 'f/o.vx': Not a directory"}},
        {"echo x >f && vorx a o.vx src", "x o.vx -o f/out", 2, {}, {"cannot make the folder 'f': File exists"}},
    });
}

// As an unprivileged user (root passes every permission): folders that may not be written
// and a file that may not be read.
TEST_F(VorxTool, UnprivilegedFailuresNameTheReason) {
    if (geteuid() != 0 || std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv to run the tool as the user nobody";
    // The tool runs as nobody ($VORX is a wrapper), from a copy it may read.
    const std::string nobody = "chmod 755 . && cp \"$VORX\" ./vorx-copy && vorx a o.vx src && mkdir -p ro/src && "
                               "chmod 555 ro ro/src && chmod 000 src/readme.txt && "
                               "printf '#!/bin/sh\\nexec setpriv --reuid=65534 --regid=65534 --clear-groups %s \"$@\"\\n' "
                               "\"$PWD/vorx-copy\" >as-nobody && chmod 755 as-nobody && VORX=$PWD/as-nobody";
    Run({
        {nobody, "x o.vx -o ro/new", 2, {}, {"cannot make the folder 'ro/new': Permission denied"}},
        {nobody, "x o.vx -o ro", 2, {}, {"cannot write 'ro/src/readme.txt': Permission denied"}},
        {nobody, "a ro/n.vx src", 2, {}, {"cannot create a file beside 'ro/n.vx': Permission denied"}},
        {nobody + " && mkdir -m 777 w", "a w/n.vx src", 1, {"3 files"}, {"cannot open 'src/readme.txt': Permission denied, left out"}},
    });
}

// A full disk says how much was needed and how much was free: a tmpfs of 512 KiB, where
// this machine lets the test mount one.
TEST_F(VorxTool, AFullDiskSaysWhatWasNeededAndFree) {
    test::TempDir probe;
    if (std::system(("mount -t tmpfs -o size=64k tmpfs '" + probe.Path() + "' 2>/dev/null && umount '" + probe.Path() + "'").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string full = "mkdir in && head -c 3000000 \"$A/noise\" >in/noise && cp \"$A/huge\" in/huge && "
                             "vorx a -m0 o.vx in && mkdir small && mount -t tmpfs -o size=512k tmpfs small";
    const std::string unmount = "r=$?; umount small; exit $r";
    Run({
        {full, "x o.vx -o small", 2, {}, {"cannot write 'small/in/noise': No space left on device (2.9 MiB needed, ",
                                         "cannot extract 'in\\huge': Out of disk space (9.0 MiB needed, "}, "true; " + unmount},
        {full, "a small/n.vx in -m0", 2, {}, {"cannot write 'small/n.vx': No space left on device (at least ", " free)"}, "! test -e small/n.vx; " + unmount},
    });
}

// The progress line on a 72-column terminal, never wider than 71 columns; off one, nothing.
TEST_F(VorxTool, ProgressLineOnATerminalOnly) {
    Run({{"mkdir in && head -c 3145728 \"$A/noise\" >in/a-name-far-too-long-for-the-sixty-columns-of-this-terminal.bin "
          "&& echo z >in/z.txt && vorx a -m1 arch.vx in",
          "t arch.vx", 0, {}, {},
          "for c in 'a -y -m1 arch.vx in' 't arch.vx' 'x -y arch.vx -o out'; do "
          "script -qec \"stty cols 72 rows 20; '$VORX' $c\" /dev/null | tr '\\r' '\\n' | grep '^\\[' >lines && "
          "! grep -q '.\\{72\\}' lines && [ -z \"$(grep -v '% .* of 3.0 MiB' lines)\" ] && grep -q 'B/s' lines && "
          "grep -q '\\.\\.\\.[a-z-]\\{8,\\}-terminal\\.bin' lines && "
          "tail -n 1 lines | grep -q '100%  3.0 MiB of 3.0 MiB' || { echo \"$c\"; cat lines; exit 1; }; done"}});
}

// A self-extractor is the 64-bit stub byte for byte but its 512-byte configuration, then the archive.
TEST_F(VorxTool, SelfExtractorFromTheStub) {
    if (access(VORX_STUB, R_OK) != 0) GTEST_SKIP() << VORX_STUB << " is not built";
    const std::string sfx = "a setup.exe src --sfx \"$STUB\" --dest '%ProgramFiles%\\Example' --run 'src\\readme.txt' -m9";
    Run({
        {"", sfx, 0, {}, {},
         "at=$(grep -obaF '%ProgramFiles%\\Example' setup.exe | head -n 1 | cut -d: -f1) && [ -n \"$at\" ] && "
         "[ $(grep -obaF 'src\\readme.txt' setup.exe | head -n 1 | cut -d: -f1) = $((at + 256)) ] && "
         "[ $(stat -c %s setup.exe) -gt $(stat -c %s \"$STUB\") ] && cmp -l \"$STUB\" setup.exe 2>/dev/null | "
         "awk -v at=$at '$1 - 1 < at || $1 - 1 >= at + 512 { bad = 1 } END { exit bad || NR == 0 }' && "
         "vorx x setup.exe -o out >/dev/null && diff -r src out/src"},
        // A self-extractor is no stub: it already carries an archive.
        {"vorx " + sfx, "a again.exe src --sfx setup.exe", 2, {}, {"already carries an archive"}, "! test -e again.exe"},
        {"", "a long.exe src --sfx \"$STUB\" --dest " + std::string(256, 'd'), 7, {}, {"at most 255"},
         "! test -e long.exe"},
        {"", "a long.exe src --sfx \"$STUB\" --dest " + std::string(255, 'd'), 0, {}, {}, "grep -qaF " + std::string(255, 'd') + " long.exe"},
        // Cut short, in its program image or in its archive: incomplete, and nothing is
        // extracted; the stub itself holds no archive at all.
        {"vorx " + sfx + " && head -c 5000 setup.exe >cut.exe", "l cut.exe", 2, {}, {"is incomplete", "get it again"}},
        {"vorx " + sfx + " && head -c $(($(stat -c %s setup.exe) - 1)) setup.exe >cut.exe", "x cut.exe -o out", 2,
         {}, {"is incomplete"}, "! test -e out"},
        {"", "l \"$STUB\"", 2, {}, {"holds no archive"}},
    });
}

TEST_F(VorxTool, IncompleteArchives) {
    // Cut anywhere: in the header, in an entry's data, in the names table's padding.
    for (const char* cut : {"20", "$((size / 2))", "$((size - 1))"}) {
        Run({{std::string("vorx a o.vx src && size=$(stat -c %s o.vx) && head -c ") + cut + " o.vx >cut.vx", "t cut.vx", 2,
              {}, {"'cut.vx' is incomplete"}}});
    }
}

}  // namespace
}  // namespace vorx
