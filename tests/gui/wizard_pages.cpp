// Screenshots of the wizard's pages for the demo: starts a self-extractor without
// arguments, saves each page as OUTPUT_FOLDER/wizard-<page>.png and presses Next on the
// first two (the payload must keep the extracting page a moment). Exit code 0 when every
// page was seen and saved and the run ended with 0.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/gui/gui_driver.h"

int main(int argc, char** argv) {
    gui::Process process;
    if (argc != 3 || !process.Start(gui::WindowsPath(argv[1]), "")) {
        std::fprintf(stderr, "usage: vorx_wizard_pages SELF_EXTRACTOR OUTPUT_FOLDER\n");
        return 7;
    }
    const std::pair<int, const char*> pages[] = {{7000, "1-comment"}, {1000, "2-destination"}, {1004, "3-extracting"}};
    for (const auto& [control, name] : pages) {  // the control shown on that page only
        HWND wizard = gui::WaitForDialog(process.Id(), "Self Extracting Archive", 30000);
        const std::string png = gui::WindowsPath(argv[2]) + "\\wizard-" + name + ".png";
        if (!gui::WaitUntil([&] { return gui::ControlVisible(wizard, control); }, 30000) ||
            !gui::Screenshot(process.Id(), png)) {
            std::fprintf(stderr, "the %s page was not seen\n", name);
            return 1;
        }
        std::printf("%s\n", png.c_str());
        if (control != 1004) gui::Press(wizard, IDOK);
    }
    const DWORD code = process.WaitForExit(300000);
    if (code != 0) std::fprintf(stderr, "the self-extractor ended with %lu\n", static_cast<unsigned long>(code));
    return code == 0 ? 0 : 1;
}
