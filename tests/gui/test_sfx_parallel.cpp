// The self-extractor decoding on several threads against one: each scripted run is made
// twice, once with the process's affinity mask at one processor (so that it starts no
// decoding thread) and once with every processor, and both must show the same boxes in
// the same order, answered alike, and leave the same files with the same times and the
// same exit code. The runs hold CRC faults, entries short of their record, two entries of
// one name, passwords remembered and asked for (right and wrong), overwrite questions with
// a Cancel, a Cancel in the middle of a large entry, and a full disk.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/gui/gui_driver.h"
#include "tests/support/test_support.h"
#include "writer/sfx_maker.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace fs = std::filesystem;
using gui::WindowsPath;

constexpr DWORD kAppear = 20000, kFinish = 120000;  // ms
constexpr int kNext = 1, kCancel = 2, kDestination = 1000, kProgress = 1004, kStatus = 1006;
constexpr int kPasswordEdit = 1035, kRemember = 1033, kPrompt = 1008;

struct Entry {
    std::string name;
    vorx::Bytes data;
    const char* password = nullptr;
    vorx::test::RecordOverrides damage = {};
    size_t chunk = 0;  // stored blocks of this size; 0: compressed in 256 KiB blocks
};

// A box the run shows, and how it is answered: a button; for the password dialog the
// text typed and whether the remember box is clicked.
struct Answer {
    const char* caption;
    int button;
    const char* typed = nullptr;
    bool toggleRemember = false;
};

struct Script {
    const char* label;
    std::vector<Entry> entries;
    const char* namesPassword;  // encrypts the names table; null: plain
    std::map<std::string, std::string> before;
    const char* tail;  // null: the wizard, Next pressed on its destination page
    std::vector<Answer> answers;
    DWORD code;
    const char* cancelAt = nullptr;  // wizard: Cancel once this file is being extracted
    bool fullDisk = false;           // the destination is a small file system of its own
};

// What a run showed and left: the exit code, each box's caption and text in order, and
// every file below the destination with its bytes and last-write time.
struct Seen {
    DWORD code = 0;
    std::vector<std::string> boxes;
    std::map<std::string, std::pair<std::string, int64_t>> files;
    bool operator==(const Seen& o) const { return code == o.code && boxes == o.boxes && files == o.files; }
};

std::string Describe(const Seen& s) {
    std::string text = "exit " + std::to_string(s.code) + "\n";
    for (const std::string& box : s.boxes) text += "  box " + box + "\n";
    for (const auto& [name, file] : s.files)
        text += "  " + name + " " + std::to_string(file.first.size()) + " bytes, " + std::to_string(file.second) + "\n";
    return text;
}

// Starts a program suspended, sets its affinity mask (0: as inherited) and lets it run.
bool Start(PROCESS_INFORMATION* info, const std::string& program, const std::string& tail, DWORD_PTR mask) {
    std::wstring line = L"\"" + gui::Wide(program) + L"\"" + (tail.empty() ? L"" : L" " + gui::Wide(tail));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(gui::Wide(program).c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, info))
        return false;
    const bool ok = mask == 0 || SetProcessAffinityMask(info->hProcess, mask);
    ResumeThread(info->hThread);
    CloseHandle(info->hThread);
    return ok;
}

// Runs a host program (Wine does not wait for one) until `done` holds; false if never.
bool Host(const std::string& program, const std::string& arguments, const std::function<bool()>& done) {
    PROCESS_INFORMATION info{};
    if (!Start(&info, program, arguments, 0)) return false;
    CloseHandle(info.hProcess);
    return gui::WaitUntil(done, 5000);
}

std::string HostPath(std::string path) {
    if (path.rfind("Z:", 0) == 0) path = path.substr(2);
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
}

// The size of the volume that holds `folder`.
uint64_t VolumeSize(const std::string& folder) {
    ULARGE_INTEGER available{}, total{}, free{};
    return GetDiskFreeSpaceExA(folder.c_str(), &available, &total, &free) ? total.QuadPart : 0;
}
constexpr uint64_t kSmallVolume = 3 << 20;

