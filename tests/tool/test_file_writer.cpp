// The host's temporary file, which every extracted file goes through: its path names
// the file made, not whatever is at its folder's name later.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tests/support/test_support.h"

namespace {

using vorx::test::TempDir;

size_t EntriesIn(const std::string& folder) {
    std::vector<std::string> names;
    EXPECT_TRUE(host::ListDirectory(folder, &names));
    return names.size();
}

// The folder renamed and a link put in its place: what is written goes to the temporary
// file, and renaming it replaces a link at the target rather than writing through it.
TEST(HostFolders, ATemporaryFileStaysInTheFolderItWasMadeIn) {
    TempDir dir;
    for (const char* folder : {"outside", "base"}) ASSERT_TRUE(host::MakeDirectory(dir.File(folder)));
    host::TemporaryFile temporary;
    ASSERT_TRUE(temporary.Create(host::OpenFolder(dir.File("base"))));
    ASSERT_EQ(std::rename(dir.File("base").c_str(), dir.File("moved").c_str()), 0);
    ASSERT_EQ(symlink("outside", dir.File("base").c_str()), 0);
    vorx::test::WriteFile(temporary.path(), std::string("data"));
    ASSERT_EQ(symlink("../outside/victim", dir.File("moved/target").c_str()), 0);
    ASSERT_TRUE(temporary.RenameTo("target"));
    EXPECT_EQ(EntriesIn(dir.File("outside")), 0u);
    struct stat st;
    ASSERT_EQ(lstat(dir.File("moved/target").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    const vorx::Bytes data = vorx::test::ReadFile(dir.File("moved/target"));
    EXPECT_EQ(std::string(data.begin(), data.end()), "data");
    EXPECT_EQ(EntriesIn(dir.File("moved")), 1u);
}

}  // namespace
