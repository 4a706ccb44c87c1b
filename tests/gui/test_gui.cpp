// End-to-end runs of the 64-bit self-extractor, driven as a person would: each test
// makes a self-extractor from the built stub and an archive written for it, starts
// it, reads and presses the controls of its windows, answers its message boxes, and
// checks the files on disk and the exit code. A screenshot of every page is saved
// under the build folder (gui-screenshots/).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "library/vorx.h"
#include "tests/gui/gui_driver.h"
#include "tests/support/damaging_writer.h"
#include "writer/archive_writer.h"
#include "writer/sfx_maker.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kAppear = 20000;  // ms for a window to appear
constexpr DWORD kFinish = 60000;  // ms for a run to end

constexpr char kWizard[] = "Self Extracting Archive";
constexpr char kPasswordCaption[] = "Enter password";
constexpr char kFilePrompt[] =
    "This file is protected through encryption, please enter the password for the file below";
constexpr char kArchivePrompt[] = "This archive is protected, please enter the password for it below";

// Controls of the wizard and the password dialog.
constexpr int kNext = 1, kCancel = 2, kDestination = 1000, kBrowse = 1002, kOverwriteAll = 1003,
              kProgress = 1004, kStatus = 1006, kCommentView = 7000;
constexpr int kPasswordEdit = 1035, kRemember = 1033, kPrompt = 1008;

// The Windows form of a build path (Wine maps the Unix root to drive Z:).
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// Names in a folder: what an extraction left there, temporaries included.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename().string());
    return names;
}

// The host system's name of a path under Wine's Z: drive.
std::string HostPath(std::string path) {
    if (path.rfind("Z:", 0) == 0) path = path.substr(2);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// Runs a host program (Wine starts them like its own, but does not wait for them to end)
// until `done` holds; false when it does not.
bool Host(const std::string& program, const std::string& arguments, const std::function<bool()>& done) {
    gui::Process process;
    return process.Start(program, arguments) && gui::WaitUntil(done, 5000);
}

// A symbolic link made by the host system: Wine has no call that makes one, and shows a
// host link to a folder as a reparse point. False when it cannot be made.
bool HostLink(const std::string& target, const std::string& link) {
    return Host("/bin/ln", "-sfn " + HostPath(target) + " " + HostPath(link),
                [&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

struct Entry {
    Entry(std::string entryName, std::string bytes, std::optional<std::string> key = std::nullopt,
          size_t chunkSize = vorx::kDefaultChunkSize, vorx::test::RecordOverrides recordOverrides = {})
        : name(std::move(entryName)), data(std::move(bytes)), password(std::move(key)),
          chunk(chunkSize), overrides(recordOverrides) {}
    std::string name;
    std::string data;
    std::optional<std::string> password;
    size_t chunk;  // bytes per stored block
    vorx::test::RecordOverrides overrides;
};

// Bytes that differ from block to block, so a misplaced block shows.
std::string Pattern(size_t size) {
    std::string data(size, '\0');
    uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

class SelfExtractor : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string(info->test_suite_name()) + "-" + info->name();
        dir_ = WindowsPath(VORX_GUI_WORK) + "\\" + name_;
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        fs::create_directories(dir_);
        fs::create_directories(WindowsPath(VORX_GUI_SHOTS));
    }

    std::string Path(const std::string& relative) const { return dir_ + "\\" + relative; }

    // Writes the self-extractor `file` from the stub, the configuration and the entries.
    void Make(const std::string& file, const vorx::SfxConfig& config, const std::vector<Entry>& entries,
              const vorx::test::DamagedDirectory& directory = {}) {
        std::vector<uint8_t> stub;
        std::string error;
        ASSERT_TRUE(vorx::PrepareStub(WindowsPath(VORX_STUB).c_str(), config, &stub, &error)) << error;
        vorx::test::DamagingWriter writer;  // hostile names are part of the tests
        ASSERT_TRUE(writer.Create(Path(file))) << writer.Error();
        ASSERT_TRUE(writer.WriteCarrier(stub.data(), stub.size())) << writer.Error();
        ASSERT_TRUE(writer.BeginArchive()) << writer.Error();
        for (const Entry& entry : entries) {
            vorx::EntryOptions e;
            e.name = entry.name;
            e.password = entry.password;
            e.timeKind = vorx::kTimeUtcSeconds;
            e.time = 1700000000;
            e.encoder = vorx::StoredBlockEncoder(entry.chunk);
            ASSERT_TRUE(writer.BeginEntry(e)) << writer.Error();
            ASSERT_TRUE(writer.Write(entry.data.data(), entry.data.size())) << writer.Error();
            ASSERT_TRUE(writer.EndEntry(entry.overrides)) << writer.Error();
        }
        ASSERT_TRUE(writer.Finish(directory)) << writer.Error();
    }

    void Start(gui::Process& process, const std::string& file, const std::string& tail = "") {
        ASSERT_TRUE(process.Start(Path(file), tail, dir_)) << "cannot start " << Path(file);
    }

    // Saves a screenshot of the process's windows as <suite>-<test>-<page>.png.
    void Shot(const gui::Process& process, const std::string& page) {
        const std::string path = WindowsPath(VORX_GUI_SHOTS) + "\\" + name_ + "-" + page + ".png";
        EXPECT_TRUE(gui::Screenshot(process.Id(), path)) << path;
    }

    // The wizard, once it shows the given page (0 Comments, 1 Destination, 2 Extracting).
    HWND WaitForPage(const gui::Process& process, int page) {
        HWND wizard = gui::WaitForWindow(process.Id(), kWizard, kAppear, "#32770");
        if (wizard == nullptr) return nullptr;
        const int shown = page == 0 ? kCommentView : page == 1 ? kDestination : kProgress;
        if (!gui::WaitUntil([&] { return gui::ControlVisible(wizard, shown); }, kAppear)) return nullptr;
        return wizard;
    }

    // Starts `file`, waits for the destination page and presses Next: the wizard, or
    // nullptr when it did not show that page.
    HWND StartAndExtract(gui::Process& process, const std::string& file) {
        Start(process, file);
        HWND wizard = WaitForPage(process, 1);
        if (wizard != nullptr) gui::Press(wizard, kNext);
        return wizard;
    }

    std::string name_;
    std::string dir_;
};

// Answers a message box: checks caption and text, presses `button`, waits for it to go.
void Answer(const gui::Process& process, const std::string& caption, const std::string& text,
            int button, HWND owner = nullptr, bool checkOwner = false) {
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), caption, kAppear);
    ASSERT_NE(box.window, nullptr) << "no message box \"" << caption << "\"";
    EXPECT_EQ(box.text, text);
    if (checkOwner) {
        EXPECT_EQ(box.owner, owner);
    }
    gui::Press(box.window, button);
    EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, kAppear));
}

