// The benchmark: our compressor and decoder beside zlib, xz and zstd on the same
// inputs, in one process and one timing loop, single thread, data in memory.
//
//   vorx-bench CORPUS-DIR [--archive ARCHIVE] [--rounds N] [--targets FILE]
//       the codec table, the ratios that matter, small-file decoding, CRC-32
//       throughput, instructions per byte (under callgrind, when valgrind is there)
//       and, given an archive of the corpus folder, the entry index's effect; then
//       each target with met / NOT MET (also appended to FILE)
//   vorx-bench --measure -- COMMAND ARGS...
//       runs a command and prints "seconds cpu-seconds peak-RSS-KiB" (for scripts/bench)
//   vorx-bench --count-decode CODEC CORPUS-DIR
//       the decode loop that callgrind counts (started by the benchmark itself)
//   vorx-bench --count-small CODEC CORPUS-DIR
//       the same on the 4 KiB entries (for profiling the fixed costs of a block)
//   vorx-bench --sizes CORPUS-DIR [--every N] [--levels 159]
//       one round of our levels beside zlib-6 and zlib-9 on the corpus folder (every
//       Nth file): sizes, speeds and where our bits go (for work on the compressor)
//   vorx-bench --bound CORPUS-DIR [--every N]
//       how far a zlib-9-like parse's matches carry into our format (bench/bound.h),
//       also printed by the whole benchmark beside the targets
//   vorx-bench --decode CORPUS-DIR [--rounds N]
//       only the decoders: ours (-m5 data) beside zlib-6 on the corpus folder, the
//       text, the DLL and 4 KiB entries, with their time ratios (for work on the decoder)
//
// Times are the thread's CPU time, the median of several rounds; every codec and input
// is timed in each round in turn, so that a busy machine slows all of them alike.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/bound.h"
#include "bench/codecs.h"
#include "writer/compressor.h"
#include "container/crc32.h"
#include "library/stream.h"
#include "library/vorx.h"

namespace vorx::bench {
namespace {

namespace fs = std::filesystem;

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Bytes ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes;
}

struct Input {
    std::string name;
    std::vector<Bytes> files;
    uint64_t bytes = 0;
    size_t largest = 0;

