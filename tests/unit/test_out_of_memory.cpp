// Allocation failure: the open reports 11 and leaves nothing behind. This program
// replaces the global non-throwing operator new, which the library uses for the
// handle, so that the allocation can be made to fail.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "library/vorx.h"
#include "tests/support/test_support.h"

namespace {
std::atomic<bool> failNothrowNew{false};
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failNothrowNew.load()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace vorx {
namespace {

TEST(OutOfMemory, OpenReportsElevenAndANullHandle) {
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::TestArchive a;
    a.entries.push_back(test::TestEntry("x", test::ToBytes("data")));
    test::WriteArchive(path, a);

    failNothrowNew = true;
    vorx_Stream* handle = reinterpret_cast<vorx_Stream*>(uintptr_t{1});
    const vorx_Error e = vorx_OpenStream(&handle, path.c_str(), nullptr, 2);
    failNothrowNew = false;
    EXPECT_EQ(e, vorx_OutOfMemory);
    EXPECT_EQ(handle, nullptr);

    // Nothing was left open: the archive can still be replaced and opened again.
    test::WriteArchive(path, a);
    test::Handle h;
    EXPECT_EQ(h.Open(path), vorx_Success);
    EXPECT_EQ(vorx_GetNumFiles(h), 1u);
}

}  // namespace
}  // namespace vorx