// The white header band above the etched line, with the page title in black on it.
void ExpectHeader(HWND wizard) {
    Sleep(200);  // let the dialog finish painting
    RECT client;
    GetClientRect(wizard, &client);
    const LONG line = gui::ControlClientOrigin(wizard, 1009).y;
    const RECT band{0, 0, client.right - 80, line - 1};  // left of the picture
    const int white = gui::CountPixels(wizard, band, RGB(255, 255, 255));
    const int black = gui::CountPixels(wizard, RECT{10, 5, 200, 25}, RGB(0, 0, 0));
    EXPECT_GT(white, (band.right * band.bottom) * 3 / 4) << "the band is white";
    EXPECT_GT(black, 40) << "the title is painted in black";
}

int ProgressPosition(HWND wizard) {
    DWORD_PTR position = 0;
    SendMessageTimeoutA(GetDlgItem(wizard, kProgress), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    return static_cast<int>(position);
}

// ---------------------------------------------------------------------------

TEST_F(SelfExtractor, CommentPageThenDestinationThenExtraction) {
    const std::string out = Path("out") + "\\";
    Make("setup.exe", {out, ""},
         {{"$comments$", "Welcome to the sample.\nSecond line.\n"},
          {"readme.txt", "read me\r\n"},
          {"docs\\guide\\intro.txt", "introduction"}});
    gui::Process process;
    Start(process, "setup.exe");

    HWND wizard = WaitForPage(process, 0);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(gui::ClassOf(GetDlgItem(wizard, kCommentView)), "Edit");
    EXPECT_EQ(gui::ControlText(wizard, kCommentView), "Welcome to the sample.\r\nSecond line.\r\n");
    for (int hidden : {kDestination, kOverwriteAll, kBrowse, kStatus, kProgress})
        EXPECT_FALSE(gui::ControlVisible(wizard, hidden)) << hidden;
    EXPECT_EQ(gui::ControlText(wizard, kNext), "Next >");
    ExpectHeader(wizard);
    Shot(process, "1-comments");

    gui::Press(wizard, kNext);
    ASSERT_EQ(WaitForPage(process, 1), wizard);
    EXPECT_EQ(GetDlgItem(wizard, kCommentView), nullptr) << "the comment view is destroyed";
    EXPECT_EQ(gui::ControlText(wizard, kDestination), out);
    EXPECT_EQ(gui::ControlText(wizard, kStatus), "Directory to extract files to:");
    EXPECT_FALSE(gui::ControlChecked(wizard, kOverwriteAll));
    for (int shown : {kDestination, kOverwriteAll, kBrowse, kStatus})
        EXPECT_TRUE(gui::ControlVisible(wizard, shown)) << shown;
    ExpectHeader(wizard);
    Shot(process, "2-destination");

    gui::Press(wizard, kNext);
    EXPECT_EQ(process.WaitForExit(kFinish), 0u);
    EXPECT_EQ(ReadFile(out + "readme.txt"), "read me\r\n");
    EXPECT_EQ(ReadFile(out + "docs\\guide\\intro.txt"), "introduction");
    EXPECT_FALSE(fs::exists(out + "$comments$")) << "the comment is never extracted";
}

TEST_F(SelfExtractor, ACommentThatCannotBeReadLeavesTheCommentPageEmpty) {
    vorx::test::RecordOverrides huge;
    huge.uncompressedSize = uint64_t{1} << 62;  // no memory for such a text
    Make("encrypted.exe", {Path("out"), ""},
         {{"$comments$", "secret comment", std::string("comment-password")}, {"a.txt", "a"}});
    Make("huge.exe", {Path("out"), ""},
         {{"$comments$", "huge comment", std::nullopt, vorx::kDefaultChunkSize, huge}, {"a.txt", "a"}});
    for (const char* file : {"encrypted.exe", "huge.exe"}) {
        gui::Process process;
        Start(process, file);
        HWND wizard = WaitForPage(process, 0);
        ASSERT_NE(wizard, nullptr) << file;
        EXPECT_EQ(gui::ControlText(wizard, kCommentView), "") << file;
        gui::Press(wizard, kNext);
        ASSERT_EQ(WaitForPage(process, 1), wizard) << file;
        gui::Press(wizard, kCancel);
        EXPECT_EQ(process.WaitForExit(kFinish), 2u) << file;
    }
}

TEST_F(SelfExtractor, DestinationPageRefusesAOneCharacterPathAndKeepsItAfterBrowseCancel) {
    Make("setup.exe", {Path("out"), ""}, {{"a.txt", "a"}});
    gui::Process process;
    Start(process, "setup.exe");
    HWND wizard = WaitForPage(process, 1);
    ASSERT_NE(wizard, nullptr) << "without a comment the wizard opens on the destination";
    EXPECT_EQ(GetDlgItem(wizard, kCommentView), nullptr);

    gui::Type(wizard, kDestination, "C");
    gui::Press(wizard, kNext);
    const gui::MessageBoxInfo refused = gui::WaitForMessageBox(process.Id(), "Error", kAppear);
    ASSERT_NE(refused.window, nullptr);
    EXPECT_EQ(refused.text, "Please enter a path");
    EXPECT_EQ(refused.owner, wizard);
    Shot(process, "1-path-refused");
    gui::Press(refused.window, IDOK);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(refused.window); }, kAppear));
    EXPECT_TRUE(gui::ControlVisible(wizard, kDestination));
    EXPECT_TRUE(gui::ControlEnabled(wizard, kNext));

    // The folder browser, cancelled, leaves the typed path alone.
    gui::Press(wizard, kBrowse);
    HWND browser = nullptr;
    ASSERT_TRUE(gui::WaitUntil(
        [&] {
            for (HWND w : gui::TopWindows(process.Id()))
                if (w != wizard) browser = w;
            return browser != nullptr;
        },
        kAppear));
    Shot(process, "2-browse");
    gui::Press(browser, IDCANCEL);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(browser) || !IsWindowVisible(browser); }, kAppear));
    EXPECT_EQ(gui::ControlText(wizard, kDestination), "C");

    // Cancel before the extraction ends the run at once, without a question.
    gui::Press(wizard, kCancel);
    EXPECT_EQ(process.WaitForExit(kFinish), 2u);
    EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(SelfExtractor, ExtractingPageShowsStatusAndABlueProgressBarWhereThePathWas) {
    const std::string out = Path("out") + "\\";
    const std::string big = Pattern(6u << 20);
    Make("setup.exe", {out, ""}, {{"small.txt", "s"}, {"data\\big.bin", big, std::nullopt, 256}});
    gui::Process process;
    Start(process, "setup.exe");
    HWND wizard = WaitForPage(process, 1);
    ASSERT_NE(wizard, nullptr);
    // The bar takes the place of the path box: its frame starts where the box's client
    // area started, and it keeps the size of its own client area.
    const POINT pathBox = gui::ControlClientOrigin(wizard, kDestination);
    const RECT barBefore = gui::ControlRect(wizard, kProgress);
    const POINT barInner = gui::ControlClientOrigin(wizard, kProgress);
    const LONG barWidth = barBefore.right - barBefore.left - 2 * (barInner.x - barBefore.left);
    const LONG barHeight = barBefore.bottom - barBefore.top - 2 * (barInner.y - barBefore.top);
    gui::Press(wizard, kNext);

    ASSERT_EQ(WaitForPage(process, 2), wizard);
    for (int hidden : {kDestination, kOverwriteAll, kBrowse})
        EXPECT_FALSE(gui::ControlVisible(wizard, hidden)) << hidden;
    EXPECT_FALSE(gui::ControlEnabled(wizard, kNext));
    EXPECT_TRUE(gui::ControlEnabled(wizard, kCancel));
    EXPECT_FALSE(gui::ControlEnabled(wizard, kProgress)) << "the bar only displays";
    const RECT bar = gui::ControlRect(wizard, kProgress);
    EXPECT_EQ(bar.left, pathBox.x);
    EXPECT_EQ(bar.top, pathBox.y);
    EXPECT_EQ(bar.right - bar.left, barWidth);
    EXPECT_EQ(bar.bottom - bar.top, barHeight);
    HWND barWindow = GetDlgItem(wizard, kProgress);
    DWORD_PTR colour = 0, low = 0, high = 0;
    SendMessageTimeoutA(barWindow, PBM_GETBARCOLOR, 0, 0, SMTO_ABORTIFHUNG, 2000, &colour);
    SendMessageTimeoutA(barWindow, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &low);
    SendMessageTimeoutA(barWindow, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
    EXPECT_EQ(colour, 0x00BE7D0Bu);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(high, 100u);

    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlText(wizard, kStatus) == "Current file: data\\big.bin"; },
                               kAppear));
    ASSERT_TRUE(gui::WaitUntil([&] { return ProgressPosition(wizard) >= 10; }, kFinish));
    ExpectHeader(wizard);
    RECT barClient;
    GetClientRect(barWindow, &barClient);
    const POINT barOrigin = gui::ControlClientOrigin(wizard, kProgress);
    OffsetRect(&barClient, barOrigin.x, barOrigin.y);
    EXPECT_GT(gui::CountPixels(wizard, barClient, RGB(11, 125, 190)), 50) << "the bar is drawn in its blue";
    Shot(process, "1-extracting");
    EXPECT_EQ(process.WaitForExit(kFinish), 0u);
    EXPECT_EQ(ReadFile(out + "small.txt"), "s");
    EXPECT_TRUE(ReadFile(out + "data\\big.bin") == big) << "big.bin differs";
}