    void Add(Bytes b) {
        bytes += b.size();
        largest = std::max(largest, b.size());
        files.push_back(std::move(b));
    }
};

// The files of a folder in sorted order of their paths (the order an archive of it has).
std::vector<fs::path> FolderFiles(const fs::path& folder) {
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

Input LoadFolder(const fs::path& folder, const std::string& name, size_t every = 1) {
    Input in;
    in.name = name;
    const std::vector<fs::path> paths = FolderFiles(folder);
    for (size_t i = 0; i < paths.size(); i += every) in.Add(ReadWhole(paths[i]));
    return in;
}

Input LoadFile(const fs::path& path, const std::string& name) {
    Input in;
    in.name = name;
    in.Add(ReadWhole(path));
    return in;
}

// Decoding must give back every file: checked once, outside the timing.
bool Verify(Codec& codec, const Input& input, const std::vector<Packed>& packed) {
    Bytes out(input.largest + 1);
    for (size_t i = 0; i < input.files.size(); ++i) {
        const Bytes& f = input.files[i];
        if (!codec.Decompress(packed[i], out.data(), f.size()) || std::memcmp(out.data(), f.data(), f.size()) != 0) {
            std::fprintf(stderr, "%s: file %zu of %s does not decode to itself\n", codec.name().c_str(), i,
                         input.name.c_str());
            return false;
        }
    }
    return true;
}

struct Cell {
    Codec* codec;
    const Input* input;
    std::vector<Packed> packed;
    uint64_t compressed = 0;
    std::vector<double> compressTimes, decodeTimes;
    bool ok = true;

    double CompressMBps() const { return input->bytes / 1e6 / Median(compressTimes); }
    double DecodeMBps() const { return input->bytes / 1e6 / Median(decodeTimes); }
    double Ratio() const { return static_cast<double>(input->bytes) / static_cast<double>(compressed); }
};

bool CompressAll(Cell& c) {
    c.packed.resize(c.input->files.size());
    c.compressed = 0;
    for (size_t i = 0; i < c.input->files.size(); ++i) {
        const Bytes& f = c.input->files[i];
        if (!c.codec->Compress(f.data(), f.size(), &c.packed[i])) return false;
        c.compressed += c.packed[i].size;
    }
    return true;
}

bool DecodeAll(Cell& c, Bytes& out) {
    bool ok = true;
    for (size_t i = 0; i < c.input->files.size(); ++i)
        ok &= c.codec->Decompress(c.packed[i], out.data(), c.input->files[i].size());
    return ok;
}

// Rounds of `work` over every cell in turn: at least minRounds, at most maxRounds,
// and no further round for a cell whose times add up to more than `budget` seconds.
void TimeRounds(std::vector<Cell*>& cells, int minRounds, int maxRounds, double budget,
                const std::function<bool(Cell&)>& work, std::vector<double> Cell::*times) {
    for (int round = 0; round < maxRounds; ++round) {
        for (Cell* c : cells) {
            if (!c->ok) continue;
            double spent = 0;
            for (double t : c->*times) spent += t;
            if (round >= minRounds && spent > budget) continue;
            const double start = CpuSeconds();
            if (!work(*c)) {
                c->ok = false;
                std::fprintf(stderr, "%s failed on %s\n", c->codec->name().c_str(), c->input->name.c_str());
                continue;
            }
            (c->*times).push_back(CpuSeconds() - start);
        }
    }
}

const char* Mark(bool met) { return met ? "met" : "NOT MET"; }

// The targets' summary: each line "target: figure   met|NOT MET|not measured", kept
// in order and printed together at the end (and appended to --targets FILE, where
// scripts/bench adds the whole-program targets to the same summary).
std::vector<std::string>& Targets() {
    static std::vector<std::string> lines;
    return lines;
}

void Target(const char* name, const std::string& figure, const char* verdict) {
    char line[256];
    std::snprintf(line, sizeof line, "  %-52s %-22s %s", name, figure.c_str(), verdict);
    Targets().push_back(line);
}

std::string Figure(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// ---------------------------------------------------------------------------
// Modes run as separate processes.

// Runs a command (its standard output discarded) and prints its wall time, the
// processor time of it and its descendants, and the peak resident memory of the
// largest of them: "seconds cpu-seconds KiB".
int Measure(char** argv) {
    const double start = WallSeconds();
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = WallSeconds() - start;
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    std::printf("%.3f %.3f %ld\n", seconds, cpu, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

// Every eighth file of the corpus folder: about 12 MB.
constexpr size_t kInstructionSampleEvery = 8;

// The decode loop whose instructions callgrind counts: the sample is compressed with
// instrumentation off, then decoded once with it on.
int CountDecode(const std::string& codecName, const fs::path& corpus, bool smallEntries = false) {
    Input input;
    if (smallEntries) {
        // 4 KiB from the start of every corpus file that has them.
        for (const Bytes& f : LoadFolder(corpus / "installer", "installer").files)
            if (f.size() >= 4096) input.Add(Bytes(f.begin(), f.begin() + 4096));
    } else {
        input = LoadFolder(corpus / "installer", "sample", kInstructionSampleEvery);
    }
    std::unique_ptr<Codec> codec = codecName == "ours" ? MakeOurs(5) : MakeZlib(6);
    Cell cell{codec.get(), &input, {}, 0, {}, {}, true};
    if (!CompressAll(cell)) return 2;
    Bytes out(input.largest + 1);
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    const bool ok = DecodeAll(cell, out);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    std::printf("%" PRIu64 "\n", input.bytes);
    return ok ? 0 : 2;
}

// For profiling: the sample decoded `rounds` times.
int DecodeLoop(const std::string& codecName, const fs::path& corpus, int rounds) {
    const Input input = LoadFolder(corpus / "installer", "sample", kInstructionSampleEvery);
    std::unique_ptr<Codec> codec = codecName == "ours" ? MakeOurs(5) : MakeZlib(6);
    Cell cell{codec.get(), &input, {}, 0, {}, {}, true};
    if (!CompressAll(cell)) return 2;
    Bytes out(input.largest + 1);
    const double start = CpuSeconds();
    for (int r = 0; r < rounds; ++r)
        if (!DecodeAll(cell, out)) return 2;
    std::printf("%.1f MB/s\n", input.bytes * rounds / 1e6 / (CpuSeconds() - start));
    return 0;
}

// Instructions per output byte of a codec's decoder under callgrind, or a negative
// value when valgrind cannot be run.
double InstructionsPerByte(const std::string& self, const std::string& codec, const fs::path& corpus,
                           const fs::path& scratch, bool smallEntries = false) {
    const std::string out = (scratch / ("callgrind." + codec + (smallEntries ? ".small" : ""))).string();
    const std::string bytesFile = out + ".bytes";
    const std::string command = "valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no "
                                "--callgrind-out-file=" + out + " '" + self + "' " +
                                (smallEntries ? "--count-small " : "--count-decode ") + codec + " '" +
                                corpus.string() + "' > " + bytesFile + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return -1;
    std::ifstream bytesIn(bytesFile), profile(out);
    double bytes = 0;
    bytesIn >> bytes;
    std::string line;
    double instructions = -1;
    while (std::getline(profile, line)) {
        if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0)
            instructions = std::max(instructions, std::strtod(line.c_str() + line.find(':') + 1, nullptr));
    }
    return bytes > 0 && instructions > 0 ? instructions / bytes : -1;
}

// ---------------------------------------------------------------------------
// The entry index on an archive of the corpus folder.

uint64_t ReadCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value;
    while (io >> key >> value)
        if (key == "syscr:") return value;
    return 0;
}

struct ExtractionCost {
    double seconds = 0;
    uint64_t reads = 0;
    uint64_t entries = 0;
    bool ok = true;
};

// Opens the archive, enumerates every entry and extracts it to memory by name, as the
// self-extractor's worker does.
ExtractionCost ExtractByName(const std::string& archive, bool useIndex) {
    ExtractionCost cost;
    const uint64_t reads = ReadCalls();
    const double start = WallSeconds();
    vorx_Stream* handle = nullptr;
    if (vorx_OpenStream(&handle, archive.c_str(), nullptr, 2) != vorx_Success) {
        cost.ok = false;
        return cost;
    }
    if (!useIndex) handle->index.Disable();
    Bytes out;
    const uint64_t count = vorx_GetNumFiles(handle);
    for (uint64_t i = 0; i < count; ++i) {
        vorx_FileInfo info;
        if (vorx_EnumerateFiles(handle, &info, i) != vorx_Success) {
            cost.ok = false;
            break;
        }
        out.resize(info.uncompressedSize + 1);
        if (vorx_DecompressToPtr(handle, info.name, out.data(), nullptr, nullptr) != vorx_Success) {
            cost.ok = false;
            break;
        }
    }
    vorx_CloseStream(handle);
    cost.seconds = WallSeconds() - start;
    cost.reads = ReadCalls() - reads;
    cost.entries = count;
    return cost;
}

// ---------------------------------------------------------------------------

// Small entries: 4 KiB from the start of every corpus file that has them, decoded by
// our decoder and by zlib-6; the cost per file and its ratio.
void SmallEntries(const Input& installer) {
    Input small;
    small.name = "4 KiB files";
    for (const Bytes& f : installer.files)
        if (f.size() >= 4096) small.Add(Bytes(f.begin(), f.begin() + 4096));
    std::unique_ptr<Codec> ours = MakeOurs(5), zlib = MakeZlib(6);
    Cell a{ours.get(), &small, {}, 0, {}, {}, true}, b{zlib.get(), &small, {}, 0, {}, {}, true};
    std::vector<Cell*> pair{&a, &b};
    if (!(CompressAll(a) && CompressAll(b) && Verify(*ours, small, a.packed) && Verify(*zlib, small, b.packed))) return;
    Bytes buffer(4097);
    TimeRounds(pair, 5, 9, 3.0, [&](Cell& c) { return DecodeAll(c, buffer); }, &Cell::decodeTimes);
    const double perFileOurs = Median(a.decodeTimes) / small.files.size() * 1e6;
    const double perFileZlib = Median(b.decodeTimes) / small.files.size() * 1e6;
    const double ratio = perFileOurs / perFileZlib;
    std::printf("Small entries (%zu files of 4 KiB): vorx %.2f us, zlib-6 %.2f us per file: %.2fx   "
                "(target <= 1.2: %s)\n\n",
                small.files.size(), perFileOurs, perFileZlib, ratio, Mark(ratio <= 1.2));
    Target("4 KiB entries, decode time / zlib-6's <= 1.2", Figure("%.2fx", ratio), Mark(ratio <= 1.2));
}

// Decode speed only, ours (-m5 data) against zlib-6: quicker than the whole table.
int DecodeOnly(const fs::path& corpus, int rounds) {
    std::vector<Input> inputs;
    inputs.push_back(LoadFolder(corpus / "installer", "installer (per file)"));
    inputs.push_back(LoadFile(corpus / "text.txt", "text"));
    inputs.push_back(LoadFile(corpus / "library.dll", "dll"));
    std::unique_ptr<Codec> ours = MakeOurs(5), zlib = MakeZlib(6);
    std::vector<Cell> cells;
    for (const Input& in : inputs)
        for (Codec* c : {ours.get(), zlib.get()}) cells.push_back(Cell{c, &in, {}, 0, {}, {}, true});
    std::vector<Cell*> all;
    size_t largest = 0;
    for (Cell& c : cells) {
        if (!CompressAll(c) || !Verify(*c.codec, *c.input, c.packed)) return 2;
        all.push_back(&c);
        largest = std::max(largest, c.input->largest);
    }
    Bytes out(largest + 1);
    TimeRounds(all, rounds, rounds, 0.0, [&](Cell& c) { return DecodeAll(c, out); }, &Cell::decodeTimes);
    for (size_t i = 0; i < cells.size(); i += 2) {
        if (!cells[i].ok || !cells[i + 1].ok) return 2;
        std::printf("%-22s vorx %8.1f MB/s   zlib-6 %8.1f MB/s   %.2fx\n", cells[i].input->name.c_str(),
                    cells[i].DecodeMBps(), cells[i + 1].DecodeMBps(),
                    cells[i].DecodeMBps() / cells[i + 1].DecodeMBps());
    }
    SmallEntries(inputs[0]);
    return 0;
}

// The bound (bench/bound.h) over a corpus input, printed with its sizes against
// zlib-9's `zlib9` bytes and our `ours` bytes (whose matches covered `oursMatchBytes`);
// its two sizes also join the targets' summary.
void PrintBound(const Input& input, uint64_t zlib9, uint64_t ours, uint64_t oursMatchBytes) {
    BoundFigures f;
    for (const Bytes& file : input.files) AddBound(file.data(), file.size(), kWriterBlockSize, &f);
    auto share = [](uint64_t part, uint64_t whole) { return whole ? 100.0 * part / whole : 0.0; };
    std::printf("Bound: a zlib-9-like parse (32 KiB window, chains of 4096, lengths 3..258, lazy) in this format\n");
    std::printf("  its matches: %" PRIu64 ", covering %.1f%% of the bytes (vorx -m9's matches cover %.1f%%)\n", f.matches,
                share(f.matchBytes, f.inputBytes), share(oursMatchBytes, f.inputBytes));
    std::printf("  same two-byte bucket at source and target: %.1f%%; and the source begins a step: %.1f%%\n",
                share(f.sameContext, f.matches), share(f.sourceAtStep, f.matches));
    std::printf("  representable with the table managed by an oracle: %.1f%% of the matches, %.1f%% of their bytes\n",
                share(f.oracleMatches, f.matches), share(f.oracleBytes, f.matchBytes));
    std::printf("  found by the decoder's table on the parse's own steps: %.1f%% of the matches, %.1f%% of their bytes\n",
                share(f.tableMatches, f.matches), share(f.tableBytes, f.matchBytes));
    const double all = static_cast<double>(f.sizeAll) / zlib9, oracle = static_cast<double>(f.sizeOracle) / zlib9,
                 table = static_cast<double>(f.sizeTable) / zlib9;
    std::printf("  size / zlib-9 (matches not representable sent as literals): every match kept %.3f, "
                "oracle table %.3f, decoder's table %.3f; ours %.3f\n",
                all, oracle, table, static_cast<double>(ours) / zlib9);
    std::printf("  our own parse with a table of unlimited slots (every earlier position of either bucket, chains of 64, "
                "lengths up to 258): %.3f\n\n",
                static_cast<double>(f.sizeUnlimited) / zlib9);
    std::printf("Where our level-9 parse (%.3f x zlib-9 here) loses its matches: at its literal steps, %" PRIu64
                " copies of 4 bytes or more (%" PRIu64 " bytes, %.1f%% of the input) from an earlier step start of the\n"
                "  bucket, which the four slots no longer held. Of these sources %.1f%% had been replaced as the bucket's unused slot\n"
                "  by a later step of that bucket (%.1f%% by its very next step, %.1f%% by a step beginning a match);\n"
                "  the replacing step could have copied one byte or more from the source, and so kept it, for %.1f%% of them\n"
                "  (%" PRIu64 " bytes, %.1f%% of the lost bytes); the others it could keep only by beginning no step in that bucket\n"
                "  until they were wanted\n\n",
                static_cast<double>(f.parseBytes) / zlib9, f.lost, f.lostBytes, share(f.lostBytes, f.inputBytes),
                share(f.lostUnused, f.lost), share(f.lostNextStep, f.lost), share(f.lostByMatchStart, f.lost),
                share(f.lostRefreshable, f.lost), f.lostRefreshableBytes, share(f.lostRefreshableBytes, f.lostBytes));
    Target("bound: zlib-9's matches, oracle table, size/zlib-9", Figure("%.3f", oracle), "(measured)");
    Target("bound: own parse, unlimited slots, size/zlib-9", Figure("%.3f", static_cast<double>(f.sizeUnlimited) / zlib9),
           "(measured)");
}

// The bound alone, on the corpus folder (every `every`th file), beside zlib-9 and -m9.
int BoundOnly(const fs::path& corpus, size_t every) {
    const Input input = LoadFolder(corpus / "installer", "installer", every);
    CompressorStats stats;
    std::unique_ptr<Codec> zlib = MakeZlib(9), ours = MakeOurs(9, &stats);
    Cell z{zlib.get(), &input, {}, 0, {}, {}, true}, o{ours.get(), &input, {}, 0, {}, {}, true};
    if (!CompressAll(z) || !CompressAll(o)) return 2;
    std::printf("%zu files, %.1f MB; zlib-9 %" PRIu64 " bytes, vorx -m9 %" PRIu64 " bytes\n", input.files.size(),
                input.bytes / 1e6, z.compressed, o.compressed);
    PrintBound(input, z.compressed, o.compressed, stats.matchBytes);
    return 0;
}

// ---------------------------------------------------------------------------
// Sizes only, for work on the compressor: the corpus folder (every `every`th file)
// by the given levels of ours beside zlib-6 and zlib-9, one round, with where our
// bits go.
int Sizes(const fs::path& corpus, size_t every, const std::vector<int>& levels) {
    const Input input = LoadFolder(corpus / "installer", "installer", every);
    std::printf("%zu files, %.1f MB\n", input.files.size(), input.bytes / 1e6);
    uint64_t zlib9 = 0;
    for (int level : {6, 9}) {
        std::unique_ptr<Codec> z = MakeZlib(level);
        Cell c{z.get(), &input, {}, 0, {}, {}, true};
        const double start = CpuSeconds();
        if (!CompressAll(c)) return 2;
        const double seconds = CpuSeconds() - start;
        if (level == 9) zlib9 = c.compressed;
        std::printf("zlib-%d    %12" PRIu64 " %8.1f MB/s\n", level, c.compressed, input.bytes / 1e6 / seconds);
    }
    for (int level : levels) {
        CompressorStats stats;
        std::unique_ptr<Codec> ours = MakeOurs(level, &stats);
        Cell c{ours.get(), &input, {}, 0, {}, {}, true};
        const double start = CpuSeconds();
        if (!CompressAll(c)) return 2;
        const double seconds = CpuSeconds() - start;
        if (!Verify(*ours, input, c.packed)) return 2;
        std::printf("vorx -m%d  %12" PRIu64 " %8.1f MB/s  %.4fx zlib-9\n", level, c.compressed,
                    input.bytes / 1e6 / seconds, static_cast<double>(c.compressed) / zlib9);
        const char* names[4] = {"flags", "literals", "lengths", "slots"};
        std::printf("   blocks %" PRIu64 " (+%" PRIu64 " stored), heads %" PRIu64 " B, framing %" PRIu64 " B\n",
                    stats.blocks, stats.storedBlocks, stats.headBits / 8,
                    c.compressed - (stats.headBits + stats.tableBits[0] + stats.tableBits[1] + stats.tableBits[2] +
                                    stats.tableBits[3] + stats.codeBits[0] + stats.codeBits[1] + stats.codeBits[2] +
                                    stats.codeBits[3]) / 8);
        for (int k = 0; k < 4; ++k)
            std::printf("   %-9s table %10" PRIu64 " B (%8" PRIu64 " entries)  codes %10" PRIu64 " B\n", names[k],
                        stats.tableBits[k] / 8, stats.tableEntries[k], stats.codeBits[k] / 8);
        std::printf("   literals %" PRIu64 ", matches %" PRIu64 " (%.2f bytes each)\n", stats.literals, stats.matches,
                    stats.matches ? static_cast<double>(stats.matchBytes) / stats.matches : 0.0);
    }
    return 0;
}

int Run(const std::string& self, const fs::path& corpus, const std::string& archive, int rounds,
        const std::string& targetsFile) {
    std::printf("Loading the corpus from %s\n", corpus.string().c_str());
    std::vector<Input> inputs;
    inputs.push_back(LoadFolder(corpus / "installer", "installer (per file)"));
    inputs.push_back(LoadFile(corpus / "installer.tar", "installer.tar"));
    inputs.push_back(LoadFile(corpus / "text.txt", "text"));
    inputs.push_back(LoadFile(corpus / "library.dll", "dll"));
    for (const Input& in : inputs) {
        if (in.bytes == 0) {
            std::fprintf(stderr, "the corpus has no %s: run scripts/bench-corpus\n", in.name.c_str());
            return 2;
        }
    }
    const Input& installer = inputs[0];
    std::printf("installer: %zu files, %.1f MB; tar %.1f MB; text %.1f MB; dll %.2f MB\n\n", installer.files.size(),
                installer.bytes / 1e6, inputs[1].bytes / 1e6, inputs[2].bytes / 1e6, inputs[3].bytes / 1e6);

    std::vector<std::unique_ptr<Codec>> codecs;
    codecs.push_back(MakeOurs(1));
    codecs.push_back(MakeOurs(5));
    CompressorStats stats9, installerStats9;  // -m9's, of the corpus folder's last round
    codecs.push_back(MakeOurs(9, &stats9));
    const Codec* m9Codec = codecs.back().get();
    codecs.push_back(MakeZlib(6));
    codecs.push_back(MakeZlib(9));
    codecs.push_back(MakeXz(6));
    codecs.push_back(MakeZstd(3));
    codecs.push_back(MakeZstd(19));

    std::vector<Cell> cells;
    for (const Input& in : inputs)
        for (auto& c : codecs) cells.push_back(Cell{c.get(), &in, {}, 0, {}, {}, true});
    std::vector<Cell*> all;
    for (Cell& c : cells) all.push_back(&c);

    std::printf("Compressing (%d rounds at most, fewer for the slow ones)...\n", rounds);
    std::fflush(stdout);
    TimeRounds(
        all, 1, rounds, 20.0,
        [&](Cell& c) {
            const bool watched = c.input == &inputs[0] && c.codec == m9Codec;
            if (watched) stats9 = CompressorStats{};
            const bool ok = CompressAll(c);
            if (watched) installerStats9 = stats9;
            return ok;
        },
        &Cell::compressTimes);
    for (Cell& c : cells) c.ok = c.ok && Verify(*c.codec, *c.input, c.packed);
    std::printf("Decoding (%d rounds at most)...\n\n", rounds + 2);
    std::fflush(stdout);
    size_t largest = 0;
    for (const Input& in : inputs) largest = std::max(largest, in.largest);
    Bytes out(largest + 1);
    TimeRounds(all, 3, rounds + 2, 6.0, [&](Cell& c) { return DecodeAll(c, out); }, &Cell::decodeTimes);

    std::printf("%-22s %-10s %12s %7s %10s %10s %7s\n", "input", "codec", "size", "ratio", "comp MB/s",
                "dec MB/s", "rounds");
    std::map<std::pair<const Input*, std::string>, const Cell*> find;
    for (const Cell& c : cells) {
        find[{c.input, c.codec->name()}] = &c;
        if (!c.ok) {
            std::printf("%-22s %-10s failed\n", c.input->name.c_str(), c.codec->name().c_str());
            continue;
        }
        std::printf("%-22s %-10s %12" PRIu64 " %7.3f %10.1f %10.1f %3zu/%zu\n", c.input->name.c_str(),
                    c.codec->name().c_str(), c.compressed, c.Ratio(), c.CompressMBps(), c.DecodeMBps(),
                    c.compressTimes.size(), c.decodeTimes.size());
        if (c.codec == codecs.back().get()) std::printf("\n");
    }

    auto at = [&](const Input& in, const std::string& codec) { return find.at({&in, codec}); };
    const Cell* m1 = at(installer, "vorx -m1");
    const Cell* m5 = at(installer, "vorx -m5");
    const Cell* m9 = at(installer, "vorx -m9");
    const Cell* z6 = at(installer, "zlib-6");
    const Cell* z9 = at(installer, "zlib-9");
    const Cell* xz = at(installer, "xz-6");

    std::printf("Ratios on the installer corpus, per file:\n");
    const double decodeVsZlib = m5->DecodeMBps() / z6->DecodeMBps();
    std::printf("  decode speed, vorx (-m5 data) / zlib-6:      %6.2fx   (target >= 1.0: %s)\n", decodeVsZlib,
                Mark(decodeVsZlib >= 1.0));
    Target("decode speed / zlib-6's >= 1.0 (corpus, per file)", Figure("%.2fx", decodeVsZlib),
           Mark(decodeVsZlib >= 1.0));
    for (const Cell* c : {m1, m9})
        std::printf("  decode speed, vorx (%s data) / zlib-6:      %6.2fx\n", c->codec->name().c_str() + 5,
                    c->DecodeMBps() / z6->DecodeMBps());
    for (const Cell* c : {m1, m5, m9})
        std::printf("  size %-8s / zlib-9: %6.3f   / xz-6: %6.3f\n", c->codec->name().c_str(),
                    static_cast<double>(c->compressed) / z9->compressed,
                    static_cast<double>(c->compressed) / xz->compressed);
    const double m9Size = static_cast<double>(m9->compressed) / z9->compressed;
    const double m5Size = static_cast<double>(m5->compressed) / z9->compressed;
    std::printf("  -m9 size / zlib-9 <= 1.00:                  %6.3f    %s\n", m9Size, Mark(m9Size <= 1.0));
    std::printf("  -m5 size / zlib-9 <= 1.05:                  %6.3f    %s\n", m5Size, Mark(m5Size <= 1.05));
    std::printf("  -m5 compression >= 20 MB/s:                 %6.1f    %s\n", m5->CompressMBps(),
                Mark(m5->CompressMBps() >= 20));
    Target("-m9 size / zlib-9's <= 1.00 (corpus, per file)", Figure("%.3f", m9Size), Mark(m9Size <= 1.0));
    Target("-m5 size / zlib-9's <= 1.05 (corpus, per file)", Figure("%.3f", m5Size), Mark(m5Size <= 1.05));
    Target("-m5 compression >= 20 MB/s", Figure("%.1f MB/s", m5->CompressMBps()), Mark(m5->CompressMBps() >= 20));
    std::printf("\n");
    PrintBound(installer, z9->compressed, m9->compressed, installerStats9.matchBytes);

    SmallEntries(installer);

    // CRC-32 over 64 MiB of the tar.
    {
        const Bytes& tar = inputs[1].files[0];
        const size_t n = std::min<size_t>(tar.size(), 64u << 20);
        std::vector<double> ours, zlib;
        uint32_t a = 0, b = 0;
        for (int round = 0; round < 7; ++round) {
            double start = CpuSeconds();
            a = Crc32::Of(tar.data(), n);
            ours.push_back(CpuSeconds() - start);
            start = CpuSeconds();
            b = ZlibCrc32(tar.data(), n);
            zlib.push_back(CpuSeconds() - start);
        }
        const double gbps = n / 1e9 / Median(ours);
        std::printf("CRC-32: %.2f GB/s (zlib's crc32 %.2f GB/s, %s)   (target >= 3 GB/s: %s)\n\n", gbps,
                    n / 1e9 / Median(zlib), a == b ? "same values" : "DIFFERENT VALUES", Mark(gbps >= 3 && a == b));
    }

    // Instructions per output byte, counted by callgrind on a sample of the corpus.
    {
        const fs::path scratch = fs::temp_directory_path() / ("vorx-bench-" + std::to_string(getpid()));
        fs::create_directories(scratch);
        std::printf("Instructions per output byte (callgrind, every %zuth corpus file)...\n", kInstructionSampleEvery);
        std::fflush(stdout);
        const double ours = InstructionsPerByte(self, "ours", corpus, scratch);
        const double zlib = InstructionsPerByte(self, "zlib", corpus, scratch);
        const double oursSmall = InstructionsPerByte(self, "ours", corpus, scratch, true);
        const double zlibSmall = InstructionsPerByte(self, "zlib", corpus, scratch, true);
        fs::remove_all(scratch);
        if (ours > 0 && zlib > 0) {
            std::printf("  vorx decoder (-m5 data): %.2f   zlib-6 inflate: %.2f   (target: vorx <= zlib: %s)\n", ours,
                        zlib, Mark(ours <= zlib));
            Target("instructions per output byte <= zlib-6's", Figure("%.2f", ours) + Figure(" / %.2f", zlib),
                   Mark(ours <= zlib));
        } else {
            std::printf("  not measured: valgrind could not be run\n");
            Target("instructions per output byte <= zlib-6's", "-", "not measured");
        }
        if (oursSmall > 0 && zlibSmall > 0)
            std::printf("  4 KiB entries: vorx %.2f   zlib-6 %.2f   (%.2fx the instructions)\n", oursSmall, zlibSmall,
                        oursSmall / zlibSmall);
        std::printf("\n");
    }

    if (!archive.empty()) {
        std::printf("Entry index: extracting %s by name (enumerate, then extract each entry to memory)\n",
                    archive.c_str());
        std::fflush(stdout);
        const ExtractionCost with = ExtractByName(archive, true);
        const ExtractionCost without = ExtractByName(archive, false);
        if (with.ok && without.ok) {
            std::printf("  %" PRIu64 " entries: with the index %.2f s and %" PRIu64 " reads; with the walks %.2f s and %" PRIu64
                        " reads (%.1fx the time)\n\n",
                        with.entries, with.seconds, with.reads, without.seconds, without.reads,
                        without.seconds / with.seconds);
        } else {
            std::printf("  the archive could not be extracted\n\n");
        }
    }

    std::printf("Targets of the codec (same process, interleaved rounds):\n");
    for (const std::string& line : Targets()) std::printf("%s\n", line.c_str());
    std::printf("\n");
    if (!targetsFile.empty()) {
        std::ofstream file(targetsFile, std::ios::app);
        for (const std::string& line : Targets()) file << line << "\n";
    }
    return 0;
}

}  // namespace
}  // namespace vorx::bench

int main(int argc, char** argv) {
    using namespace vorx::bench;
    if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0 && std::strcmp(argv[2], "--") == 0 && argc >= 4)
        return Measure(argv + 3);
    if (argc == 4 && std::strcmp(argv[1], "--count-decode") == 0) return CountDecode(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--count-small") == 0) return CountDecode(argv[2], argv[3], true);
    if (argc == 3 && std::strcmp(argv[1], "--small") == 0) {
        SmallEntries(LoadFolder(fs::path(argv[2]) / "installer", "installer"));
        return 0;
    }
    if ((argc == 3 || argc == 5) && std::strcmp(argv[1], "--decode") == 0)
        return DecodeOnly(argv[2], argc == 5 ? std::max(1, std::atoi(argv[4])) : 7);
    if (argc >= 3 && std::strcmp(argv[1], "--sizes") == 0) {
        size_t every = 1;
        std::vector<int> levels;
        for (int i = 3; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--every") == 0) every = std::max(1, std::atoi(argv[i + 1]));
            if (std::strcmp(argv[i], "--levels") == 0)
                for (const char* l = argv[i + 1]; *l; ++l)
                    if (*l >= '0' && *l <= '9') levels.push_back(*l - '0');
        }
        if (levels.empty()) levels = {1, 5, 9};
        return Sizes(argv[2], every, levels);
    }
    if (argc >= 3 && std::strcmp(argv[1], "--bound") == 0)
        return BoundOnly(argv[2], argc == 5 && std::strcmp(argv[3], "--every") == 0 ? std::max(1, std::atoi(argv[4])) : 1);
    if (argc == 5 && std::strcmp(argv[1], "--decode-loop") == 0) return DecodeLoop(argv[2], argv[3], std::atoi(argv[4]));
    std::string corpus, archive, targetsFile;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--archive" && i + 1 < argc) {
            archive = argv[++i];
        } else if (a == "--targets" && i + 1 < argc) {
            targetsFile = argv[++i];
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (corpus.empty() && a[0] != '-') {
            corpus = a;
        } else {
            corpus.clear();
            break;
        }
    }
    if (corpus.empty()) {
        std::fprintf(stderr,
                     "usage: vorx-bench CORPUS-DIR [--archive ARCHIVE] [--rounds N] [--targets FILE]\n"
                     "       vorx-bench --measure -- COMMAND ARGS...\n");
        return 7;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    return Run(self, corpus, archive, rounds, targetsFile);
}
