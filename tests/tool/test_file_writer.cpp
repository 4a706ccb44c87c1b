// The tool's file writer thread (Win32 threads under Wine too), and below it the host's
// walk from folder to folder that never passes a link.
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

using vorx::test::TempDir;

tool::FileJob Job(const host::FolderPtr& folder, const std::string& name, const std::string& content,
                  bool replace = false) {
    tool::FileJob job;
    job.folder = folder;
    job.name = job.path = name;
    job.size = content.size();
    job.data.reset(new uint8_t[content.size() + 1]);
    std::memcpy(job.data.get(), content.data(), content.size());
    job.lastWriteSeconds = 1500000000 + static_cast<int64_t>(content.size());
    job.replace = replace;
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

// Through a queue of 20 bytes (the submitter waits for the thread; a larger file still
// goes): files in submission order with their times, later ones replacing earlier ones;
// failures reported in order, leaving the old file, the folder in the way and no
// temporary file; after Finish, files are written at once.
TEST(FileWriter, WritesInOrderAndReportsFailuresWithoutLeftovers) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    vorx::test::WriteFile(dir.File("existing"), std::string("old"));
    ASSERT_TRUE(host::MakeDirectory(dir.File("taken")));
    tool::FileWriter writer(20);
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 30; ++i)
            writer.Submit(Job(folder, "f" + std::to_string(i), std::string(i + round, 'a' + round), round > 0));
    writer.Submit(Job(folder, "missing/two", "2"));
    writer.Submit(Job(folder, "existing", "new"));  // never created over a file
    writer.Submit(Job(folder, "taken", "replaced", true));
    writer.Submit(Job(folder, "large", std::string(1000, 'L')));
    writer.Finish(false);
    EXPECT_EQ(writer.TakeFailures(), (std::vector<std::string>{"missing/two", "existing", "taken"}));
    EXPECT_EQ(writer.written(), 91u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(Read(dir.File("f" + std::to_string(i))), std::string(i + 2, 'c')) << i;
        EXPECT_EQ(vorx::test::ModificationTime(dir.File("f" + std::to_string(i))), 1500000002 + i) << i;
    }
    EXPECT_EQ(Read(dir.File("large")), std::string(1000, 'L'));
    EXPECT_EQ(Read(dir.File("existing")), "old");
    EXPECT_EQ(host::Stat(dir.File("taken")).kind, host::PathKind::Directory);
    EXPECT_EQ(EntriesIn(dir.Path()), 33u);
    writer.Submit(Job(folder, "four", "4"));
    EXPECT_EQ(Read(dir.File("four")), "4");
    EXPECT_EQ(writer.written(), 92u);
}

// A folder below another is opened or made; anything else of that name is refused, and
// a link (to a folder, to a file, dangling) is never followed nor made through.
TEST(HostFolders, SubfoldersAreNeverReachedThroughALink) {
    TempDir dir;
    for (const char* folder : {"outside", "base", "base/there"}) ASSERT_TRUE(host::MakeDirectory(dir.File(folder)));
    vorx::test::WriteFile(dir.File("base/file"), std::string("x"));
    using S = host::Subfolder;
    std::vector<std::pair<std::string, S>> cases = {{"there", S::Opened}, {"new", S::Made}, {"file", S::NotFolder}};
#ifndef _WIN32
    // Wine makes no links a Windows program can see.
    for (const auto& [name, target] : {std::pair<const char*, const char*>{"tofolder", "../outside"},
                                       {"tofile", "file"}, {"dangling", "../outside/none"}}) {
        ASSERT_EQ(symlink(target, dir.File(std::string("base/") + name).c_str()), 0);
        cases.emplace_back(name, S::Link);
    }
#endif
    const host::FolderPtr base = host::OpenFolder(dir.File("base"));
    ASSERT_TRUE(base);
    for (const auto& [name, expected] : cases) {
        host::FolderPtr sub;
        EXPECT_EQ(host::OpenSubfolder(base, name, &sub), expected) << name;
        EXPECT_EQ(sub != nullptr, expected == S::Opened || expected == S::Made) << name;
        const int fd = sub ? host::CreateFileIn(*sub, "new.txt") : -1;
        EXPECT_EQ(fd >= 0, sub != nullptr) << name;
        if (fd >= 0) platform::FileClose(fd);
    }
    EXPECT_EQ(EntriesIn(dir.File("outside")), 0u);
    EXPECT_EQ(host::Stat(dir.File("base/new/new.txt")).kind, host::PathKind::File);
}

#ifndef _WIN32
// A temporary file's path names it, not what is at its folder's name later: the folder
// renamed and a link put in its place, what is written goes to the temporary file, and
// renaming it replaces a link at the target.
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
