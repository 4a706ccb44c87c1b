// The self-extractor on several threads against one: each scripted run is made with the
// process's affinity mask at one processor (no decoding thread starts) and at every one,
// and both must show the same boxes in order, answered alike, and leave the same files,
// times and exit code: CRC faults, entries short of their record, two entries of one name,
// passwords remembered and asked for, overwrite questions, a Cancel mid-entry, a full disk.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <map>
#include <ostream>
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
using vorx::test::WordText;

constexpr DWORD kAppear = 20000, kFinish = 120000;  // ms
constexpr int kNext = 1, kCancel = 2, kDestination = 1000, kProgress = 1004, kStatus = 1006;
constexpr int kPasswordEdit = 1035, kRemember = 1033, kPrompt = 1008;
constexpr char kPassword[] = "Enter password", kError[] = "Error extracting";

struct Entry {
    std::string name;
    vorx::Bytes data;
    const char* password = nullptr;
    vorx::test::RecordOverrides damage = {};
    size_t chunk = 0;  // stored blocks of this size; 0: compressed in 256 KiB blocks
};

// A box and its answer; for the password dialog what is typed and whether the remember
// box is clicked.
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

// The exit code, each box's caption and text in order, every file with bytes and time.
struct Seen {
    DWORD code = 0;
    std::vector<std::string> boxes;
    std::map<std::string, std::pair<std::string, int64_t>> files;
    bool operator==(const Seen& o) const {
        return code == o.code && boxes == o.boxes && files == o.files;
    }
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
    out << "exit " << s.code << "\n";
    for (const std::string& box : s.boxes) out << "  box " << box << "\n";
    for (const auto& [name, file] : s.files)
        out << "  " << name << " " << file.first.size() << " " << file.second << "\n";
    return out;
}

// Starts a program suspended, sets its affinity mask (0: as inherited) and lets it run.
bool Start(PROCESS_INFORMATION* info, const std::string& program, const std::string& tail,
           DWORD_PTR mask) {
    std::wstring line =
        L"\"" + gui::Wide(program) + L"\"" + (tail.empty() ? L"" : L" " + gui::Wide(tail));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(gui::Wide(program).c_str(), &line[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, nullptr, &startup, info))
        return false;
    const bool ok = mask == 0 || SetProcessAffinityMask(info->hProcess, mask);
    ResumeThread(info->hThread);
    CloseHandle(info->hThread);
    return ok;
}

// Mounts (or unmounts) a small file system at `folder` from the host, where that is
// allowed; Wine does not wait for a host program: the volume's size tells.
bool MountSmall(const std::string& folder, bool mount) {
    std::string host = "\"" + folder.substr(2) + "\"";
    for (char& c : host) c = c == '\\' ? '/' : c;
    PROCESS_INFORMATION info{};
    if (!Start(&info, mount ? "/bin/mount" : "/bin/umount",
               (mount ? "-t tmpfs -o size=3m tmpfs " : "") + host, 0))
        return false;
    CloseHandle(info.hProcess);
    return gui::WaitUntil(
        [&] {
            ULARGE_INTEGER available{}, total{}, free{};
            GetDiskFreeSpaceExA(folder.c_str(), &available, &total, &free);
            return (total.QuadPart <= (3u << 20)) == mount;
        },
        5000);
}

class SelfExtractorThreads : public ::testing::Test {
protected:
    // The self-extractor of `run`, extracting to `destination`.
    void Make(const std::string& file, const std::string& destination, const Script& run) {
        std::vector<uint8_t> stub;
        std::string error;
        ASSERT_TRUE(
            vorx::PrepareStub(WindowsPath(VORX_STUB).c_str(), {destination, ""}, &stub, &error))
            << error;
        vorx::test::DamagingWriter writer;
        ASSERT_TRUE(writer.Create(file) && writer.WriteCarrier(stub.data(), stub.size()) &&
                    writer.BeginArchive());
        uint64_t time = 1700000000;
        for (const Entry& e : run.entries) {
            vorx::EntryOptions options{.name = e.name, .time = time += 100};
            if (e.password) options.password = e.password;
            options.encoder =
                e.chunk ? vorx::StoredBlockEncoder(e.chunk) : vorx::test::PackingEncoder(256 << 10);
            ASSERT_TRUE(writer.BeginEntry(options) && writer.Write(e.data.data(), e.data.size()) &&
                        writer.EndEntry(e.damage))
                << writer.Error();
        }
        vorx::test::DamagedDirectory directory;
        if (run.namesPassword) directory.password = run.namesPassword;
        ASSERT_TRUE(writer.Finish(directory)) << writer.Error();
    }

