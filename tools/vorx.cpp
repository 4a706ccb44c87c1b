// vorx: creates archives and self-extractors, lists, tests and extracts them.
//
//   vorx a ARCHIVE PATH... [options]   create an archive (or a self-extractor)
//   vorx l ARCHIVE [options]           list the entries
//   vorx t ARCHIVE [options]           test every entry
//   vorx x ARCHIVE [options]           extract below a folder
//
// Exit codes: 0 success, 1 warning (something skipped), 2 fatal error, 7 command-line
// error, 8 out of memory, 255 interrupted.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "container/name_policy.h"
#include "platform/host.h"
#include "tools/commands.h"
#include "vorx_version.h"

namespace {

using namespace tool;

int Run(int argc, char** argv) {
    host::PrepareOutput();
    // The arguments as host text (UTF-8), whatever the system's code page.
    std::vector<std::string> arguments = host::Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    Options o;
    try {
        o = ParseCommandLine(static_cast<int>(arguments.size()), pointers.data());
    } catch (const UsageError& e) {
        Error(e.message);
        std::fprintf(stderr, "Try 'vorx --help'.\n");
        return kExitUsage;
    }
    if (o.version) {
        std::printf("vorx %s\n", VORX_VERSION);
        return kExitOk;
    }
    if (o.help) {
        std::fputs(HelpText(o.command), stdout);
        return kExitOk;
    }
    if (!vorx::IsNameCodePage(o.codePage)) {
        // In other code pages '.', '\\' or '/' are other bytes, and no name could be
        // judged by its stored bytes.
        return Fail(kExitFatal,
                    "code page " + std::to_string(o.codePage) +
                        " cannot be used for names: only code pages in which the ASCII bytes "
                        "mean ASCII (874, 1250-1258, ISO 8859 as 28591-28606, 932, 936, 949, 950, "
                        "65001)");
    }
    host::OnInterrupt(&OnInterrupt);
    try {
        switch (o.command) {
            case 'a':
                return Add(o);
            case 'l':
                return List(o);
            case 't':
                return Test(o);
            default:
                return Extract(o);
        }
    } catch (const std::bad_alloc&) {
        Error("out of memory");
        return kExitNoMemory;
    }
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
