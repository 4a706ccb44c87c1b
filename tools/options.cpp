// The vorx tool's option parser and help texts.
#include "tools/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"
#include "tools/patterns.h"

namespace tool {
namespace {

const char kMainHelp[] =
    "vorx - creates, lists, tests and extracts archives and Windows self-extractors\n"
    "\n"
    "Usage:\n"
    "  vorx a ARCHIVE PATH... [options]      create ARCHIVE from files and folders\n"
    "  vorx l ARCHIVE [PATTERN...] [options] list the entries of ARCHIVE\n"
    "  vorx t ARCHIVE [PATTERN...] [options] test the entries of ARCHIVE\n"
    "  vorx x ARCHIVE [PATTERN...] [options] extract ARCHIVE below a folder\n"
    "  vorx COMMAND --help                   the options of one command\n"
    "  vorx --version                        the version of the tool (also -V)\n"
    "\n"
    "An archive appended to a self-extractor is read like any other.\n"
    "Exit codes: 0 success, 1 warning (something was skipped or left out, or a\n"
    "PATTERN matched no entry), 2 fatal error (corrupt data, wrong password, input or\n"
    "output failure, a refusal), 7 command-line error, 8 out of memory, 255 interrupted.\n";

// What l, t and x say of their patterns.
#define VORX_PATTERN_HELP                                                               \
    "PATTERNs choose entries by their stored names: * stands for any characters, ?\n"   \
    "for one that is not a separator, / and \\ both separate folders, letter case is\n" \
    "ignored as on Windows, and a pattern that matches a folder takes everything\n"     \
    "below it. Without PATTERNs every entry is taken. A PATTERN that matches no\n"      \
    "entry is reported, and the exit code is then at least 1.\n"

#define VORX_EXCLUDE_HELP \
    "  -x PATTERN          leave out the entries PATTERN matches (may be repeated)\n"

#define VORX_CODEPAGE_HELP                                                                  \
    "  --codepage N        Windows code page of the names (default 1252; 874, 1250-1258,\n" \
    "                      28591-28606, 932, 936, 949, 950 or 65001)\n"

#define VORX_DECODE_JOBS_HELP                                                        \
    "  -j N                decode on N threads (default: one per processor; -j 1\n"  \
    "                      decodes on one). Output, messages and exit code do not\n" \
    "                      depend on N. At most 2N blocks of one entry (96 MiB\n"    \
    "                      together) and 64 small entries (32 MiB) are decoded ahead\n"

const char kAddHelp[] =
    "Usage: vorx a ARCHIVE PATH... [options]\n"
    "\n"
    "Creates ARCHIVE from the files and folders given (folders with everything in them).\n"
    "Names are stored relative to each PATH's parent folder, with '\\' between folders,\n"
    "in a Windows code page. Nothing is written when a name cannot be stored.\n"
    "A PATH is taken as you name it, a link there followed. Below it nothing is\n"
    "followed: links, FIFOs, sockets and devices are left out and reported (an archive\n"
    "holds files and folders only), as are files that cannot be opened; the exit code\n"
    "is then 1. Each file is opened once; one that changes while it is read stops the\n"
    "archive, and nothing is written.\n"
    "@LISTFILE takes the paths in LISTFILE, one a line, each as written and taken from\n"
    "the current folder like a PATH (blanks are part of a name; a CR before the line\n"
    "feed is dropped; empty lines are skipped).\n"
    "\n"
    "Options (before or after the paths):\n"
    "  -m0 ... -m9         -m0 stores, -m1 is fastest, -m9 smallest (default -m5)\n"
    "  -j N                compress on N threads (default: one per processor). The\n"
    "                      archive is the same for every N. Memory: up to (2N + 2)\n"
    "                      blocks of 4 MiB in flight, and each thread about 35 MiB\n"
    "                      (-m1 to -m5) or 60 MiB (-m6 to -m9)\n"
    "  -x PATTERN          leave out the files and folders whose stored names PATTERN\n"
    "                      matches (as for vorx l; may be repeated)\n"
    "  -p PASSWORD         encrypt the data of every entry (6 to 63 characters)\n"
    "  --encrypt-names     also encrypt the names table with the same password\n"
    "  --comment FILE      store FILE (at most 16 MiB) as the archive's comment, shown\n"
    "                      by the self-extractor's first page (never encrypted)\n"
    "  --sfx STUB          write a self-extractor: the stub, then the archive. STUB is\n"
    "                      win32 or win64 for the stub installed with the tool (win32\n"
    "                      runs on every Windows), or the path of a stub file\n"
    "  --dest TEXT         the folder the self-extractor proposes (%VARIABLES% allowed)\n"
    "  --run TEXT          the command the self-extractor runs from that folder "
    "afterwards\n" VORX_CODEPAGE_HELP
    "  -y                  replace ARCHIVE when it exists\n"
    "\n"
    "Security: the cipher is legacy-strength. Blowfish is keyed directly with the\n"
    "password's bytes (no salt, no key stretching) and entries are encrypted block by\n"
    "block without chaining. It keeps casual eyes out; it does not stand up to a\n"
    "determined attacker. Use a strong password, or encrypt the file by other means.\n";

const char kListHelp[] =
    "Usage: vorx l ARCHIVE [PATTERN...] [options]\n"
    "\n"
    "Lists the entries: last-write time (UTC), attributes, size, stored size, name.\n"
    "An 'E' marks an entry whose data is encrypted.\n" VORX_PATTERN_HELP
    "\n"
    "Options:\n"
    "  -p PASSWORD         the password, needed when the names table is "
    "encrypted\n" VORX_EXCLUDE_HELP
    "  --json              machine-readable output\n" VORX_CODEPAGE_HELP;

const char kTestHelp[] =
    "Usage: vorx t ARCHIVE [PATTERN...] [options]\n"
    "\n"
    "Decodes the entries and checks their CRC-32, writing nothing.\n" VORX_PATTERN_HELP
    "\n"
    "Options:\n"
    "  -p PASSWORD         the password for the names table and encrypted "
    "entries\n" VORX_EXCLUDE_HELP VORX_DECODE_JOBS_HELP
    "  --json              machine-readable output\n" VORX_CODEPAGE_HELP;

const char kExtractHelp[] =
    "Usage: vorx x ARCHIVE [PATTERN...] [options]\n"
    "\n"
    "Extracts the entries below the output folder and restores their last-write times.\n"
    "Entries whose names Windows could not hold as one file below the folder are\n"
    "refused and reported (exit code 2): \"..\", absolute names, drives, '/', empty\n"
    "components, control characters, < > : \" | ? *, a component that ends in '.' or a\n"
    "blank, and device names (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, with\n"
    "any extension); so are entries that would pass through a link below the folder.\n"
    "The comment entry is not extracted.\n" VORX_PATTERN_HELP
    "\n"
    "Options:\n"
    "  -o DIR              the output folder (default: the current folder)\n"
    "  -y                  replace existing files without asking\n"
    "  -p PASSWORD         the password for the names table and encrypted "
    "entries\n" VORX_EXCLUDE_HELP VORX_DECODE_JOBS_HELP VORX_CODEPAGE_HELP
    "\n"
    "An existing file is replaced only with -y or when you say so on a terminal;\n"
    "otherwise it is kept, reported, and the exit code is 1. A replacement is written\n"
    "beside the file and renamed over it: a link of that name is replaced, not followed.\n";

}  // namespace

namespace {

// The options that take a text, and the commands they apply to.
struct TextOption {
    const char* name;
    const char* commands;
    std::optional<std::string> Options::*field;
};
constexpr TextOption kTextOptions[] = {
    {"--comment", "a", &Options::comment},
    {"--sfx", "a", &Options::sfx},
    {"--dest", "a", &Options::dest},
    {"--run", "a", &Options::run},
};

// The command line, read one argument after another.
struct Parser {
    int argc;
    char** argv;
    int i;
    Options& o;

