// What the vorx tool prints: messages with control bytes escaped, the progress line on
// a terminal, names of entries, JSON strings and times.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "library/vorx.h"

namespace tool {

// Host text as it is printed on a terminal: control characters (C0, DEL and, in the
// UTF-8 of POSIX hosts, C1) escaped as \xNN, so a name cannot move the cursor, clear
// the screen or overwrite the lines above it.
std::string Printable(const std::string& text);

// "vorx: MESSAGE" on standard error. Every message goes through Printable: names of
// files and entries are part of many.
void Error(const std::string& message);

// One line on standard error, redrawn in place: a bar, the percentage, the bytes done of
// the total, the rate so far and the file being worked on, cut to the terminal's width.
// Nothing at all when standard error is not a terminal.
class Progress {
public:
    explicit Progress(uint64_t total);
    ~Progress() { Done(); }

    // The file being worked on from now on.
    void SetFile(const std::string& name) {
        if (!enabled_) return;
        file_ = name;
        Draw(false);
    }
    void Show(uint64_t done) {
        if (!enabled_) return;
        done_ = done;
        Draw(done >= total_);  // the end is always shown, however quickly it came
    }
    // Clears the line, so that a message or the summary can be printed.
    void Done();

private:
    using Clock = std::chrono::steady_clock;

    void Draw(bool force);

    bool enabled_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::string file_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
    int drawn_ = 0;  // columns of the line on screen
};

// A stored name in the host's form (or its bytes escaped when the code page does not
// define them); `printable` escapes control characters as well (not for JSON, which
// escapes them its own way).
std::string DisplayName(const std::string& stored, unsigned codePage, bool printable = true);

// A number of bytes as people read it: 1536 -> "1.5 KiB".
std::string ByteCount(uint64_t bytes);

// `s` as a JSON string, quotes included.
std::string JsonString(const std::string& s);

// A time (seconds since 1970) as UTC in strftime's `format`.
std::string FormatTime(int64_t seconds, const char* format = "%Y-%m-%d %H:%M:%S");

// Seconds since 1970 of an entry's last write, from whichever form the archive stores.
int64_t EntrySeconds(const vorx_FileInfo& info);

}  // namespace tool
