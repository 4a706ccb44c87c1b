// The vorx tool's output on the console.
#include "tools/console.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/host.h"

namespace tool {
namespace {

// Columns a text takes on the terminal: one a character (UTF-8 on POSIX, a byte of the
// ANSI code page on Windows).
int TextColumns(const std::string& text) {
    if (!host::TextIsUtf8()) return static_cast<int>(text.size());
    int columns = 0;
    for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
    return columns;
}

// The last characters of `text` that fit `columns` (at least 4), behind "..." when
// some are cut.
std::string TailThatFits(const std::string& text, int columns) {
    if (TextColumns(text) <= columns) return text;
    const bool utf8 = host::TextIsUtf8();
    size_t start = text.size();
    for (int kept = 0; kept < columns - 3 && start > 0; ++kept) {
        --start;
        while (utf8 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
    }
    return "..." + text.substr(start);
}

// The length of the UTF-8 character at `i` when it reorders the text around it on screen
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069): printed as it stands, a
// name "readme\u202Etxt.exe" shows as "readmeexe.txt". 0 for any other character; its
// code point in `code`.
size_t ReordersText(const std::string& text, size_t i, unsigned* code) {
    const auto at = [&](size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
    };
    if (at(i) == 0xD8 && at(i + 1) == 0x9C) return *code = 0x061C, 2;
    if (at(i) != 0xE2 || (at(i + 1) != 0x80 && at(i + 1) != 0x81)) return 0;
    *code = 0x2000u | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
    const bool reorders = *code == 0x200E || *code == 0x200F ||
                          (*code >= 0x202A && *code <= 0x202E) ||
                          (*code >= 0x2066 && *code <= 0x2069);
    return reorders && (at(i + 2) & 0xC0) == 0x80 ? 3 : 0;
}

std::string Amount(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

// "[#####     ]  50%  1.2 MiB of 2.4 MiB  8.0 MiB/s  photos\a.jpg", at most `columns`
// wide: what does not fit is left out from the end, and the file name is cut to its
// last characters.
std::string ProgressLine(uint64_t done, uint64_t total, double seconds, const std::string& file,
                         int columns) {
    const int percent = total ? static_cast<int>(std::min(done, total) * 100 / total) : 100;
    const int bar = columns >= 100 ? 20 : 10;
    const int filled = percent * bar / 100;
    char head[64];
    std::snprintf(head, sizeof head, "[%.*s%.*s] %3d%%", filled, "####################",
                  bar - filled, "                    ", percent);
    std::string line = head;
    if (TextColumns(line) > columns)
        return line.substr(0, static_cast<size_t>(std::max(columns, 0)));
    std::string pieces[2] = {Amount(static_cast<double>(done)) + " of " +
                             Amount(static_cast<double>(total))};
    if (seconds > 0 && done > 0) pieces[1] = Amount(static_cast<double>(done) / seconds) + "/s";
    for (const std::string& piece : pieces) {
        if (piece.empty()) continue;
        if (TextColumns(line) + 2 + TextColumns(piece) > columns) return line;
        line += "  " + piece;
    }
    const int room = columns - TextColumns(line) - 2;
    if (!file.empty() && room >= 4) line += "  " + TailThatFits(file, room);
    return line;
}

}  // namespace

std::string ByteCount(uint64_t bytes) { return Amount(static_cast<double>(bytes)); }

std::string Printable(const std::string& text) {
    const bool utf8 = host::TextIsUtf8();
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        unsigned code = c;
        if (const size_t length = utf8 ? ReordersText(text, i, &code) : 0) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", code);
            out += escaped;
            i += length - 1;
            continue;
        }
        if (utf8 && c == 0xC2 && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            code = static_cast<unsigned char>(text[++i]);
        } else if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", code);
        out += hex;
    }
    return out;
}

void Error(const std::string& message) {
    std::fprintf(stderr, "vorx: %s\n", Printable(message).c_str());
}

Progress::Progress(uint64_t total)
    : enabled_(host::IsTerminal(2)), total_(total), start_(Clock::now()) {}

void Progress::Done() {
    if (drawn_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", drawn_, "");
    std::fflush(stderr);
    drawn_ = 0;
}

void Progress::Draw(bool force) {
    const Clock::time_point now = Clock::now();
    // A few redraws a second are enough to read; a terminal is slow to scroll.
    if (!force && drawn_ > 0 && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const std::string line =
        ProgressLine(done_, total_, std::chrono::duration<double>(now - start_).count(), file_,
                     host::TerminalColumns(2) - 1);
    const int width = TextColumns(line);
    // Spaces over what is left of a longer line before.
    std::fprintf(stderr, "\r%s%*s", line.c_str(), drawn_ > width ? drawn_ - width : 0, "");
    std::fflush(stderr);
    drawn_ = width;
}

std::string DisplayName(const std::string& stored, unsigned codePage, bool printable) {
    std::string host, error;
    if (host::FromCodePage(stored, codePage, &host, &error))
        return printable ? Printable(host) : host;
    std::string out;
    for (unsigned char c : stored) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string JsonString(const std::string& s) {
    const bool utf8 = host::TextIsUtf8();
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        unsigned code = 0;
        if (const size_t length = utf8 ? ReordersText(s, i, &code) : 0) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
            i += length - 1;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F || (utf8 && c == 0xC2 && next >= 0x80 && next < 0xA0)) {
            // Control characters, C1 ones (UTF-8 C2 80 to C2 9F) among them.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c == 0xC2 ? next : c);
            out += hex;
            if (c == 0xC2) ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string FormatTime(int64_t seconds, const char* format) {
    std::tm tm{};
    if (!host::UtcCalendarTime(seconds, &tm)) return "(invalid time)";
    char buffer[32];
    std::strftime(buffer, sizeof buffer, format, &tm);
    return buffer;
}

int64_t EntrySeconds(const vorx_FileInfo& info) {
    if (info.lastWriteSeconds != 0) return info.lastWriteSeconds;
    const uint64_t ft = (static_cast<uint64_t>(info.lastWriteTime.highDateTime) << 32) |
                        info.lastWriteTime.lowDateTime;
    return static_cast<int64_t>(ft / 10000000ull) - 11644473600ll;
}

}  // namespace tool