    // Answers the boxes of the process in turn, recording each.
    void AnswerBoxes(DWORD id, const Script& run, Seen* seen) {
        for (const Answer& answer : run.answers) {
            const int text = std::string(answer.caption) == kPassword ? kPrompt : 65535;
            HWND box = gui::WaitForMessageBox(id, answer.caption, kAppear, text);
            if (!box) {
                ADD_FAILURE() << "no box \"" << answer.caption << "\"";
                return;
            }
            seen->boxes.push_back(std::string(answer.caption) + ": " + gui::ControlText(box, text));
            if (answer.typed) gui::Type(box, kPasswordEdit, answer.typed);
            if (answer.toggleRemember) gui::ClickCheckBox(box, kRemember);
            gui::Press(box, answer.button);
            EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(box); }, kAppear)) << answer.caption;
        }
    }

    // Cancel while the file `name` is being extracted, its bar on the way.
    static void CancelDuring(HWND wizard, const std::string& name) {
        EXPECT_TRUE(gui::WaitUntil(
            [&] { return gui::ControlText(wizard, kStatus) == "Current file: " + name; }, kFinish));
        EXPECT_TRUE(gui::WaitUntil(
            [&] { return gui::Send(GetDlgItem(wizard, kProgress), PBM_GETPOS) >= 5; }, kFinish));
        gui::Press(wizard, kCancel);
    }

    // One run of the self-extractor with the affinity `mask` (0: every processor).
    Seen Once(const Script& run, DWORD_PTR mask) {
        Seen seen;
        const std::string dir = WindowsPath(VORX_GUI_WORK) + "\\parallel", out = dir + "\\out\\";
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        fs::create_directories(out);
        if (run.fullDisk && !(mounted_ = MountSmall(out, true))) return seen;
        for (const auto& [name, data] : run.before) {
            vorx::test::WriteFile(out + name, data);
            const int fd = platform::FileOpen((out + name).c_str(), platform::kOpenReadWrite);
            EXPECT_TRUE(platform::SetFileTimesOf(fd, 1500000000, 1500000000));
            platform::FileClose(fd);
        }
        Make(dir + "\\setup.exe", out, run);
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(Start(&info, dir + "\\setup.exe", run.tail ? run.tail : "", mask));
        if (!run.tail) {
            HWND wizard = gui::WaitForDialog(info.dwProcessId, "Self Extracting Archive", kAppear);
            EXPECT_TRUE(
                gui::WaitUntil([&] { return gui::ControlVisible(wizard, kDestination); }, kAppear));
            gui::Press(wizard, kNext);
            if (run.cancelAt) CancelDuring(wizard, run.cancelAt);
        }
        AnswerBoxes(info.dwProcessId, run, &seen);
        if (WaitForSingleObject(info.hProcess, kFinish) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 259);
        GetExitCodeProcess(info.hProcess, &seen.code);
        CloseHandle(info.hProcess);
        for (const auto& item : fs::directory_iterator(out))
            seen.files[item.path().filename().string()] = {
                vorx::test::ReadText(item.path().string()),
                vorx::test::ModificationTime(item.path().string())};
        if (run.fullDisk) {
            EXPECT_TRUE(MountSmall(out, false));
        }
        return seen;
    }

    // The run on one processor and on every one: the same; what they saw.
    Seen Compare(const Script& run) {
        const Seen serial = Once(run, 1);
        if (!mounted_) return serial;  // the full disk cannot be tried here
        const Seen parallel = Once(run, 0);
        EXPECT_TRUE(serial == parallel) << "one processor:\n"
                                        << serial << "every processor:\n"
                                        << parallel;
        for (const auto& [name, file] : serial.files)
            EXPECT_NE(name.rfind("~vx", 0), 0u) << "left: " << name;
        return serial;
    }

    bool mounted_ = true;
};