TEST_F(SelfExtractor, OverwriteQuestionYesAndNoThenOverwriteAll) {
    const std::string out = Path("out") + "\\";
    Make("setup.exe", {out, ""}, {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}});
    WriteFile(out + "a.txt", "old a");
    WriteFile(out + "b.txt", "old b");
    {
        gui::Process process;
        HWND wizard = StartAndExtract(process, "setup.exe");
        ASSERT_NE(wizard, nullptr);
        const gui::MessageBoxInfo question = gui::WaitForMessageBox(process.Id(), "Overwrite", kAppear);
        ASSERT_NE(question.window, nullptr);
        EXPECT_EQ(question.text, "File " + out + "a.txt exists already, ovewrite it?");
        EXPECT_EQ(question.owner, wizard);
        EXPECT_EQ(gui::ControlText(wizard, kStatus), "Current file: a.txt");
        Shot(process, "1-overwrite-question");
        gui::Press(question.window, IDYES);
        // The next question has the same caption: wait for this one to go first, or a
        // slow machine finds it again.
        ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(question.window); }, kAppear));
        Answer(process, "Overwrite", "File " + out + "b.txt exists already, ovewrite it?", IDNO);
        EXPECT_EQ(process.WaitForExit(kFinish), 0u) << "a skipped file is no failure";
    }
    EXPECT_EQ(ReadFile(out + "a.txt"), "new a");
    EXPECT_EQ(ReadFile(out + "b.txt"), "old b");
    EXPECT_EQ(ReadFile(out + "c.txt"), "new c");

    gui::Process again;
    Start(again, "setup.exe");
    HWND wizard = WaitForPage(again, 1);
    ASSERT_NE(wizard, nullptr);
    gui::ClickCheckBox(wizard, kOverwriteAll);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlChecked(wizard, kOverwriteAll); }, kAppear));
    Shot(again, "2-overwrite-all");
    gui::Press(wizard, kNext);
    EXPECT_EQ(again.WaitForExit(kFinish), 0u) << "no question is asked";
    EXPECT_EQ(ReadFile(out + "b.txt"), "new b");
}

