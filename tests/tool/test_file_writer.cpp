// The tool's file writer thread (Win32 threads under Wine too), and the host's temporary file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tests/support/test_support.h"
#include "tools/file_writer.h"

namespace {

using vorx::test::ReadText;
using vorx::test::TempDir;

size_t EntriesIn(const std::string& folder) {
    std::vector<std::string> names;
    EXPECT_TRUE(host::ListDirectory(folder, &names));
    return names.size();
}

// Through a queue smaller than one file (which still goes, alone): files in order, later
// ones replacing earlier ones; failures reported in order with the system's reason, leaving
// the old file and no temporary; after Finish, files are written at once and counted the
// same way.
TEST(FileWriter, WritesInOrderAndReportsFailuresWithoutLeftovers) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    vorx::test::WriteFile(dir.File("existing"), std::string("old"));
    const auto job = [&](const std::string& name, const std::string& content, bool replace) {
        tool::FileJob j;
        j.folder = folder;
        j.name = j.path = name;
        j.size = content.size();
        j.data.reset(new uint8_t[content.size() + 1]);
        std::memcpy(j.data.get(), content.data(), content.size());
        j.lastWriteSeconds = 1500000000 + static_cast<int64_t>(content.size());
        j.replace = replace;
        return j;
    };
    tool::FileWriter writer(100);
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 20; ++i)
            writer.Submit(
                job("f" + std::to_string(i), std::string(i + round, 'a' + round), round > 0));
    writer.Submit(job("missing/two", "2", false));
    writer.Submit(job("existing", "new", false));  // never created over a file
    writer.Finish(false);
    const auto failures = [&](const std::vector<std::string>& paths) {
        const std::vector<std::string> got = writer.TakeFailures();
        ASSERT_EQ(got.size(), paths.size());
        for (size_t i = 0; i < got.size(); ++i) {
            const std::string start = "cannot write '" + paths[i] + "': ";
            EXPECT_TRUE(got[i].rfind(start, 0) == 0 && got[i].size() > start.size()) << got[i];
        }
    };
    failures({"missing/two", "existing"});
    EXPECT_EQ(writer.written(), 60u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ReadText(dir.File("f" + std::to_string(i))), std::string(i + 2, 'c')) << i;
        EXPECT_EQ(vorx::test::ModificationTime(dir.File("f" + std::to_string(i))), 1500000002 + i)
            << i;
    }
    EXPECT_EQ(ReadText(dir.File("existing")), "old");
    EXPECT_EQ(EntriesIn(dir.Path()), 21u);
    writer.Submit(job("late", "4", false));
    writer.Submit(job("existing", "5", false));
    EXPECT_EQ(ReadText(dir.File("late")), "4");
    EXPECT_EQ(writer.written(), 61u);
    failures({"existing"});
}

#ifndef _WIN32
// The folder renamed and a link put in its place: what is written goes to the temporary
// file, and renaming it replaces a link at the target rather than writing through it.
TEST(HostFolders, ATemporaryFileStaysInTheFolderItWasMadeIn) {
    TempDir dir;
    for (const char* folder : {"outside", "base"})
        ASSERT_TRUE(host::MakeDirectory(dir.File(folder)));
    host::TemporaryFile temporary;
    ASSERT_TRUE(temporary.Create(host::OpenFolder(dir.File("base"))));
    ASSERT_EQ(std::rename(dir.File("base").c_str(), dir.File("moved").c_str()), 0);
    ASSERT_EQ(symlink("outside", dir.File("base").c_str()), 0);
    vorx::test::WriteFile(temporary.path(), std::string("data"));
    ASSERT_EQ(symlink("../outside/victim", dir.File("moved/target").c_str()), 0);
    ASSERT_TRUE(temporary.RenameTo("target"));
    EXPECT_EQ(EntriesIn(dir.File("outside")), 0u);
    EXPECT_EQ(ReadText(dir.File("moved/target")), "data");
    EXPECT_EQ(EntriesIn(dir.File("moved")), 1u);
}
#endif

}  // namespace