class SelfExtractorThreads : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = WindowsPath(VORX_GUI_WORK) + "\\parallel";
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        fs::create_directories(dir_);
    }

    void Make(const std::string& file, const std::string& destination, const Script& run) {
        std::vector<uint8_t> stub;
        std::string error;
        ASSERT_TRUE(vorx::PrepareStub(WindowsPath(VORX_STUB).c_str(), {destination, ""}, &stub, &error)) << error;
        vorx::test::DamagingWriter writer;
        ASSERT_TRUE(writer.Create(file) && writer.WriteCarrier(stub.data(), stub.size()) && writer.BeginArchive());
        uint64_t time = 1700000000;
        for (const Entry& e : run.entries) {
            vorx::EntryOptions options{.name = e.name, .time = time += 100};
            if (e.password) options.password = e.password;
            options.encoder = e.chunk ? vorx::StoredBlockEncoder(e.chunk) : vorx::test::PackingEncoder(256 << 10);
            ASSERT_TRUE(writer.BeginEntry(options) && writer.Write(e.data.data(), e.data.size()) &&
                        writer.EndEntry(e.damage))
                << writer.Error();
        }
        vorx::test::DamagedDirectory directory;
        if (run.namesPassword) directory.password = run.namesPassword;
        ASSERT_TRUE(writer.Finish(directory)) << writer.Error();
    }

    // Answers the boxes of the process in turn; every box seen is recorded.
    void AnswerBoxes(DWORD id, const Script& run, Seen* seen) {
        for (const Answer& answer : run.answers) {
            const bool prompt = std::string(answer.caption) == "Enter password";
            HWND box = gui::WaitForMessageBox(id, answer.caption, kAppear, prompt ? kPrompt : 65535);
            if (!box) {
                ADD_FAILURE() << "no box \"" << answer.caption << "\"";
                return;
            }
            seen->boxes.push_back(std::string(answer.caption) + ": " + gui::ControlText(box, prompt ? kPrompt : 65535));
            if (prompt) {
                gui::Type(box, kPasswordEdit, answer.typed);
                if (answer.toggleRemember) gui::ClickCheckBox(box, kRemember);
            }
            gui::Press(box, answer.button);
            EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(box); }, kAppear)) << answer.caption;
        }
    }

    // One run of the self-extractor with the affinity `mask` (0: every processor).
    Seen Once(const Script& run, DWORD_PTR mask) {
        Seen seen;
        const std::string out = dir_ + "\\out\\";
        std::error_code ignored;
        fs::remove_all(out, ignored);
        fs::create_directories(out);
        if (run.fullDisk && !Host("/bin/mount", "-t tmpfs -o size=3m tmpfs \"" + HostPath(out) + "\"",
                                  [&] { return VolumeSize(out) <= kSmallVolume; })) {
            mounted_ = false;
            return seen;
        }
        for (const auto& [name, data] : run.before) {
            fs::create_directories(fs::path(out + name).parent_path());
            vorx::test::WriteFile(out + name, data);
            EXPECT_TRUE(platform::SetFileTimes((out + name).c_str(), 1500000000, 1500000000));
        }
        Make(dir_ + "\\setup.exe", out, run);
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(Start(&info, dir_ + "\\setup.exe", run.tail ? run.tail : "", mask));
        if (!run.tail) {
            HWND wizard = gui::WaitForDialog(info.dwProcessId, "Self Extracting Archive", kAppear);
            EXPECT_TRUE(gui::WaitUntil([&] { return gui::ControlVisible(wizard, kDestination); }, kAppear));
            gui::Press(wizard, kNext);
            if (run.cancelAt) {
                // Cancel while the large entry is being written, its bar on the way.
                EXPECT_TRUE(gui::WaitUntil([&] { return gui::ControlText(wizard, kStatus) ==
                                                        std::string("Current file: ") + run.cancelAt; }, kFinish));
                EXPECT_TRUE(gui::WaitUntil([&] { return gui::Send(GetDlgItem(wizard, kProgress), PBM_GETPOS) >= 5; },
                                           kFinish));
                gui::Press(wizard, kCancel);
            }
        }
        AnswerBoxes(info.dwProcessId, run, &seen);
        if (WaitForSingleObject(info.hProcess, kFinish) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 259);
        GetExitCodeProcess(info.hProcess, &seen.code);
        CloseHandle(info.hProcess);
        for (const auto& item : fs::recursive_directory_iterator(out))
            if (!item.is_directory())
                seen.files[fs::relative(item.path(), out).generic_string()] = {
                    vorx::test::ReadText(item.path().string()), vorx::test::ModificationTime(item.path().string())};
        if (run.fullDisk) {
            EXPECT_TRUE(Host("/bin/umount", "\"" + HostPath(out) + "\"", [&] { return VolumeSize(out) > kSmallVolume; }));
        }
        return seen;
    }

    // The run on one processor and on every one: the same; what they saw.
    Seen Compare(const Script& run) {
        const Seen serial = Once(run, 1);
        if (!mounted_) return serial;
        const Seen parallel = Once(run, 0);
        EXPECT_TRUE(serial == parallel) << "one processor:\n" << Describe(serial) << "every processor:\n"
                                        << Describe(parallel);
        for (const auto& [name, file] : serial.files) EXPECT_NE(name.rfind("~vx", 0), 0u) << "left: " << name;
        return serial;
    }

    std::string dir_;
    bool mounted_ = true;
};