TEST_F(SelfExtractor, CancelAtTheOverwriteQuestionStopsButLeavesTheWizardOpen) {
    const std::string out = Path("out") + "\\";
    Make("setup.exe", {out, "never.exe"}, {{"a.txt", "new a"}, {"b.txt", "new b"}, {"never.exe", "x"}});
    WriteFile(out + "a.txt", "old a");
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    Answer(process, "Overwrite", "File " + out + "a.txt exists already, ovewrite it?", IDCANCEL);
    EXPECT_TRUE(gui::NoWindowFor(process.Id(), "Error extracting", 500));
    ASSERT_TRUE(IsWindowVisible(wizard)) << "the wizard stays on its last page";
    EXPECT_TRUE(gui::ControlVisible(wizard, kProgress));
    Shot(process, "1-stopped");
    EXPECT_EQ(ReadFile(out + "a.txt"), "old a");
    EXPECT_FALSE(fs::exists(out + "b.txt"));

    gui::Press(wizard, kCancel);  // the worker has ended: no question
    EXPECT_EQ(process.WaitForExit(kFinish), 2u);
}

TEST_F(SelfExtractor, OpenTimePasswordCancelWrongAndRight) {
    const std::string out = Path("out") + "\\";
    // The dialog takes at most 63 characters: seventy typed open an archive made with
    // their first 63.
    const std::string typed = "opensesame-" + std::string(52, 'k') + "0123456";
    const std::string password = typed.substr(0, 63);
    vorx::test::DamagedDirectory names;
    names.password = password;
    Make("setup.exe", {out, ""}, {{"secret\\plan.txt", "the plan"}}, names);

    {
        gui::Process process;
        Start(process, "setup.exe");
        HWND prompt = gui::WaitForWindow(process.Id(), kPasswordCaption, kAppear, "#32770");
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(gui::ControlText(prompt, kPrompt), kArchivePrompt);
        EXPECT_FALSE(gui::ControlChecked(prompt, kRemember));
        EXPECT_EQ(GetWindow(prompt, GW_OWNER), nullptr);
        Shot(process, "1-archive-password");
        gui::Type(prompt, kPasswordEdit, "short");
        gui::Press(prompt, IDOK);
        Answer(process, "Error", "The minimum password length is 6 characters", IDOK, prompt, true);
        ASSERT_TRUE(IsWindowVisible(prompt)) << "a short password keeps the dialog open";
        gui::Press(prompt, IDCANCEL);
        Answer(process, "Error opening file", vorx_GetErrorString(vorx_PasswordRequired), IDOK);
        EXPECT_EQ(process.WaitForExit(kFinish), 10u);
        EXPECT_TRUE(gui::TopWindows(process.Id()).empty());
    }
    {
        gui::Process process;
        Start(process, "setup.exe");
        HWND prompt = gui::WaitForWindow(process.Id(), kPasswordCaption, kAppear, "#32770");
        ASSERT_NE(prompt, nullptr);
        gui::Type(prompt, kPasswordEdit, "not the password");
        gui::Press(prompt, IDOK);
        const gui::MessageBoxInfo failed = gui::WaitForMessageBox(process.Id(), "Error opening file", kAppear);
        ASSERT_NE(failed.window, nullptr);
        EXPECT_EQ(failed.text, vorx_GetErrorString(vorx_CrcMismatch));
        Shot(process, "2-wrong-password");
        gui::Press(failed.window, IDOK);
        EXPECT_EQ(process.WaitForExit(kFinish), 9u);
    }
    {
        gui::Process process;
        Start(process, "setup.exe");
        HWND prompt = gui::WaitForWindow(process.Id(), kPasswordCaption, kAppear, "#32770");
        ASSERT_NE(prompt, nullptr);
        ASSERT_EQ(typed.size(), 70u);
        gui::Type(prompt, kPasswordEdit, typed);
        gui::Press(prompt, IDOK);
        HWND wizard = WaitForPage(process, 1);
        ASSERT_NE(wizard, nullptr);
        gui::Press(wizard, kNext);
        EXPECT_EQ(process.WaitForExit(kFinish), 0u);
        EXPECT_EQ(ReadFile(out + "secret\\plan.txt"), "the plan");
    }
}

