// Screenshots of the wizard's pages for the demo: starts a self-extractor without
// arguments and saves each page, pressing Next on the first two (the payload must be
// large enough for the extracting page to stay a moment), then waits for the run to end.
//
//   vorx_wizard_pages SELF_EXTRACTOR OUTPUT_FOLDER
// writes OUTPUT_FOLDER/wizard-1-comment.png, -2-destination.png, -3-extracting.png.
// Exit code 0 when every page was seen and saved and the run ended with 0.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/gui/gui_driver.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vorx_wizard_pages SELF_EXTRACTOR OUTPUT_FOLDER\n");
        return 7;
    }
    gui::Process process;
    if (!process.Start(gui::WindowsPath(argv[1]), "")) {
        std::fprintf(stderr, "cannot start %s\n", argv[1]);
        return 2;
    }
    const struct {
        int control;  // shown on that page only
        const char* name;
    } pages[] = {{7000, "1-comment"}, {1000, "2-destination"}, {1004, "3-extracting"}};
    for (const auto& page : pages) {
        HWND wizard = gui::WaitForWindow(process.Id(), "Self Extracting Archive", 30000, "#32770");
        const std::string png = gui::WindowsPath(argv[2]) + "\\wizard-" + page.name + ".png";
        if (!gui::WaitUntil([&] { return gui::ControlVisible(wizard, page.control); }, 30000) ||
            !gui::Screenshot(process.Id(), png)) {
            std::fprintf(stderr, "the %s page was not seen\n", page.name);
            return 1;
        }
        std::printf("%s\n", png.c_str());
        if (page.control != 1004) gui::Press(wizard, IDOK);
    }
    const DWORD code = process.WaitForExit(300000);
    if (code != 0) std::fprintf(stderr, "the self-extractor ended with %lu\n", static_cast<unsigned long>(code));
    return code == 0 ? 0 : 1;
}
