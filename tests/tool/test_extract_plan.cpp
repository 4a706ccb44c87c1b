// The extraction's pure decisions: where a stored name leads (converted once, split as
// UTF-8 host text) and which names are one file on Windows. (The answers to the overwrite
// question are the tool table's, on a terminal.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/extract_plan.h"

namespace tool {
namespace {

TEST(ExtractPlan, NamesAreConvertedOnceThenSplitAndKeyedAsWindowsComparesThem) {
    const struct {
        std::string stored;
        unsigned codePage;
        std::string outDir, paths, refusal;
    } rows[] = {
        // A trail byte 0x5C belongs to its character: dir表\inner.txt, below a folder ending in ソ.
        {"dir\x95\x5C\\inner.txt", 932, "o\xE3\x82\xBD",
         "o\xE3\x82\xBD/dir\xE8\xA1\xA8 o\xE3\x82\xBD/dir\xE8\xA1\xA8/inner.txt", ""},
        {"\x83\x5C", 932, "o", "o/\xE3\x82\xBD", ""},
        {"caf\xE9\\a", 1252, "", "caf\xC3\xA9 caf\xC3\xA9/a", ""},
        // Bytes code page 1252 leaves undefined, which Windows makes C1 controls; C1 in ISO 8859.
        {"a\x81.txt", 1252, "o", "", "does not define"},
        {"c\x85", 28591, "o", "", "control character"},
    };
    for (const auto& row : rows) {
        const WalkPlan plan = PlanWalk(row.stored, row.codePage, row.outDir);
        std::string paths;
        for (const std::string& path : plan.paths) paths += (paths.empty() ? "" : " ") + path;
        EXPECT_EQ(paths, row.paths) << row.stored;
        EXPECT_NE(plan.refusal.find(row.refusal), std::string::npos)
            << row.stored << ": " << plan.refusal;
        EXPECT_EQ(plan.key.empty(), !row.refusal.empty()) << row.stored;
    }
    // One key, one file on Windows: letter case of every code page's letters; never a
    // fold of bytes (U+30A2 and U+30C2 are 83 41 and 83 61 in 932).
    const struct {
        std::string a, b;
        unsigned codePage;
        bool same;
    } pairs[] = {
        {"Same.txt", "same.TXT", 1252, true},         {"\xC9T\xC9\\x", "\xE9t\xE9\\X", 1252, true},
        {"\xD0\x96", "\xD0\xB6", 65001, true},        {"a\\b", "a b", 1252, false},
        {"\x83\x41.exe", "\x83\x61.exe", 932, false}, {"ab", "a\\b", 1252, false},
    };
    for (const auto& p : pairs)
        EXPECT_EQ(PlanWalk(p.a, p.codePage, "o").key == PlanWalk(p.b, p.codePage, "o").key, p.same)
            << p.a << " " << p.b;
}

}  // namespace
}  // namespace tool
