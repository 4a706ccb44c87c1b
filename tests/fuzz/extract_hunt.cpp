// Hunts for extractions that an archive or the destination folder can steer: makes
// hostile cases from a seed (tests/fuzz/hostile_case.h), runs an extraction program on
// each and checks the invariants after every case.
//
//   extract_hunt --tool VORX [--cases N] [--seed N] [--codepages 1252,932]
//                [--wine RUNNER] [--stub STUB.exe] [--race] [--full]
//
// --tool runs `VORX x ARCHIVE -o OUT ...` (through RUNNER under Wine: paths as Z:\...).
// --stub instead makes each case a self-extractor of STUB whose destination is OUT and
// runs it with "/q /s". --race swaps a folder of the destination for a link to a folder
// outside it, and back, all the while the extraction runs. --full makes the cases on a
// tmpfs of 5 MiB that they fill: what does not fit must fail whole, leave no part behind
// and be told by the exit code. Under Wine the program's ANSI code page comes from the
// locale the caller set (LANG, LC_ALL, LOCPATH).
// Exits with 1 when a case broke an invariant (each is printed with its seed), 77 when
// --full cannot mount (it needs root), 0 otherwise.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/hostile_case.h"
#include "writer/sfx_maker.h"

namespace {

struct Settings {
    std::string tool, wine, stub;
    std::vector<unsigned> codePages{1252, 932, 936, 949, 950, 65001};
    uint64_t seed = 1, cases = 100;
    bool race = false, full = false;
    std::string folder = "/tmp";
};

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// Swaps `path` (a folder or a file) for a link to `target` and back until told to stop,
// then leaves what was there in place.
void Swap(const std::string& path, const std::string& target, const std::atomic<bool>& stop) {
    const std::string stash = path + ".hunt-stash";
    for (struct stat st; !stop.load(); std::this_thread::yield()) {
        if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) ||
            rename(path.c_str(), stash.c_str()) != 0)
            continue;
        (void)!symlink(target.c_str(), path.c_str());
        std::this_thread::yield();
        unlink(path.c_str());
        rename(stash.c_str(), path.c_str());
    }
}