TEST_F(SelfExtractor, ARememberedWrongPasswordBringsThePerFilePrompt) {
    const std::string out = Path("out") + "\\";
    vorx::test::DamagedDirectory names;
    names.password = "names-password";
    Make("setup.exe", {out, ""},
         {{"plain.txt", "plain"}, {"locked.txt", "locked data", std::string("data-password")}}, names);
    gui::Process process;
    Start(process, "setup.exe");
    HWND prompt = gui::WaitForWindow(process.Id(), kPasswordCaption, kAppear, "#32770");
    ASSERT_NE(prompt, nullptr);
    gui::Type(prompt, kPasswordEdit, "names-password");
    gui::ClickCheckBox(prompt, kRemember);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlChecked(prompt, kRemember); }, kAppear));
    gui::Press(prompt, IDOK);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(prompt); }, kAppear));

    HWND wizard = WaitForPage(process, 1);
    ASSERT_NE(wizard, nullptr);
    gui::Press(wizard, kNext);
    // The remembered password fails on the entry: the dialog asks, owned by the wizard,
    // with its own text and the remembered password ticked.
    HWND filePrompt = gui::WaitForWindow(process.Id(), kPasswordCaption, kAppear, "#32770");
    ASSERT_NE(filePrompt, nullptr);
    EXPECT_EQ(GetWindow(filePrompt, GW_OWNER), wizard);
    EXPECT_EQ(gui::ControlText(filePrompt, kPrompt), kFilePrompt);
    EXPECT_TRUE(gui::ControlChecked(filePrompt, kRemember));
    Shot(process, "1-file-password");
    gui::Type(filePrompt, kPasswordEdit, "data-password");
    gui::Press(filePrompt, IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), 0u);
    EXPECT_EQ(ReadFile(out + "plain.txt"), "plain");
    EXPECT_EQ(ReadFile(out + "locked.txt"), "locked data");
}

TEST_F(SelfExtractor, CancelDuringALongExtractionAnsweredNoThenYes) {
    const std::string out = Path("out") + "\\";
    const std::string big = Pattern(24u << 20);
    Make("setup.exe", {out, "after.exe"},
         {{"big.bin", big, std::nullopt, 64}, {"after.txt", "after"}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    ASSERT_EQ(WaitForPage(process, 2), wizard);
    ASSERT_TRUE(gui::WaitUntil([&] { return ProgressPosition(wizard) >= 1; }, kFinish));

    gui::Press(wizard, kCancel);
    const gui::MessageBoxInfo question = gui::WaitForMessageBox(process.Id(), "Cancel", kAppear);
    ASSERT_NE(question.window, nullptr);
    EXPECT_EQ(question.text, "Are you sure you wish to cancel extraction?");
    EXPECT_EQ(question.owner, wizard);
    Shot(process, "1-cancel-question");
    const int before = ProgressPosition(wizard);
    gui::Press(question.window, IDNO);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(question.window); }, kAppear));
    EXPECT_TRUE(gui::WaitUntil([&] { return ProgressPosition(wizard) > before; }, kFinish))
        << "No lets the extraction go on";
    EXPECT_TRUE(gui::ControlEnabled(wizard, kCancel));
    ASSERT_TRUE(process.Running());

    gui::Press(wizard, kCancel);
    Answer(process, "Cancel", "Are you sure you wish to cancel extraction?", IDYES);
    // The run ends without reporting the stopped extraction as an error.
    EXPECT_EQ(process.WaitForExit(kFinish), 2u);
    EXPECT_TRUE(Names(out).empty()) << "the file being written is removed";
}

