// vorx t and x on several threads against one: whatever -j says, the same output,
// messages, exit code, files and times, on an archive made of hostile parts (CRC faults,
// record sizes that lie both ways, trailing bytes, passwords, two entries of one name),
// with the right and a wrong password; and on POSIX with an overwrite question on a
// terminal, a full disk and an interrupt in the middle. Each entry is decoded by its
// index and only the bytes it decodes are ever written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace vorx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Outcome {
    int code;
    std::string out, err;
    bool operator==(const Outcome& o) const { return code == o.code && out == o.out && err == o.err; }
};

std::string Tool() {
    std::string tool = VORX_TOOL_PATH;
#ifdef _WIN32
    if (tool[0] == '/') tool = "Z:" + tool;  // the build's path, as Wine shows it
    for (char& c : tool) c = c == '/' ? '\\' : c;
#endif
    return tool;
}

// The tool with `args`, its input empty, so that it never sees a terminal.
Outcome Vorx(const TempDir& dir, const std::string& args) {
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
#ifdef _WIN32
    const int code = std::system(
        ("\"\"" + Tool() + "\" " + args + " <NUL >\"" + out + "\" 2>\"" + err + "\"\"").c_str());
#else
    const int status = std::system(
        ("'" + Tool() + "' " + args + " </dev/null >'" + out + "' 2>'" + err + "'").c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return Outcome{code, test::ReadText(out), test::ReadText(err)};
}

// Every file below `root` with its bytes and last-write time.
using Files = std::map<std::string, std::pair<std::string, int64_t>>;
Files Tree(const fs::path& root) {
    Files files;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (!item.is_directory())
            files[fs::relative(item.path(), root).generic_string()] = {
                test::ReadText(item.path().string()), test::ModificationTime(item.path().string())};
    return files;
}

// One part of the hostile archive: an entry's bytes and what is done to its record.
struct Part {
    std::string name;
    Bytes data;
    test::RecordOverrides damage = {};
    const char* password = nullptr;
    Bytes tail = {};  // raw bytes behind its blocks
};

constexpr uint64_t kBig = 9 << 19;  // above what is decoded whole ahead: block by block

std::vector<Part> HostileParts() {
    std::vector<Part> parts = {{"$comments$", test::ToBytes("a comment\r\n")}};
    for (uint32_t i = 0; i < 40; ++i)
        parts.push_back({"small\\f" + std::to_string(i) + ".txt", test::WordText(i * i * 97, i)});
    const auto crc = [](uint32_t v) { test::RecordOverrides d; d.crc32 = v; return d; };
    const auto size = [](uint64_t v) { test::RecordOverrides d; d.uncompressedSize = v; return d; };
    const std::vector<Part> hostile = {
        {"big\\whole.bin", test::WordText(kBig, 1)},
        {"big\\crc.bin", test::WordText(kBig, 2), crc(1)},
        {"big\\long.bin", test::WordText(kBig, 3), size(kBig - 1000)},
        // Blocks that produce fewer bytes than the record declares, their CRC-32 right.
        {"big\\short.bin", test::WordText(kBig, 4), size(kBig + 4096)},
        {"small\\short.txt", test::WordText(3000, 4), size(3001)},
        {"big\\tail.bin", test::WordText(kBig, 5), {}, nullptr, Bytes(20, 0xFF)},
        {"big\\locked.bin", test::WordText(kBig, 6), {}, "rightpw1"},
        {"small\\locked.txt", test::WordText(3000, 6), {}, "rightpw1"},
        {"small\\wrongpw.txt", test::WordText(3000, 7), {}, "otherpw2"},
        {"small\\badcrc.txt", test::WordText(3000, 8), crc(1)},
        // Two entries of one name, each decoded by its own index.
        {"dup.txt", test::ToBytes("the first dup.txt")},
        {"dup.txt", test::ToBytes("a second dup.txt, damaged"), crc(2)},
        {"again.bin", test::WordText(kBig, 9), crc(3)},
        {"again.bin", test::WordText(kBig, 10)},
        {"small\\last.txt", test::WordText(10, 11)},
    };
    parts.insert(parts.end(), hostile.begin(), hostile.end());
    return parts;
}

void WriteArchive(const std::string& path, const std::vector<Part>& parts) {
    test::DamagingWriter w;
    ASSERT_TRUE(w.Create(path) && w.BeginArchive());
    uint64_t time = 1600000000;
    for (const Part& p : parts) {
        EntryOptions e;
        e.name = p.name;
        e.time = time += 1000;
        e.encoder = test::PackingEncoder(256 << 10);
        if (p.password) e.password = p.password;
        ASSERT_TRUE(w.BeginEntry(e) && w.Write(p.data.data(), p.data.size()) &&
                    (p.tail.empty() || w.WriteRaw(p.tail.data(), p.tail.size())) &&
                    w.EndEntry(p.damage))
            << w.Error();
    }
    ASSERT_TRUE(w.Finish()) << w.Error();
}

// x into a fresh folder where one file exists already, so that a skip is reported among
// the failures.
std::pair<Outcome, Files> ExtractFresh(const TempDir& dir, const std::string& args) {
    const fs::path out = fs::path(dir.Path()) / "out";
    fs::remove_all(out);
    fs::create_directories(out / "small");
    const std::string mine = (out / "small" / "f3.txt").string();
    test::WriteFile(mine, std::string("mine"));
    const int fd = platform::FileOpen(mine.c_str(), platform::kOpenReadWrite);
    EXPECT_TRUE(platform::SetFileTimesOf(fd, 1500000000, 1500000000));
    platform::FileClose(fd);
    const Outcome x = Vorx(dir, "x " + args + " -o \"" + out.string() + "\"");
    return {x, Tree(out)};
}

// The bytes of the `nth` part called `name`.
std::string DataOf(const std::vector<Part>& parts, const std::string& name, int nth = 0) {
    for (const Part& p : parts)
        if (p.name == name && nth-- == 0) return std::string(p.data.begin(), p.data.end());
    return "<no such part>";
}

TEST(Parallel, EveryThreadCountTestsAndExtractsAsOneDoes) {
    TempDir dir;
    const std::vector<Part> parts = HostileParts();
    WriteArchive(dir.File("hostile.vx"), parts);
    for (const std::string password : {"rightpw1", "wrongpw9"}) {
        SCOPED_TRACE(password);
        const std::string args = "\"" + dir.File("hostile.vx") + "\" -p " + password;
        const Outcome t1 = Vorx(dir, "t " + args + " -j 1");
        for (const char* jobs : {"-j 2", "-j4", ""})
            EXPECT_TRUE(Vorx(dir, "t " + args + " " + jobs) == t1) << jobs;
        const auto [x1, tree1] = ExtractFresh(dir, args + " -j 1");
        for (const char* jobs : {"-j 2", ""}) {
            const auto [xn, treen] = ExtractFresh(dir, args + " " + jobs);
            EXPECT_TRUE(xn == x1) << jobs << "\n" << xn.err << "\n" << x1.err;
            EXPECT_TRUE(treen == tree1) << jobs << ": the extracted trees differ";
        }
        EXPECT_EQ(t1.code, 2);
        EXPECT_EQ(x1.code, 2);
        if (password != "rightpw1") continue;
        // Each failing part is reported by its own index, and no other one.
        for (const char* failed :
             {"big\\crc.bin: Decompressed", "big\\long.bin: Archive is corrupt", "big\\short.bin: Archive is corrupt",
              "small\\short.txt: Archive is corrupt", "big\\tail.bin: Archive is corrupt",
              "small\\wrongpw.txt: Archive is corrupt", "small\\badcrc.txt: Decompressed",
              "dup.txt: Decompressed", "again.bin: Decompressed"})
            EXPECT_NE(t1.out.find("FAILED  " + std::string(failed)), std::string::npos) << failed << "\n" << t1.out;
        EXPECT_NE(t1.out.find("56 entries tested, 9 failed"), std::string::npos) << t1.out;
        // Nothing but decoded bytes is written: an entry short of its record leaves no
        // file; of two entries of one name the later one is refused, even where the
        // earlier one failed.
        for (const char* absent :
             {"big/short.bin", "small/short.txt", "big/crc.bin", "small/wrongpw.txt", "again.bin"})
            EXPECT_EQ(tree1.count(absent), 0u) << absent;
        EXPECT_EQ(tree1.at("dup.txt").first, DataOf(parts, "dup.txt"));
        EXPECT_EQ(tree1.at("small/f3.txt").first, "mine");
        EXPECT_EQ(tree1.at("big/whole.bin").first, DataOf(parts, "big\\whole.bin"));
        EXPECT_EQ(tree1.at("big/locked.bin").second, 1600000000 + 1000 * 48);
        EXPECT_EQ(tree1.size(), 40u + 5);  // small files (one kept), whole, locked x2, dup, last
    }
}

#ifndef _WIN32
// A shell script run in `dir` with $VORX (the tool), $ARCHIVE and $J (the -j option):
// its exit code and what it printed.
Outcome Shell(const TempDir& dir, const std::string& archive, const char* jobs, const std::string& script) {
    test::WriteFile(dir.File("run.sh"), script);
    const std::string out = dir.File("shell-out.txt"), err = dir.File("shell-err.txt");
    const int status = std::system(("cd '" + dir.Path() + "' && VORX='" + Tool() + "' ARCHIVE='" + archive +
                                    "' J='" + jobs + "' sh run.sh </dev/null >'" + out + "' 2>'" + err + "'")
                                       .c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadText(out), test::ReadText(err)};
}

// Every file below a folder: path, time and checksum.
const char kList[] = "list() { find \"$1\" -type f -exec stat -c '%n %Y' {} + | sort; "
                     "find \"$1\" -type f -exec sha1sum {} + | sort; }\n";

TEST(Parallel, AQuestionAFullDiskAndAnInterruptAsOnOneThread) {
    TempDir dir;
    std::vector<Part> parts;
    for (uint32_t i = 0; i < 600; ++i) parts.push_back({"m\\f" + std::to_string(i) + ".txt", test::WordText(700 + i * 13, i)});
    parts.insert(parts.begin() + 300, {"m\\big.bin", test::WordText(9 << 20, 1)});
    WriteArchive(dir.File("many.vx"), parts);
    const std::string archive = dir.File("many.vx");
    const auto same = [&](const std::string& script) {
        const Outcome one = Shell(dir, archive, "-j 1", script), four = Shell(dir, archive, "-j 4", script);
        EXPECT_EQ(one.code, 0) << one.err;
        EXPECT_TRUE(one == four) << script << "\n-j 1:\n" << one.out << one.err << "\n-j 4:\n" << four.out << four.err;
    };
    // Questions on a terminal, answered yes, no, then None: the rest are kept. What the
    // terminal echoes comes when it comes; the questions and reports are compared.
    same(std::string(kList) +
         "rm -rf q && mkdir -p q/m && for f in f1.txt f2.txt big.bin f400.txt f401.txt; do echo old >q/m/$f; touch -d @1500000000 q/m/$f; done\n"
         "printf 'y\\nn\\nN\\n' | script -qec \"'$VORX' x $J '$ARCHIVE' -o q\" /dev/null |\n"
         "  grep -ao -e \"Replace '[^']*'\" -e \"skipped '[^']*'\" -e '[0-9]* files\\? extracted[^\\r]*'\n"
         "list q\n");

    // An interrupt once the first file appears: 255 and complete files only (or 0, had it
    // finished), never a temporary left.
    for (const char* jobs : {"-j 1", "-j 4"}) {
        const Outcome o = Shell(dir, archive, jobs,
                                "rm -rf ref i && \"$VORX\" x -j 1 \"$ARCHIVE\" -o ref >/dev/null || exit 9\n"
                                "\"$VORX\" x $J \"$ARCHIVE\" -o i </dev/null >i.out 2>i.err & pid=$!\n"
                                "for n in $(seq 4000); do [ -n \"$(ls -A i/m 2>/dev/null)\" ] && break; sleep 0.002; done\n"
                                "kill -INT $pid; wait $pid; code=$?\n"
                                "case $code in 255) grep -q interrupted i.err;; 0) diff -r ref i;; *) false;; esac || exit 8\n"
                                "[ -z \"$(find i -name '.vorx-*')\" ] || exit 7\n"
                                "for f in $(ls -A i/m); do cmp -s i/m/$f ref/m/$f || exit 6; done\n"
                                "echo \"exit $code, $(ls i/m | wc -l) of 601 files\"\n");
        EXPECT_EQ(o.code, 0) << jobs << "\n" << o.out << o.err;
    }

    // A disk that fills up on the way: a small file system in a mount namespace of the
    // script's own, which goes with it.
    if (std::system("unshare -rm true 2>/dev/null") != 0)
        GTEST_SKIP() << "no mount namespace for a small file system: the full disk is not tried here";
    same("[ -n \"$IN_NAMESPACE\" ] || IN_NAMESPACE=1 exec unshare -rm sh \"$0\"\n" + std::string(kList) +
         "mkdir -p full && mount -t tmpfs -o size=3m tmpfs full || exit 9\n"
         "\"$VORX\" x $J \"$ARCHIVE\" -o full; echo \"exit $?\"\nlist full\n");
}
#endif

}  // namespace
}  // namespace vorx
