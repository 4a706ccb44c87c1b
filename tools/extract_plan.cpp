// The decisions of an extraction.
#include "tools/extract_plan.h"

#include "tools/commands.h"
#include "writer/entry_names.h"

namespace tool {
namespace {

// The conversion to host text is checked again: a component must stay one component of
// a file below the output folder (in UTF-8 a separator byte is always a separator).
bool IsPlainHostName(const std::string& part) {
    return !part.empty() && part != "." && part != ".." &&
           part.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace

WalkPlan PlanWalk(const std::string& stored, unsigned codePage, const std::string& outDir) {
    WalkPlan plan;
    std::vector<std::string> parts;
    if (!vorx::SplitForExtraction(stored, codePage, &parts, &plan.refusal)) return plan;
    std::string path = outDir;
    for (const std::string& storedPart : parts) {
        std::string part, error;
        if (!host::FromCodePage(storedPart, codePage, &part, &error)) {
            plan.refusal = error;
            break;
        }
        if (!IsPlainHostName(part)) {
            plan.refusal =
                "in this system's names a component would be empty, \".\" or \"..\", or hold a "
                "separator";
            break;
        }
        path = JoinPath(path, part);
        plan.key += (plan.names.empty() ? "" : "\\") + vorx::WindowsNameKey(part);
        plan.names.push_back(part);
        plan.paths.push_back(path);
    }
    if (!plan.refusal.empty()) {
        plan.names.clear();
        plan.paths.clear();
        plan.key.clear();
    }
    return plan;
}

Reply ParseReply(const std::string& line) {
    if (line == "y" || line == "yes") return Reply::Yes;
    if (line == "n" || line == "no") return Reply::No;
    if (line == "A") return Reply::All;
    if (line == "N") return Reply::None;
    return Reply::Unclear;
}

OverwriteDecision DecideOverwrite(host::PathKind existing, Overwrite policy, bool canAsk,
                                  Reply reply) {
    if (existing == host::PathKind::Directory) return {Action::FolderInTheWay, policy};
    if (existing == host::PathKind::Missing) return {Action::Write, policy};
    switch (reply) {
        case Reply::Yes:
            return {Action::Write, policy};
        case Reply::No:
            return {Action::Skip, policy};
        case Reply::All:
            return {Action::Write, Overwrite::All};
        case Reply::None:
        case Reply::EndOfInput:
            return {Action::Skip, Overwrite::None};
        case Reply::NotAsked:
        case Reply::Unclear:
            break;
    }
    if (policy == Overwrite::All) return {Action::Write, policy};
    if (policy == Overwrite::Ask && canAsk) return {Action::Ask, policy};
    return {Action::Skip, policy};
}

}  // namespace tool
