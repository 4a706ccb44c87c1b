// The tool's file writer thread: files written in submission order with their times,
// a small queue that makes the submitter wait, failures reported in order without
// leftovers, replacement through a temporary file, and abandoning what is queued.
// Below it, the host's walk from folder to folder that never passes a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tools/file_writer.h"

namespace {

using vorx::test::ModificationTime;
using vorx::test::TempDir;

tool::FileJob Job(const host::FolderPtr& folder, const std::string& name, const std::string& content,
                  int64_t time = 0) {
    tool::FileJob job;
    job.folder = folder;
    job.name = name;
    job.path = name;
    job.size = content.size();
    job.data.reset(new uint8_t[content.size() + 1]);
    std::memcpy(job.data.get(), content.data(), content.size());
    job.lastWriteSeconds = time;
    return job;
}

std::string Read(const std::string& path) {
    const vorx::Bytes bytes = vorx::test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

size_t EntriesIn(const std::string& folder) {
    std::vector<std::string> names;
    EXPECT_TRUE(host::ListDirectory(folder, &names));
    return names.size();
}

TEST(FileWriter, WritesInOrderThroughASmallQueue) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    std::vector<std::string> expected(40);
    {
        // Room for two files at a time: the submitter keeps waiting for the thread.
        tool::FileWriter writer(20);
        for (int round = 0; round < 3; ++round) {
            for (size_t i = 0; i < expected.size(); ++i) {
                expected[i] = "file " + std::to_string(i) + " round " + std::to_string(round);
                tool::FileJob job = Job(folder, "f" + std::to_string(i), expected[i], 1500000000 + round);
                // Later rounds replace the files of earlier ones.
                job.replace = round > 0;
                writer.Submit(std::move(job));
            }
        }
        // One file larger than the whole queue still goes.
        writer.Submit(Job(folder, "large", std::string(1000, 'L')));
        writer.Drain();
        EXPECT_EQ(writer.written(), 3 * expected.size() + 1);
        EXPECT_TRUE(writer.TakeFailures().empty());
        writer.Finish(false);
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Read(dir.File("f" + std::to_string(i))), expected[i]);
        EXPECT_EQ(ModificationTime(dir.File("f" + std::to_string(i))), 1500000002);
    }
    EXPECT_EQ(Read(dir.File("large")), std::string(1000, 'L'));
    EXPECT_EQ(EntriesIn(dir.Path()), expected.size() + 1);  // no temporary file
}

TEST(FileWriter, FailuresAreReportedInOrderAndLeaveNothing) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    vorx::test::WriteFile(dir.File("existing"), std::string("old"));
    tool::FileWriter writer(1 << 20);
    writer.Submit(Job(folder, "one", "1"));
    // No such folder.
    writer.Submit(Job(folder, "missing/two", "2"));
    // A new file is never created over one that exists.
    writer.Submit(Job(folder, "existing", "new"));
    // A replacement that cannot be renamed into place (a folder has the name) leaves
    // the folder and no temporary file.
    ASSERT_TRUE(host::MakeDirectory(dir.File("taken")));
    tool::FileJob replace = Job(folder, "taken", "replaced");
    replace.replace = true;
    writer.Submit(std::move(replace));
    writer.Submit(Job(folder, "three", "3"));
    writer.Finish(false);
    const std::vector<std::string> failures = writer.TakeFailures();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures, (std::vector<std::string>{"missing/two", "existing", "taken"}));
    EXPECT_EQ(writer.written(), 2u);
    EXPECT_EQ(Read(dir.File("existing")), "old");
    EXPECT_EQ(host::Stat(dir.File("taken")).kind, host::PathKind::Directory);
    EXPECT_EQ(Read(dir.File("one")), "1");
    EXPECT_EQ(Read(dir.File("three")), "3");
    EXPECT_EQ(EntriesIn(dir.Path()), 4u);
    // After Finish, files are written at once.
    writer.Submit(Job(folder, "four", "4"));
    EXPECT_EQ(Read(dir.File("four")), "4");
    EXPECT_EQ(writer.written(), 3u);
}

