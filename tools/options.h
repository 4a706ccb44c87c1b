// The command line of the vorx tool: its options, the help texts, and the exit codes
// every command reports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "writer/compressor.h"

namespace tool {

enum ExitCode {
    kExitOk = 0,
    kExitWarning = 1,
    kExitFatal = 2,
    kExitUsage = 7,
    kExitNoMemory = 8,
    kExitInterrupted = 255,
};

constexpr unsigned kDefaultCodePage = 1252;

// A command line the tool cannot run, with the reason (exit code 7).
struct UsageError {
    std::string message;
};

// The command and everything the command line gave it.
struct Options {
    char command = 0;
    bool help = false;
    bool version = false;
    std::string archive;
    std::vector<std::string> paths;     // a: files, folders and @LISTFILEs
    std::vector<std::string> patterns;  // l, t, x: the entries to take (none: all)
    std::vector<std::string> exclude;   // -x: entries (a: paths collected) left out
    std::optional<std::string> password;
    bool encryptNames = false;
    std::optional<std::string> comment;
    int level = vorx::kDefaultLevel;
    bool levelGiven = false;
    std::optional<std::string> sfx;
    std::optional<std::string> dest;
    std::optional<std::string> run;
    bool yes = false;
    std::optional<std::string> outDir;
    bool json = false;
    unsigned codePage = kDefaultCodePage;
    unsigned jobs = 0;  // threads of a, t and x; 0: one per processor
};

// The most threads -j takes.
constexpr unsigned kMaxJobs = 64;

// The threads -j asks for, or one per processor this process may use.
unsigned Threads(const Options& o);

// The options of `argv`; a UsageError when they make no command (the only exception the
// tool throws for a refusal: the commands report theirs and return the exit code).
Options ParseCommandLine(int argc, char** argv);

// The help text of command `command` ('a', 'l', 't' or 'x'), or of the tool for any other.
const char* HelpText(char command);

}  // namespace tool
