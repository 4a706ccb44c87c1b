// The extraction hunt in the fuzzing engine's hands: the input chooses a hostile case
// (tests/fuzz/hostile_case.h), the tool's own `x` extracts it in this process, and every
// invariant is checked after it.
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/hostile_case.h"
#include "tools/commands.h"

namespace {

// Runs `x` with standard output and error in `file`.
int ExtractInto(const tool::Options& options, const std::string& file) {
    std::fflush(nullptr);
    const int saved[] = {dup(1), dup(2)};
    const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (int fd : {1, 2}) dup2(out, fd);
    close(out);
    const int code = tool::Extract(options);
    std::fflush(nullptr);
    for (int fd : {1, 2}) {
        dup2(saved[fd - 1], fd);
        close(saved[fd - 1]);
    }
    return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool localeSet = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    fuzz::Check(localeSet, "the C.UTF-8 locale exists");
    hunt::Choices choices(data, size);
    const hunt::Case c = hunt::MakeCase(choices, {1252, 932, 936, 949, 950, 65001}, 5);
    hunt::Scene scene(c);
    std::string error;
    fuzz::Check(scene.ok && hunt::WriteArchive(c, scene.archive, {}, &error),
                "the case can be made");
    scene.snapshot = scene.Current();

    const tool::Options options{.command = 'x',
                                .archive = scene.archive,
                                .password = c.password,
                                .yes = c.yes,
                                .outDir = scene.out,
                                .codePage = c.codePage,
                                .jobs = c.jobs};
    const std::string outputFile = scene.root + ".output";
    const int code = ExtractInto(options, outputFile);
    const hunt::Outcome outcome{
        .exitCode = code, .output = hunt::ReadAll(outputFile), .counts = true};
    std::remove(outputFile.c_str());
    const auto broken = hunt::Check(c, scene, outcome);
    if (broken.empty()) return 0;
    std::fprintf(stderr, "%s", hunt::Describe(c).c_str());
    for (const std::string& b : broken) std::fprintf(stderr, "  -> %s\n", b.c_str());
    fuzz::Check(false, "an extraction kept every invariant");
    return 0;
}