TEST_F(SelfExtractor, TheRunCommandStartsAProgramFromTheDestination) {
    const std::string out = Path("dest dir") + "\\";
    Make("setup.exe", {out, "bin tools\\marker --flag \"two words\""},
         {{"bin tools\\marker.exe", ReadFile(WindowsPath(VORX_MARKER))}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(process.WaitForExit(kFinish), 0u);
    EXPECT_EQ(ReadFile(out + "bin tools\\ran.txt"), "--flag \"two words\"");
}

TEST_F(SelfExtractor, AnEncryptedFileWithNothingRememberedFailsAndTheCommandStillRuns) {
    const std::string out = Path("out") + "\\";
    Make("setup.exe", {out, "marker.exe after-error"},
         {{"marker.exe", ReadFile(WindowsPath(VORX_MARKER))},
          {"locked.txt", "locked", std::string("data-password")},
          {"never.txt", "not reached"}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(gui::NoWindowFor(process.Id(), kPasswordCaption, 300)) << "no prompt without a remembered password";
    Answer(process, "Error extracting", vorx_GetErrorString(vorx_PasswordRequired), IDOK, wizard, true);
    EXPECT_EQ(process.WaitForExit(kFinish), 10u);
    EXPECT_EQ(ReadFile(out + "ran.txt"), "after-error");
    EXPECT_FALSE(fs::exists(out + "never.txt"));
}

TEST_F(SelfExtractor, QuietModeExtractsWithoutWindows) {
    SetEnvironmentVariableA("VORX_GUI_TARGET", dir_.c_str());
    Make("setup.exe", {"%VORX_GUI_TARGET%\\quiet\\", ""},
         {{"$comments$", "not shown"}, {"one.txt", "1"}, {"sub\\two.txt", "2"}});
    for (const char* tail : {"/q", "/Q"}) {
        fs::remove_all(Path("quiet"));
        gui::Process process;
        Start(process, "setup.exe", tail);
        bool windowSeen = false;
        gui::WaitUntil([&] { windowSeen = windowSeen || !gui::TopWindows(process.Id()).empty();
                             return !process.Running(); }, kFinish);
        EXPECT_EQ(process.WaitForExit(kFinish), 0u) << tail;
        EXPECT_FALSE(windowSeen) << tail;
        EXPECT_EQ(ReadFile(Path("quiet\\one.txt")), "1") << tail;
        EXPECT_EQ(ReadFile(Path("quiet\\sub\\two.txt")), "2") << tail;
        EXPECT_FALSE(fs::exists(Path("quiet\\$comments$")));
    }
}

TEST_F(SelfExtractor, QuietModeReportsAFailedEntryAndExitsWithItsCode) {
    vorx::test::RecordOverrides wrongCrc;
    wrongCrc.crc32 = 0x12345678;
    Make("setup.exe", {Path("quiet"), "never.exe"},
         {{"good.txt", "good"}, {"bad.txt", "bad data", std::nullopt, vorx::kDefaultChunkSize, wrongCrc},
          {"never.exe", "x"}});
    WriteFile(Path("quiet\\bad.txt"), "old bad");
    gui::Process process;
    Start(process, "setup.exe", "/q");
    Answer(process, "Overwrite", "File " + Path("quiet") + "\\bad.txt exists already, ovewrite it?", IDYES);
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error extracting", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, vorx_GetErrorString(vorx_CrcMismatch));
    EXPECT_EQ(box.owner, nullptr);
    Shot(process, "1-error");
    gui::Press(box.window, IDOK);
    // Finish follows the failure; the program to run was not extracted.
    Answer(process, "Error", "Nothing was started: \"never.exe\" names no file that was extracted.", IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), 9u);
    EXPECT_EQ(ReadFile(Path("quiet\\good.txt")), "good");
    // The failed overwrite leaves the old file whole and nothing half-written.
    EXPECT_EQ(ReadFile(Path("quiet\\bad.txt")), "old bad");
    EXPECT_EQ(Names(Path("quiet")), (std::set<std::string>{"bad.txt", "good.txt"}));
}

// "/q /s": no window at all, whatever happens; the exit code alone tells. A box that
// appeared would wait for a person, so the run would not end in time.
TEST_F(SelfExtractor, SilentModeShowsNothingAndExitsWithTheCode) {
    vorx::test::RecordOverrides wrongCrc;
    wrongCrc.crc32 = 0x12345678;
    vorx::test::DamagedDirectory encryptedNames;
    encryptedNames.password = "secret-password";
    const std::string out = Path("silent") + "\\";
    struct Case {
        const char* label;
        const char* tail;
        std::vector<Entry> entries;
        vorx::test::DamagedDirectory directory;
        DWORD code;
        std::vector<const char*> written;  // extracted before the run stopped
        const char* notWritten;            // never reached
    };
    const std::vector<Case> cases = {
        {"complete", "/q /s", {{"a.txt", "a"}, {"sub\\b.txt", "b"}}, {}, 0, {"a.txt", "sub\\b.txt"}, nullptr},
        {"damaged entry", "/Q /S",
         {{"a.txt", "a"}, {"bad.txt", "bad data", std::nullopt, vorx::kDefaultChunkSize, wrongCrc}, {"c.txt", "c"}},
         {}, 9, {"a.txt"}, "c.txt"},
        {"names need a password", "/q /s", {{"a.txt", "a"}}, encryptedNames, 10, {}, "a.txt"},
        {"entry needs a password", "/q /s",
         {{"a.txt", "a"}, {"locked.txt", "x", std::string("secret-password")}, {"c.txt", "c"}}, {}, 10, {"a.txt"}, "c.txt"},
        {"existing file", "/q /s", {{"a.txt", "a"}, {"kept.txt", "new"}, {"c.txt", "c"}}, {}, 2, {"a.txt"}, "c.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::error_code ignored;
        fs::remove_all(out, ignored);
        WriteFile(out + "kept.txt", "old");
        Make("setup.exe", {out, ""}, c.entries, c.directory);
        gui::Process process;
        Start(process, "setup.exe", c.tail);
        bool windowSeen = false;
        gui::WaitUntil([&] { windowSeen = windowSeen || !gui::TopWindows(process.Id()).empty();
                             return !process.Running(); }, kAppear);
        EXPECT_FALSE(windowSeen);
        EXPECT_EQ(process.WaitForExit(0), c.code) << "259: still running, waiting for a person";
        for (const Entry& entry : c.entries) {
            const bool written = std::find(c.written.begin(), c.written.end(), entry.name) != c.written.end();
            if (written) {
                EXPECT_EQ(ReadFile(out + entry.name), entry.data) << entry.name;
            }
        }
        if (c.notWritten) {
            EXPECT_FALSE(fs::exists(out + c.notWritten)) << c.notWritten;
        }
        EXPECT_EQ(ReadFile(out + "kept.txt"), "old") << "an existing file is never replaced";
    }
}

TEST_F(SelfExtractor, AStubWithoutAnArchiveReportsTheOpenFailure) {
    fs::copy_file(WindowsPath(VORX_STUB), Path("plain.exe"));
    gui::Process process;
    Start(process, "plain.exe");
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error opening file", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.owner, nullptr);
    Shot(process, "1-error");
    gui::Press(box.window, IDOK);
    const DWORD code = process.WaitForExit(kFinish);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(box.text, vorx_GetErrorString(static_cast<vorx_Error>(code)));
    EXPECT_TRUE(gui::NoWindowFor(process.Id(), kWizard, 300));
}

TEST_F(SelfExtractor, AFolderThatCannotBeCreatedStopsTheRun) {
    const std::string out = Path("out") + "\\";
    WriteFile(out + "docs", "a file where a folder should be");
    Make("setup.exe", {out, ""}, {{"first.txt", "1"}, {"docs\\guide.txt", "guide"}, {"last.txt", "3"}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, "Error creating directory");
    EXPECT_EQ(box.owner, nullptr) << "the folder error has no owner";
    Shot(process, "1-folder-error");
    gui::Press(box.window, IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), static_cast<DWORD>(vorx_WriteFailed));
    EXPECT_EQ(ReadFile(out + "first.txt"), "1");
    EXPECT_FALSE(fs::exists(out + "last.txt"));
}

TEST_F(SelfExtractor, QuietModeRefusesADeviceNameWithCodeThree) {
    Make("setup.exe", {Path("quiet"), ""}, {{"first.txt", "1"}, {"docs\\nul.txt", "lost"}, {"last.txt", "3"}});
    gui::Process process;
    Start(process, "setup.exe", "/q");
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error extracting", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, vorx_GetErrorString(vorx_CorruptArchive));
    gui::Press(box.window, IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), 3u);
    EXPECT_EQ(ReadFile(Path("quiet\\first.txt")), "1");
    EXPECT_FALSE(fs::exists(Path("quiet\\docs")));
    EXPECT_FALSE(fs::exists(Path("quiet\\last.txt")));
}

TEST_F(SelfExtractor, ANameThatLeavesTheDestinationIsNeverWritten) {
    const std::string out = Path("out") + "\\";
    Make("setup.exe", {out, ""},
         {{"first.txt", "1"}, {"..\\escaped.txt", "evil"}, {"last.txt", "3"}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "setup.exe");
    ASSERT_NE(wizard, nullptr);
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error extracting", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, vorx_GetErrorString(vorx_CorruptArchive));
    EXPECT_EQ(box.owner, wizard);
    Shot(process, "1-refused-name");
    gui::Press(box.window, IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), 3u);
    EXPECT_EQ(ReadFile(out + "first.txt"), "1");
    EXPECT_FALSE(fs::exists(Path("escaped.txt")));
    EXPECT_FALSE(fs::exists(out + "last.txt"));
}

TEST_F(SelfExtractor, LinksInsideTheDestinationAreNeverWrittenThrough) {
    // Links left by an earlier run are removed without following them.
    const std::string out = Path("out") + "\\";
    // (Wine does not wait for a host program: started when nothing is there, rm would
    // race with the files made below.)
    if (fs::exists(Path("out")) || fs::exists(Path("outside"))) {
        ASSERT_TRUE(Host("/bin/rm", "-rf " + HostPath(Path("out")) + " " + HostPath(Path("outside")),
                         [&] { return !fs::exists(Path("out")) && !fs::exists(Path("outside")); }));
    }
    WriteFile(Path("outside\\hard.txt"), "outside hard");
    WriteFile(Path("outside\\secret.txt"), "outside secret");
    fs::create_directories(out);
    ASSERT_TRUE(CreateHardLinkA((out + "hard.txt").c_str(), Path("outside\\hard.txt").c_str(), nullptr));
    const bool links = HostLink(Path("outside\\secret.txt"), out + "filelink.txt") &&
                       HostLink(Path("outside"), out + "folderlink");
    Make("setup.exe", {out, ""},
         {{"hard.txt", "new hard"}, {"filelink.txt", "new link"}, {"folderlink\\evil.txt", "evil"},
          {"after.txt", "after"}});
    gui::Process process;
    Start(process, "setup.exe");
    HWND wizard = WaitForPage(process, 1);
    ASSERT_NE(wizard, nullptr);
    gui::ClickCheckBox(wizard, kOverwriteAll);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlChecked(wizard, kOverwriteAll); }, kAppear));
    gui::Press(wizard, kNext);
    if (links) {
        const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error extracting", kAppear);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, "Not extracted: " + out +
                                "folderlink\\ is a link to another place (a junction or symbolic link) "
                                "inside the destination folder, and nothing is written through it.");
        EXPECT_EQ(box.owner, wizard);
        Shot(process, "1-link-refused");
        gui::Press(box.window, IDOK);
        EXPECT_EQ(process.WaitForExit(kFinish), static_cast<DWORD>(vorx_WriteFailed));
        EXPECT_EQ(ReadFile(out + "filelink.txt"), "new link") << "the link itself is replaced";
        EXPECT_FALSE(fs::exists(Path("outside\\evil.txt")));
        EXPECT_FALSE(fs::exists(out + "after.txt")) << "the run stops at the refused entry";
    } else {
        ADD_FAILURE() << "no host links: only the hard link was tried";
        process.WaitForExit(kFinish);
    }
    EXPECT_EQ(ReadFile(out + "hard.txt"), "new hard");
    EXPECT_EQ(ReadFile(Path("outside\\hard.txt")), "outside hard");
    EXPECT_EQ(ReadFile(Path("outside\\secret.txt")), "outside secret");
    EXPECT_EQ(Names(Path("outside")), (std::set<std::string>{"hard.txt", "secret.txt"}));
    for (const std::string& name : Names(out)) EXPECT_NE(name.rfind("~vx", 0), 0u) << name;
}