    std::string Value(const std::string& name) {
        if (i + 1 >= argc) throw UsageError{"option " + name + " needs a value"};
        return argv[++i];
    }
    void Allowed(const char* commands, const std::string& name) const {
        if (!std::strchr(commands, o.command))
            throw UsageError{"option " + name + " does not apply to command '" +
                             std::string(1, o.command) + "'"};
    }
    // The value of a short option, given apart ("-j 4") or joined ("-j4").
    std::string Short(const std::string& arg, const std::string& name) {
        return arg == name ? Value(name) : arg.substr(2);
    }
    // A number from 1 to `most`; 0 when the text is none.
    static unsigned Number(const std::string& text, unsigned long most) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(text.c_str(), &end, 10);
        return text.empty() || text[0] == '-' || *end || n > most ? 0 : static_cast<unsigned>(n);
    }
    void Take(const std::string& arg);
};

bool Starts(const std::string& arg, const char* option) {
    return arg.rfind(option, 0) == 0 && arg.size() > std::strlen(option);
}

void Parser::Take(const std::string& arg) {
    for (const TextOption& t : kTextOptions)
        if (arg == t.name) {
            Allowed(t.commands, arg);
            o.*t.field = Value(arg);
            return;
        }
    if (arg == "--help" || arg == "-h") {
        o.help = true;
    } else if (arg == "-p" || (Starts(arg, "-p") && arg[2] != '-')) {
        o.password = Short(arg, "-p");
    } else if (arg == "-y" || arg == "--encrypt-names" || arg == "--json") {
        Allowed(arg == "-y" ? "ax" : arg == "--json" ? "lt" : "a", arg);
        (arg == "-y" ? o.yes : arg == "--json" ? o.json : o.encryptNames) = true;
    } else if (arg == "-o" || Starts(arg, "-o")) {
        Allowed("x", "-o");
        o.outDir = Short(arg, "-o");
    } else if (arg.size() == 3 && arg[0] == '-' && arg[1] == 'm' && arg[2] >= '0' &&
               arg[2] <= '9') {
        Allowed("a", arg);
        o.level = arg[2] - '0';
        o.levelGiven = true;
    } else if (arg == "-x" || Starts(arg, "-x")) {
        o.exclude.push_back(Short(arg, "-x"));
    } else if (arg == "-j" || Starts(arg, "-j")) {
        Allowed("atx", "-j");
        const std::string text = Short(arg, "-j");
        if (!(o.jobs = Number(text, kMaxJobs)))
            throw UsageError{"-j needs a number of threads from 1 to " + std::to_string(kMaxJobs) +
                             ", not '" + text + "'"};
    } else if (arg == "--codepage" || arg.rfind("--codepage=", 0) == 0) {
        const std::string text = arg == "--codepage" ? Value(arg) : arg.substr(11);
        if (!(o.codePage = Number(text, 65535)))
            throw UsageError{"--codepage needs a code page number, not '" + text + "'"};
    } else {
        throw UsageError{"unknown option '" + arg + "'"};
    }
}

// What the arguments after the options make of the command.
void TakePositional(const std::vector<std::string>& positional, Options* o) {
    if (positional.empty()) throw UsageError{"no archive given"};
    o->archive = positional[0];
    (o->command == 'a' ? o->paths : o->patterns).assign(positional.begin() + 1, positional.end());
    if (o->command == 'a' && o->paths.empty()) throw UsageError{"no files or folders to add"};
    if (o->encryptNames && !o->password) throw UsageError{"--encrypt-names needs a password (-p)"};
    if ((o->dest || o->run) && !o->sfx) throw UsageError{"--dest and --run need --sfx STUB"};
    for (const std::vector<std::string>* list : {&o->patterns, &o->exclude})
        for (const std::string& pattern : *list) {
            std::string utf8, error;
            if (!HostToUtf8(pattern, &utf8, &error))
                throw UsageError{"the pattern '" + pattern +
                                 "' cannot be compared with names: " + error};
        }
}

}  // namespace

