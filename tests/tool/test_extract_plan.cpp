// A file in the extraction's way: the decision for every policy and every answer on a
// terminal, which no run without one reaches.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "tools/extract_plan.h"

namespace tool {
namespace {

TEST(ExtractPlan, OverwriteDecision) {
    using K = host::PathKind; using O = Overwrite; using R = Reply; using A = Action;
    struct Row {
        K existing;
        bool writtenHere, canAsk;  // by this extraction; a terminal
        O policy;
        R reply;
        A action;
        O policyAfter;
    };
    // The tool's runs decide -y, no terminal, and files written twice; a terminal's replies
    // and the standing answers they leave are decided here.
    const Row rows[] = {
        {K::Directory, true, true, O::Ask, R::Yes, A::FolderInTheWay, O::Ask},
        {K::Missing, false, true, O::None, R::NotAsked, A::Write, O::None},
        {K::File, true, true, O::None, R::NotAsked, A::Write, O::None},
        {K::File, false, true, O::None, R::NotAsked, A::Skip, O::None},
        {K::Other, false, false, O::Ask, R::NotAsked, A::Skip, O::Ask},
        {K::File, false, true, O::Ask, R::NotAsked, A::Ask, O::Ask},
        {K::File, false, true, O::Ask, R::Yes, A::Write, O::Ask},
        {K::File, false, true, O::Ask, R::No, A::Skip, O::Ask},
        {K::File, false, true, O::Ask, R::All, A::Write, O::All},
        {K::File, false, true, O::Ask, R::None, A::Skip, O::None},
        {K::File, false, true, O::Ask, R::EndOfInput, A::Skip, O::None},
        {K::File, false, true, O::Ask, R::Unclear, A::Ask, O::Ask},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const OverwriteDecision d =
            DecideOverwrite(rows[i].existing, rows[i].writtenHere, rows[i].policy, rows[i].canAsk, rows[i].reply);
        EXPECT_TRUE(d.action == rows[i].action && d.policy == rows[i].policyAfter) << "row " << i;
    }

    for (const auto& [line, reply] : std::vector<std::pair<const char*, Reply>>{
             {"y", R::Yes}, {"yes", R::Yes}, {"n", R::No}, {"no", R::No}, {"A", R::All}, {"N", R::None},
             {"Y", R::Unclear}, {"a", R::Unclear}, {"", R::Unclear}, {"yes ", R::Unclear}})
        EXPECT_EQ(ParseReply(line), reply) << '"' << line << '"';
}

}  // namespace
}  // namespace tool
