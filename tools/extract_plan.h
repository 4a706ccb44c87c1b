// The decisions of an extraction, apart from the file system they are made about: where
// an entry's name leads below the output folder, and whether a file in the way is
// replaced. Nothing here reads or writes a file or the terminal.
#pragma once

#include <string>
#include <vector>

#include "platform/host.h"

namespace tool {

// The way from the output folder down to an entry's file.
struct WalkPlan {
    std::vector<std::string> names;  // host names: each folder, then the file
    std::vector<std::string> paths;  // the host path of each, from the output folder
    std::string key;                 // the name as Windows compares it (WindowsNameKey)
    std::string refusal;             // why the entry is not written; empty when it is
};

// The plan for the stored name `stored` (code page `codePage`) below `outDir`. Refused
// are names the extraction rule refuses, components the host cannot spell (bytes the
// code page does not define, C1 controls), and those that in host text would not stay
// one component. The name is converted once and split as host text (UTF-8), where a
// trail byte 0x5C of a double-byte code page has become part of its character.
WalkPlan PlanWalk(const std::string& stored, unsigned codePage, const std::string& outDir);

// The standing answer about existing files: -y gives All, [A]ll and [N]one on the
// terminal give theirs for the rest of the extraction.
enum class Overwrite { Ask, All, None };

// What the terminal said to "Replace ...?", or that nothing was asked yet.
enum class Reply { NotAsked, Yes, No, All, None, EndOfInput, Unclear };
Reply ParseReply(const std::string& line);

enum class Action { Write, Skip, FolderInTheWay, Ask };
struct OverwriteDecision {
    Action action;
    Overwrite policy;  // the standing answer from now on
};

// What to do with an entry whose file is `existing` (a link counts as a file) under the
// standing answer `policy`, with or without a terminal to ask on, after `reply`. Ask
// means: ask, then decide again with the reply. (A file of an earlier entry of this run
// is never in the way: an entry of a name seen before is refused.)
OverwriteDecision DecideOverwrite(host::PathKind existing, Overwrite policy, bool canAsk,
                                  Reply reply);

}  // namespace tool
