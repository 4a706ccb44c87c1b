// The result-code messages are shown to users verbatim; each is pinned here.
#include <gtest/gtest.h>

#include "library/vorx.h"

TEST(ErrorStrings, EveryCodeHasItsExactMessageAndOthersAreUnknown) {
    struct Case {
        vorx_Error code;
        const char* text;
    };
    const Case cases[] = {
        {0, "Success"},
        {1, "Unknown"},
        {2, "Invalid argument passed"},
        {3, "Archive is corrupt or if encrypted, invalid password used"},
        {4, "Not found"},
        {5, "Entry exists already"},
        {6, "Out of disk space"},
        {7, "Archive is opened for read-only access preventing this operation"},
        {8, "Archive has been locked preventing this operation"},
        {9, "Decompressed file CRC does not match original"},
        {10, "The selected operation requires a correct password"},
        {11, "The selected operation failed to allocate enough memory"},
        {12, "The open archive is an older archive format, this operation is not supported"},
        {13,
         "The operation failed reading the input from disk, archive might be corrupt, check "
         "file restrictions, etc"},
        {14, "Not found or in use by another program"},
        {15, "The operation failed writing the output to disk, check restrictions and disk spac"},
        {256, "Debug1"},
        {257, "Debug2"},
    };
    for (const Case& c : cases) EXPECT_STREQ(vorx_GetErrorString(c.code), c.text) << c.code;
    for (vorx_Error code : {16, 17, 255, 258, -1, -256, 1000000, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(vorx_GetErrorString(code), "Unknown <?>") << code;
}