// One case: the broken invariants, none, or nothing when it could not be staged.
std::optional<std::vector<std::string>> RunCase(const Settings& s, uint64_t seed,
                                                std::string* description) {
    hunt::Choices choices(seed);
    // The self-extractor stops at the first entry it cannot write: milder cases reach
    // further into it.
    hunt::Case c = hunt::MakeCase(choices, s.codePages, 6, s.stub.empty() ? 4 : 16);
    // A small file system: one more entry, large enough to fill it at some point.
    if (s.full)
        c.entries.push_back(hunt::Plain("big" + std::to_string(seed % 3) + ".bin", c.entries.size(),
                                        (1u << 20) + seed * 7919 % (3u << 20) - 10, 'b'));
    if (s.race) {
        // Many plain files below the one folder that is swapped, so that the swap
        // meets the extraction between its steps.
        c.entries.clear();
        for (size_t i = 0; i < 40; ++i)
            c.entries.push_back(hunt::Plain(
                i ? "sub\\" + std::string(i % 3 ? "" : "deeper\\") + "f" + std::to_string(i)
                  : "sub\\first",
                i, i * 97 % 2000, 'r'));
        c.plants.clear();
        c.encryptNames = false;
    }
    // The self-extractor decides alone: it asks nothing in a silent run and has no
    // thread count to give.
    if (!s.stub.empty()) c.password.reset(), c.yes = false;
    *description = hunt::Describe(c);
    hunt::Scene scene(c, s.folder);
    if (!scene.ok) return {{"the scene could not be made"}};
    const bool wine = !s.wine.empty();
    auto path = [&](const std::string& p) { return wine ? WindowsPath(p) : p; };

    std::vector<uint8_t> carrier;
    std::string error;
    std::string archive = scene.archive;
    if (!s.stub.empty()) {
        vorx::SfxConfig config;
        config.destination = WindowsPath(scene.out);
        if (!vorx::PrepareStub(s.stub.c_str(), config, &carrier, &error))
            return {{"the stub: " + error}};
        archive = scene.root + "/setup.exe";
    }
    // On a small file system the archive itself may not fit: the case is not staged.
    if (!hunt::WriteArchive(c, archive, carrier, &error)) {
        if (s.full) return std::nullopt;
        return {{"the archive: " + error}};
    }
    scene.snapshot = scene.Current();

    // Under Wine the runner script starts the Windows program named after it. The program
    // runs in the case's folder, its whole process group stopped when it takes too long.
    std::string command = "cd '" + scene.root + "' && exec timeout -k 5 " + (wine ? "120 " : "60 ");
    for (const std::string& arg : {s.wine, s.stub.empty() ? s.tool : path(archive)})
        command += arg.empty() ? "" : "'" + arg + "' ";
    if (!s.stub.empty())
        command += "/q /s";
    else
        command += "x '" + path(archive) + "' -o '" + path(scene.out) + "' --codepage " +
                   std::to_string(c.codePage) + " -j " + std::to_string(c.jobs) +
                   (c.yes ? " -y" : "") + (c.password ? " -p " + *c.password : "");
    const std::string outputFile = "/tmp/vorx-hunt-" + std::to_string(getpid()) + ".output";
    command += " </dev/null >'" + outputFile + "' 2>&1";

    // The folder all files go to, or (odd seeds) one of the files, swapped for a link out. One
    // at a time: a file swapped below a folder that is a link meanwhile would be outside.
    std::atomic<bool> stop{false};
    const bool folder = seed % 2 == 0;
    std::thread racer;
    if (s.race)
        racer = std::thread(Swap, scene.out + (folder ? "/sub" : "/sub/f1"),
                            scene.root + (folder ? "/outside/dir" : "/outside/secret.txt"),
                            std::cref(stop));
    const int status = std::system(command.c_str());
    stop = true;
    if (racer.joinable()) racer.join();
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    const hunt::Outcome outcome{.exitCode = exitCode,
                                .timedOut = exitCode == 124 || exitCode == 137,
                                .output = hunt::ReadAll(outputFile),
                                .counts = s.stub.empty(),
                                .ignoreCase = wine,
                                .race = s.race};
    std::remove(outputFile.c_str());
    if (exitCode == 126 || exitCode == 127) return {{"the program could not be started"}};
    *description += "  exit code " + std::to_string(exitCode) + ", output:\n" + outcome.output;
    return hunt::Check(c, scene, outcome);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--race" || a == "--full") {
            (a == "--race" ? s.race : s.full) = true;
            continue;
        }
        ++i;
        if (a == "--tool" || a == "--wine" || a == "--stub")
            (a == "--tool" ? s.tool : a == "--wine" ? s.wine : s.stub) = value;
        else if (a == "--codepages") {
            std::istringstream list(value);
            s.codePages.clear();
            for (std::string cp; std::getline(list, cp, ',');)
                s.codePages.push_back(static_cast<unsigned>(std::stoul(cp)));
        } else if (a == "--seed" || a == "--cases")
            (a == "--seed" ? s.seed : s.cases) = std::strtoull(value.c_str(), nullptr, 10);
        else
            return std::fprintf(stderr, "extract_hunt: unknown option %s\n", a.c_str()), 2;
    }
    for (std::string* p : {&s.tool, &s.wine, &s.stub})  // each case runs in its own folder
        if (!p->empty()) *p = std::filesystem::absolute(*p).string();
    if (s.tool.empty() == s.stub.empty()) {
        std::fprintf(stderr, "extract_hunt: give --tool or --stub\n");
        return 2;
    }
    if (s.full) {
        s.folder = "/tmp/vorx-full-XXXXXX";
        if (!mkdtemp(s.folder.data()) ||
            mount("tmpfs", s.folder.c_str(), "tmpfs", 0, "size=5m") != 0) {
            rmdir(s.folder.c_str());
            std::printf("SKIPPED: a small tmpfs cannot be mounted here (it needs root)\n");
            return 77;
        }
    }
    unsigned failures = 0, unstaged = 0;
    uint64_t run = 0;
    for (; run < s.cases && failures < 20; ++run) {
        std::string description;
        const auto broken = RunCase(s, s.seed + run, &description);
        unstaged += !broken;
        if (!broken || broken->empty()) continue;
        ++failures;
        std::printf("case %llu broke %zu invariant%s:\n%s",
                    static_cast<unsigned long long>(s.seed + run), broken->size(),
                    broken->size() == 1 ? "" : "s", description.c_str());
        for (const std::string& b : *broken) std::printf("  -> %s\n", b.c_str());
    }
    if (s.full) {
        umount(s.folder.c_str());
        rmdir(s.folder.c_str());
    }
    // A run whose every case could not be staged checked nothing.
    std::printf("%llu cases from seed %llu, %u not staged, %u broke an invariant\n",
                static_cast<unsigned long long>(run), static_cast<unsigned long long>(s.seed),
                unstaged, failures);
    return failures || unstaged == run ? 1 : 0;
}