TEST_F(SelfExtractor, AFolderNameOutsideTheCodePageNeverOpensAnotherFile) {
    // Lossily converted, ".../inner/\uFF0E\uFF0E/setup.exe" reads ".../inner/../setup.exe":
    // the neighbour two folders up.
    Make("setup.exe", {Path("from-neighbour"), ""}, {{"neighbour.txt", "neighbour"}});
    Make("mine.exe", {Path("from-mine"), ""}, {{"mine.txt", "mine"}});
    const fs::path folder = fs::path(dir_) / "inner" / std::wstring(L"\uFF0E\uFF0E");
    fs::create_directories(folder);
    fs::copy_file(Path("mine.exe"), folder / "setup.exe");
    gui::Process process;
    ASSERT_TRUE(process.Start((folder / "setup.exe").wstring(), L"/q"));
    // Either the stub opens itself by a name that is exact (under Wine the short name),
    // or it refuses clearly.
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error opening file", 3000);
    if (box.window != nullptr) {
        EXPECT_EQ(box.text,
                  "The path of this program is too long or has characters that this system's code "
                  "page cannot represent, so it cannot open itself safely. Copy it to a folder with "
                  "a short plain name and start it from there.");
        Shot(process, "1-path-refused");
        gui::Press(box.window, IDOK);
        EXPECT_EQ(process.WaitForExit(kFinish), static_cast<DWORD>(vorx_InvalidArgument));
    } else {
        EXPECT_EQ(process.WaitForExit(kFinish), 0u);
        EXPECT_EQ(ReadFile(Path("from-mine\\mine.txt")), "mine");
    }
    // The stub extracts to its own destination whichever archive it opened.
    EXPECT_FALSE(fs::exists(Path("from-mine\\neighbour.txt")) || fs::exists(Path("from-neighbour")))
        << "the neighbour's archive was extracted";

    // A destination that expands to such a name is refused, not approximated to "..".
    SetEnvironmentVariableW(L"VORX_GUI_WIDE", folder.wstring().c_str());
    Make("wide.exe", {"%VORX_GUI_WIDE%\\escaped\\", ""}, {{"wide.txt", "wide"}});
    gui::Process wide;
    Start(wide, "wide.exe", "/q");
    Answer(wide, "Error",
           "The configured destination folder has characters that this system's code page "
           "cannot represent. Nothing was extracted.",
           IDOK);
    EXPECT_EQ(wide.WaitForExit(kFinish), static_cast<DWORD>(vorx_InvalidArgument));
    EXPECT_FALSE(fs::exists(Path("escaped"))) << "written two folders up";
    EXPECT_FALSE(fs::exists(folder / "escaped"));

    // The wizard says so and leaves the choice of a folder to the person.
    gui::Process asked;
    Start(asked, "wide.exe");
    const gui::MessageBoxInfo box2 = gui::WaitForMessageBox(asked.Id(), "Error", kAppear);
    ASSERT_NE(box2.window, nullptr);
    EXPECT_EQ(box2.text,
              "The configured destination folder has characters that this system's code page "
              "cannot represent. Please choose a folder on the next page.");
    Shot(asked, "2-destination-refused");
    gui::Press(box2.window, IDOK);
    HWND wizard = WaitForPage(asked, 1);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(gui::ControlText(wizard, kDestination), "");
    gui::Press(wizard, kCancel);
    EXPECT_EQ(asked.WaitForExit(kFinish), 2u);
}

