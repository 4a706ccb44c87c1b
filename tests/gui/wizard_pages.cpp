// Screenshots of the wizard's pages for the demo: starts a self-extractor without
// arguments, saves the comment page, presses Next, saves the destination page, presses
// Next and saves the extracting page (the self-extractor's payload must be large
// enough for that page to stay a moment), then waits for the run to end.
//
//   vorx_wizard_pages SELF_EXTRACTOR OUTPUT_FOLDER
// writes OUTPUT_FOLDER/wizard-1-comment.png, -2-destination.png, -3-extracting.png.
// Exit code 0 when every page was seen and saved and the run ended with 0.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/gui/gui_driver.h"

namespace {

constexpr DWORD kAppear = 30000;
constexpr int kNext = 1, kDestination = 1000, kProgress = 1004, kCommentView = 7000;

HWND WaitForControl(const gui::Process& process, int control) {
    HWND wizard = gui::WaitForWindow(process.Id(), "Self Extracting Archive", kAppear, "#32770");
    if (wizard == nullptr || !gui::WaitUntil([&] { return gui::ControlVisible(wizard, control); }, kAppear))
        return nullptr;
    return wizard;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vorx_wizard_pages SELF_EXTRACTOR OUTPUT_FOLDER\n");
        return 7;
    }
    const std::string program = gui::WindowsPath(argv[1]);
    const std::string folder = gui::WindowsPath(argv[2]);
    gui::Process process;
    if (!process.Start(program, "")) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return 2;
    }
    const struct {
        int control;
        const char* name;
    } pages[] = {{kCommentView, "1-comment"}, {kDestination, "2-destination"}, {kProgress, "3-extracting"}};
    for (const auto& page : pages) {
        HWND wizard = WaitForControl(process, page.control);
        const std::string png = folder + "\\wizard-" + page.name + ".png";
        if (wizard == nullptr || !gui::Screenshot(process.Id(), png)) {
            std::fprintf(stderr, "the %s page was not seen\n", page.name);
            return 1;
        }
        std::printf("%s\n", png.c_str());
        if (page.control != kProgress) gui::Press(wizard, kNext);
    }
    const DWORD code = process.WaitForExit(300000);
    if (code != 0) std::fprintf(stderr, "the self-extractor ended with %lu\n", static_cast<unsigned long>(code));
    return code == 0 ? 0 : 1;
}