TEST(FileWriter, AbandoningDropsWhatIsNotWrittenYet) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    constexpr int kFiles = 300;
    size_t written = 0;
    {
        tool::FileWriter writer(1 << 20);
        for (int i = 0; i < kFiles; ++i)
            writer.Submit(Job(folder, "f" + std::to_string(i), std::string(2000, static_cast<char>('a' + i % 26))));
        writer.Finish(true);
        written = writer.written();
        EXPECT_TRUE(writer.TakeFailures().empty());
    }
    // The files written are a complete prefix of the submitted ones; none after it.
    EXPECT_LE(written, static_cast<size_t>(kFiles));
    EXPECT_EQ(EntriesIn(dir.Path()), written);
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir.File("f" + std::to_string(i));
        if (static_cast<size_t>(i) < written) {
            EXPECT_EQ(Read(path), std::string(2000, static_cast<char>('a' + i % 26))) << i;
        } else {
            EXPECT_EQ(host::Stat(path).kind, host::PathKind::Missing) << i;
        }
    }
}

// A folder below another is opened or made; anything else of that name is refused,
// and a link (to a folder, to a file, dangling) is never followed nor made through.
TEST(HostFolders, SubfoldersAreNeverReachedThroughALink) {
    TempDir dir;
    for (const char* folder : {"outside", "base", "base/there"}) ASSERT_TRUE(host::MakeDirectory(dir.File(folder)));
    vorx::test::WriteFile(dir.File("base/file"), std::string("x"));
    struct Case {
        const char* name;
        host::Subfolder expected;
    };
    std::vector<Case> cases = {
        {"there", host::Subfolder::Opened}, {"new", host::Subfolder::Made}, {"file", host::Subfolder::NotFolder}};
#ifndef _WIN32
    // Wine makes no links a Windows program can see.
    for (const auto& [name, target] : {std::pair<const char*, const char*>{"tofolder", "../outside"},
                                       {"tofile", "file"}, {"dangling", "../outside/none"}}) {
        ASSERT_EQ(symlink(target, dir.File(std::string("base/") + name).c_str()), 0);
        cases.push_back({name, host::Subfolder::Link});
    }
#endif
    const host::FolderPtr base = host::OpenFolder(dir.File("base"));
    ASSERT_TRUE(base);
    for (const Case& c : cases) {
        host::FolderPtr sub;
        EXPECT_EQ(host::OpenSubfolder(base, c.name, &sub), c.expected) << c.name;
        const bool opened = c.expected == host::Subfolder::Opened || c.expected == host::Subfolder::Made;
        EXPECT_EQ(sub != nullptr, opened) << c.name;
        if (opened) {
            const int fd = host::CreateFileIn(*sub, "new.txt");
            EXPECT_GE(fd, 0) << c.name;
            if (fd >= 0) platform::FileClose(fd);
        }
    }
    EXPECT_EQ(EntriesIn(dir.File("outside")), 0u);
    EXPECT_EQ(host::Stat(dir.File("base/new/new.txt")).kind, host::PathKind::File);
}

#ifndef _WIN32
// A temporary file's path names it, not what is at its folder's name later: the folder
// renamed and a link put in its place, what is written goes to the temporary file, and
// renaming it replaces a link at the target. Its own folder is gone afterwards.
TEST(HostFolders, ATemporaryFileStaysInTheFolderItWasMadeIn) {
    TempDir dir;
    for (const char* folder : {"outside", "base"}) ASSERT_TRUE(host::MakeDirectory(dir.File(folder)));
    host::TemporaryFile temporary;
    ASSERT_TRUE(temporary.Create(host::OpenFolder(dir.File("base"))));
    ASSERT_EQ(rename(dir.File("base").c_str(), dir.File("moved").c_str()), 0);
    ASSERT_EQ(symlink("outside", dir.File("base").c_str()), 0);
    vorx::test::WriteFile(temporary.path(), std::string("data"));
    ASSERT_EQ(symlink("../outside/victim", dir.File("moved/target").c_str()), 0);
    ASSERT_TRUE(temporary.RenameTo("target"));
    EXPECT_EQ(EntriesIn(dir.File("outside")), 0u);
    struct stat st;
    ASSERT_EQ(lstat(dir.File("moved/target").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Read(dir.File("moved/target")), "data");
    EXPECT_EQ(EntriesIn(dir.File("moved")), 1u);
}
#endif

}  // namespace