TEST_F(SelfExtractor, OnlyAProgramThatThisRunExtractedIsStarted) {
    const std::string marker = ReadFile(WindowsPath(VORX_MARKER));
    const std::string out = Path("out") + "\\";
    // Planted beside the program, under a shorter prefix of the command.
    WriteFile(out + "my.exe", marker);
    Make("setup.exe", {out, "my tool.exe --go"}, {{"my tool.exe", marker}});
    {
        gui::Process process;
        HWND wizard = StartAndExtract(process, "setup.exe");
        ASSERT_NE(wizard, nullptr);
        EXPECT_EQ(process.WaitForExit(kFinish), 0u);
        EXPECT_EQ(ReadFile(out + "ran.txt"), "--go") << "the planted my.exe ran";
    }
    {
        // The person keeps the program at the overwrite question: it is still the one.
        fs::remove(out + "ran.txt");
        gui::Process process;
        HWND wizard = StartAndExtract(process, "setup.exe");
        ASSERT_NE(wizard, nullptr);
        Answer(process, "Overwrite", "File " + out + "my tool.exe exists already, ovewrite it?", IDNO);
        EXPECT_EQ(process.WaitForExit(kFinish), 0u);
        EXPECT_EQ(ReadFile(out + "ran.txt"), "--go");
    }
    // A program that the archive does not hold is not started, even where it exists.
    const std::string other = Path("other") + "\\";
    WriteFile(other + "setup.exe", marker);
    Make("other.exe", {other, "setup.exe /s"}, {{"readme.txt", "read me"}});
    gui::Process process;
    HWND wizard = StartAndExtract(process, "other.exe");
    ASSERT_NE(wizard, nullptr);
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(process.Id(), "Error", kAppear);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, "Nothing was started: \"setup.exe /s\" names no file that was extracted.");
    EXPECT_EQ(box.owner, wizard);
    Shot(process, "1-not-started");
    gui::Press(box.window, IDOK);
    EXPECT_EQ(process.WaitForExit(kFinish), static_cast<DWORD>(vorx_NotFound));
    EXPECT_EQ(ReadFile(other + "readme.txt"), "read me");
    EXPECT_FALSE(fs::exists(other + "ran.txt"));
}

}  // namespace