TEST_F(SelfExtractorThreads, EveryRunAsOnOneProcessor) {
    const auto bytes = [](size_t length, uint32_t seed) { return vorx::test::WordText(length, seed); };
    const auto crc = [](uint32_t v) { vorx::test::RecordOverrides d; d.crc32 = v; return d; };
    const auto size = [](uint64_t v) { vorx::test::RecordOverrides d; d.uncompressedSize = v; return d; };
    constexpr size_t kBig = 9 << 20;  // decoded block by block, side by side
    const char* const kError = "Error extracting";
    const std::vector<Script> runs = {
        {"crc", {{"good.txt", bytes(3000, 1)}, {"big.bin", bytes(kBig, 2)}, {"bad.bin", bytes(kBig, 3), {}, crc(1)},
                 {"never.txt", bytes(10, 4)}}, nullptr, {}, "/q", {{kError, IDOK}}, 9},
        // Blocks that produce fewer bytes than the record declares: damaged, nothing written.
        {"short", {{"good.txt", bytes(3000, 1)}, {"short.txt", bytes(3000, 2), {}, size(3001)},
                   {"never.txt", bytes(10, 4)}}, nullptr, {}, "/q", {{kError, IDOK}}, 3},
        {"short-big", {{"short.bin", bytes(kBig, 2), {}, size(kBig + 1)}}, nullptr, {}, "/q", {{kError, IDOK}}, 3},
        // The second entry of one name is decoded by its own index, and fails.
        {"twice", {{"dup.txt", bytes(3000, 1)}, {"dup.txt", bytes(3000, 2), {}, crc(2)}}, nullptr, {}, "/q",
         {{"Overwrite", IDYES}, {kError, IDOK}}, 9},
        // The archive's password remembered; an entry of another password asked for (a
        // wrong try first, the remembered one kept), then remembered in its turn, so that
        // entries decoded ahead with the first one are decoded again; the first asked for
        // again, the second kept.
        {"passwords", {{"a.txt", bytes(100, 1)}, {"b.txt", bytes(3000, 2), "password1"},
                       {"c.txt", bytes(3000, 3), "password2"}, {"d.txt", bytes(3000, 4), "password2"},
                       {"e.bin", bytes(kBig, 5), "password2"}, {"f.txt", bytes(3000, 6), "password1"},
                       {"g.txt", bytes(3000, 7), "password2"}},
         "password1", {}, "/q",
         {{"Enter password", IDOK, "password1", true}, {"Enter password", IDOK, "wrong-one", true},
          {"Enter password", IDOK, "password2"}, {"Enter password", IDOK, "password1", true}}, 0},
        {"password-cancelled", {{"a.txt", bytes(3000, 1), "password1"}, {"b.txt", bytes(3000, 2), "password2"},
                                {"c.txt", bytes(3000, 3), "password1"}},
         "password1", {}, "/q",
         {{"Enter password", IDOK, "password1", true}, {"Enter password", IDCANCEL, ""}, {kError, IDOK}}, 10},
        // Overwrite questions: Yes, then Cancel: nothing after it is written.
        {"overwrite", {{"a.txt", bytes(100, 1)}, {"b.txt", bytes(100, 2)}, {"c.txt", bytes(100, 3)},
                       {"big.bin", bytes(kBig, 4)}, {"d.txt", bytes(100, 5)}},
         nullptr, {{"a.txt", "old"}, {"c.txt", "old"}}, "/q", {{"Overwrite", IDYES}, {"Overwrite", IDCANCEL}}, 2},
        {.label = "cancel", .entries = {{"first.txt", bytes(100, 1)}, {"slow.bin", bytes(6 << 20, 2), {}, {}, 256},
                                        {"after.txt", bytes(100, 3)}},
         .tail = nullptr, .answers = {{"Cancel", IDYES}}, .code = 2, .cancelAt = "slow.bin"},
    };
    for (const Script& run : runs) {
        SCOPED_TRACE(run.label);
        EXPECT_EQ(Compare(run).code, run.code);
    }
}

// A destination on a small file system (mounted from the host, where that is allowed):
// not enough free space, or a failed write, whichever comes first; as on one processor.
TEST_F(SelfExtractorThreads, AFullDiskAsOnOneProcessor) {
    Script run{.label = "full-disk", .tail = "/q", .answers = {{"Error extracting", IDOK}}, .fullDisk = true};
    for (uint32_t i = 0; i < 40; ++i)
        run.entries.push_back({"f" + std::to_string(i) + ".txt", vorx::test::WordText(1000 + i * 4000, i)});
    run.entries.push_back({"big.bin", vorx::test::WordText(9 << 20, 1)});
    const Seen seen = Compare(run);
    if (!mounted_) GTEST_SKIP() << "no small file system can be mounted here: the full disk is not tried";
    EXPECT_TRUE(seen.code == 6 || seen.code == 15) << Describe(seen);
}

}  // namespace