Options ParseCommandLine(int argc, char** argv) {
    Options o;
    if (argc < 2) throw UsageError{"no command given"};
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        o.help = true;
        if (argc > 2 && std::strlen(argv[2]) == 1) o.command = argv[2][0];
        return o;
    }
    if (command == "--version" || command == "-V") {
        if (argc > 2) throw UsageError{"unexpected argument '" + std::string(argv[2]) + "'"};
        o.version = true;
        return o;
    }
    if (command.size() != 1 || std::string("altx").find(command[0]) == std::string::npos)
        throw UsageError{"unknown command '" + command + "'"};
    o.command = command[0];

    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (Parser p{argc, argv, 2, o}; p.i < argc; ++p.i) {
        const std::string arg = argv[p.i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-")
            positional.push_back(arg);
        else if (arg == "--")
            optionsEnded = true;
        else
            p.Take(arg);
    }
    if (!o.help) TakePositional(positional, &o);
    return o;
}

unsigned Threads(const Options& o) {
    return o.jobs != 0 ? o.jobs : std::min(host::ProcessorCount(), kMaxJobs);
}

const char* HelpText(char command) {
    return command == 'a'   ? kAddHelp
           : command == 'l' ? kListHelp
           : command == 't' ? kTestHelp
           : command == 'x' ? kExtractHelp
                            : kMainHelp;
}

}  // namespace tool