TEST_F(SelfExtractorThreads, EveryRunAsOnOneProcessor) {
    const auto crc = [](uint32_t v) {
        vorx::test::RecordOverrides d;
        d.crc32 = v;
        return d;
    };
    const auto size = [](uint64_t v) {
        vorx::test::RecordOverrides d;
        d.uncompressedSize = v;
        return d;
    };
    constexpr size_t kBig = 9 << 20;  // decoded block by block, side by side
    const std::vector<Script> runs = {
        {"crc",
         {{"good.txt", WordText(3000, 1)},
          {"big.bin", WordText(kBig, 2)},
          {"bad.bin", WordText(kBig, 3), {}, crc(1)},
          {"never.txt", WordText(10, 4)}},
         nullptr,
         {},
         "/q",
         {{kError, IDOK}},
         9},
        // Blocks that produce fewer bytes than the record declares: damaged, nothing written.
        {"short",
         {{"good.txt", WordText(3000, 1)}, {"short.txt", WordText(3000, 2), {}, size(3001)}},
         nullptr,
         {},
         "/q",
         {{kError, IDOK}},
         3},
        {"short-big",
         {{"short.bin", WordText(kBig, 2), {}, size(kBig + 1)}},
         nullptr,
         {},
         "/q",
         {{kError, IDOK}},
         3},
        // The second entry of one name would replace the first one's file: refused (the
        // archive is damaged), never asked about as another file.
        {"twice",
         {{"dup.txt", WordText(3000, 1)}, {"dup.txt", WordText(3000, 2), {}, crc(2)}},
         nullptr,
         {},
         "/q",
         {{kError, IDOK}},
         3},
        // The archive's password remembered; another one asked for (a wrong try first, the
        // remembered one kept), then remembered in its turn, so that entries decoded ahead
        // with the first one are decoded again; the first asked for again, not remembered.
        {"passwords",
         {{"a.txt", WordText(100, 1)},
          {"b.txt", WordText(3000, 2), "password1"},
          {"c.txt", WordText(3000, 3), "password2"},
          {"d.txt", WordText(3000, 4), "password2"},
          {"e.bin", WordText(kBig, 5), "password2"},
          {"f.txt", WordText(3000, 6), "password1"},
          {"g.txt", WordText(3000, 7), "password2"}},
         "password1",
         {},
         "/q",
         {{kPassword, IDOK, "password1", true},
          {kPassword, IDOK, "wrong-one", true},
          {kPassword, IDOK, "password2"},
          {kPassword, IDOK, "password1", true}},
         0},
        {"password-cancelled",
         {{"a.txt", WordText(3000, 1), "password1"},
          {"b.txt", WordText(3000, 2), "password2"},
          {"c.txt", WordText(3000, 3), "password1"}},
         "password1",
         {},
         "/q",
         {{kPassword, IDOK, "password1", true}, {kPassword, IDCANCEL, ""}, {kError, IDOK}},
         10},
        // Overwrite questions: Yes, then Cancel: nothing after it is written.
        {"overwrite",
         {{"a.txt", WordText(100, 1)},
          {"b.txt", WordText(100, 2)},
          {"c.txt", WordText(100, 3)},
          {"big.bin", WordText(kBig, 4)},
          {"d.txt", WordText(100, 5)}},
         nullptr,
         {{"a.txt", "old"}, {"c.txt", "old"}},
         "/q",
         {{"Overwrite", IDYES}, {"Overwrite", IDCANCEL}},
         2},
        {.label = "cancel",
         .entries = {{"first.txt", WordText(100, 1)},
                     {"slow.bin", WordText(6 << 20, 2), {}, {}, 256},
                     {"after.txt", WordText(100, 3)}},
         .tail = nullptr,
         .answers = {{"Cancel", IDYES}},
         .code = 2,
         .cancelAt = "slow.bin"},
    };
    for (const Script& run : runs) {
        SCOPED_TRACE(run.label);
        EXPECT_EQ(Compare(run).code, run.code);
    }
}

// A destination on a small file system, mounted from the host where that is allowed:
// not enough free space or a failed write, whichever comes first, as on one processor.
TEST_F(SelfExtractorThreads, AFullDiskAsOnOneProcessor) {
    Script run{.label = "full-disk", .tail = "/q", .answers = {{kError, IDOK}}, .fullDisk = true};
    for (uint32_t i = 0; i < 40; ++i)
        run.entries.push_back({"f" + std::to_string(i) + ".txt", WordText(1000 + i * 4000, i)});
    run.entries.push_back({"big.bin", WordText(9 << 20, 1)});
    const Seen seen = Compare(run);
    if (!mounted_)
        GTEST_SKIP() << "no small file system can be mounted here: the full disk is not tried";
    EXPECT_TRUE(seen.code == 6 || seen.code == 15) << seen;
}

}  // namespace
