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

// Through a queue smaller than one file (which still goes, alone): files in order, each
// replacing a file that was there before, never one the writer wrote itself (whatever
// name leads to it); failures reported in order with the system's reason, leaving the old
// file and no temporary; after Finish, files are written at once and counted the same way.
TEST(FileWriter, WritesInOrderAndReportsFailuresWithoutLeftovers) {
    TempDir dir;
    const host::FolderPtr folder = host::OpenFolder(dir.Path());
    for (int i = 0; i < 20; ++i) vorx::test::WriteFile(dir.File("f" + std::to_string(i)), "old");
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
            writer.Submit(job("f" + std::to_string(i), std::string(i + round, 'a' + round), true));
    writer.Submit(job("missing/two", "2", false));
    writer.Submit(job("existing", "new", false));  // never created over a file
    writer.Finish(false);
    // What each failure starts with: "cannot write 'PATH': " or "refused 'PATH': ".
    const auto failures = [&](const std::vector<std::string>& starts) {
        const std::vector<std::string> got = writer.TakeFailures();
        ASSERT_EQ(got.size(), starts.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i].rfind(starts[i], 0) == 0 && got[i].size() > starts[i].size())
                << got[i];
    };
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) expected.push_back("refused 'f" + std::to_string(i % 20) + "': ");
    expected.insert(expected.end(), {"cannot write 'missing/two': ", "cannot write 'existing': "});
    failures(expected);
    EXPECT_EQ(writer.written(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ReadText(dir.File("f" + std::to_string(i))), std::string(i, 'a')) << i;
        EXPECT_EQ(vorx::test::ModificationTime(dir.File("f" + std::to_string(i))), 1500000000 + i)
            << i;
    }
    EXPECT_EQ(ReadText(dir.File("existing")), "old");
    EXPECT_EQ(EntriesIn(dir.Path()), 21u);
    writer.Submit(job("late", "4", false));
    writer.Submit(job("existing", "5", false));
    EXPECT_EQ(ReadText(dir.File("late")), "4");
    EXPECT_EQ(writer.written(), 21u);
    failures({"cannot write 'existing': "});
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
