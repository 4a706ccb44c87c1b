// vorx a between its walk and its reads: the tree changed after it was listed, in every
// way another program may change it, one row per state. Nothing waits on a FIFO, passes a
// link or reads beyond what was listed; what cannot be read is left out (exit code 1) and
// a file that changed stops the archive (2). An alarm fails the run that hangs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/add_inputs.h"
#include "tools/add_write.h"

namespace vorx {
namespace {

struct SwapRow {
    const char* state;
    const char* change;  // a shell command in the listed folder
    int code;
    const char* message;  // in the warning or the failure
    uint64_t bytes = 8;   // archived: a.txt and sub/c.txt have 4 and 6, b.txt 4
};

int Shell(const std::string& command) { return std::system(command.c_str()); }

TEST(AddInputs, ATreeChangedAfterTheWalkIsNeverReadThroughALinkOrAFifo) {
    const char* const socket =
        "rm b.txt && python3 -c 'import socket as s; s.socket(s.AF_UNIX).bind(\"b.txt\")'";
    // clang-format off
    const std::vector<SwapRow> rows = {
        {"unchanged", "true", 0, "", 14},
        {"a FIFO", "rm b.txt && mkfifo b.txt", 1, "'in/b.txt' is not a regular file", 10},
        {"a link to a device", "rm b.txt && ln -s /dev/urandom b.txt", 1,
         "'in/b.txt' is a link, left out: an archive cannot hold a link", 10},
        {"a socket", socket, 1, "not a regular file", 10},
        {"a folder", "rm b.txt && mkdir b.txt", 1, "not a regular file", 10},
        {"gone", "rm b.txt", 1,
         "cannot open 'in/b.txt': No such file or directory, left out", 10},
        {"its folder a link", "mv sub ../elsewhere && ln -s ../elsewhere sub", 1,
         "'in/sub' is a link"},
        {"grown", "echo more >>b.txt", 2, "changed after it was listed"},
        {"cut", ": >b.txt", 2, "changed after it was listed"},
        {"touched", "touch -d @1400000000 b.txt", 2, "changed"},
    };
    // clang-format on
    alarm(60);  // a read that waits on a FIFO would wait forever
    for (const SwapRow& row : rows) {
        SCOPED_TRACE(row.state);
        test::TempDir dir;
        ASSERT_EQ(chdir(dir.Path().c_str()), 0);
        ASSERT_EQ(Shell("mkdir -p in/sub && echo one >in/a.txt && echo two >in/b.txt && "
                        "echo three >in/sub/c.txt"),
                  0);
        const tool::Collected collected =
            tool::CollectInputs(tool::Options(), {"in"}, dir.File("out.vx"));
        ASSERT_EQ(collected.inputs.size(), 3u);
        ASSERT_EQ(Shell(std::string("cd in && ") + row.change), 0);

        std::vector<tool::EntrySource> entries(collected.inputs.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].options.name = collected.inputs[i].stored;
            entries[i].input = &collected.inputs[i];
        }
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("out.vx")) && writer.BeginArchive());
        tool::Progress progress(0);
        testing::internal::CaptureStderr();
        const tool::WriteOutcome outcome =
            tool::WriteEntries(entries, 1, 2, &writer, &progress, "out.vx");
        const std::string warnings = testing::internal::GetCapturedStderr();
        ASSERT_EQ(chdir("/"), 0);  // not inside the folder removed after the row
        EXPECT_EQ(outcome.exitCode, row.code) << outcome.failure << warnings;
        EXPECT_NE((outcome.failure + warnings).find(row.message), std::string::npos)
            << outcome.failure << warnings;
        if (row.code == 2) continue;
        ASSERT_TRUE(writer.Finish());
        test::Handle archive;
        ASSERT_EQ(archive.Open(dir.File("out.vx")), vorx_Success);
        EXPECT_EQ(vorx_GetNumFiles(archive), row.code == 0 ? 3u : 2u);  // b.txt kept or not
        EXPECT_EQ(outcome.bytes, row.bytes);
    }
    alarm(0);
}

}  // namespace
}  // namespace vorx
