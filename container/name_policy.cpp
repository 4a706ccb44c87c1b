#include "container/name_policy.h"

#include <cstdint>
#include <initializer_list>

namespace vorx {
namespace {

enum class Kind { Unsupported, SingleByte, Iso8859, Cp932, Cp936, Cp949, Cp950, Utf8 };

struct CodePageRule {
    Kind kind;
    bool superscriptOne;       // 0xB9 is superscript one
    bool superscriptTwoThree;  // 0xB2 and 0xB3 are superscript two and three
};

CodePageRule RuleOf(unsigned codePage) {
    switch (codePage) {
        case 874:
        case 1250:
        case 1251:
            return {Kind::SingleByte, false, false};
        case 1253:
            return {Kind::SingleByte, false, true};
        case 1252:
        case 1254:
        case 1255:
        case 1256:
        case 1257:
        case 1258:
            return {Kind::SingleByte, true, true};
        case 28592:
        case 28594:
        case 28595:
        case 28596:
        case 28600:
        case 28601:
        case 28604:
        case 28606:
            return {Kind::Iso8859, false, false};
        case 28593:
        case 28597:
            return {Kind::Iso8859, false, true};
        case 28591:
        case 28598:
        case 28599:
        case 28603:
        case 28605:
            return {Kind::Iso8859, true, true};
        case 932:
            return {Kind::Cp932, false, false};
        case 936:
            return {Kind::Cp936, false, false};
        case 949:
            return {Kind::Cp949, false, false};
        case 950:
            return {Kind::Cp950, false, false};
        case 65001:
            return {Kind::Utf8, false, false};
        default:
            return {Kind::Unsupported, false, false};
    }
}

bool In(uint8_t c, uint8_t low, uint8_t high) { return c >= low && c <= high; }

bool IsLeadByte(uint8_t c, Kind kind) {
    switch (kind) {
        case Kind::Cp932:
            return In(c, 0x81, 0x9F) || In(c, 0xE0, 0xFC);
        case Kind::Cp936:
        case Kind::Cp949:
        case Kind::Cp950:
            return In(c, 0x81, 0xFE);
        default:
            return false;
    }
}

bool IsTrailByte(uint8_t c, Kind kind) {
    switch (kind) {
        case Kind::Cp932:
            return In(c, 0x40, 0x7E) || In(c, 0x80, 0xFC);
        case Kind::Cp936:
            return In(c, 0x40, 0x7E) || In(c, 0x80, 0xFE);
        case Kind::Cp949:
            return In(c, 0x41, 0x5A) || In(c, 0x61, 0x7A) || In(c, 0x81, 0xFE);
        case Kind::Cp950:
            return In(c, 0x40, 0x7E) || In(c, 0xA1, 0xFE);
        default:
            return false;
    }
}

// Bytes of the character at p (left > 0 bytes remain), or 0 when they form none.
size_t CharLength(const uint8_t* p, size_t left, Kind kind) {
    const uint8_t c = p[0];
    if (c < 0x80) return 1;
    if (kind == Kind::Utf8) {
        size_t n;
        uint8_t low = 0x80, high = 0xBF;  // range of the second byte
        if (In(c, 0xC2, 0xDF))
            n = 2;
        else if (c == 0xE0)
            n = 3, low = 0xA0;
        else if (c == 0xED)
            n = 3, high = 0x9F;  // no surrogates
        else if (In(c, 0xE1, 0xEF))
            n = 3;
        else if (c == 0xF0)
            n = 4, low = 0x90;
        else if (In(c, 0xF1, 0xF3))
            n = 4;
        else if (c == 0xF4)
            n = 4, high = 0x8F;
        else
            return 0;
        if (left < n || !In(p[1], low, high)) return 0;
        for (size_t i = 2; i < n; ++i)
            if (!In(p[i], 0x80, 0xBF)) return 0;
        return n;
    }
    if (!IsLeadByte(c, kind)) return 1;
    return left >= 2 && IsTrailByte(p[1], kind) ? 2 : 0;
}

bool IsControl(const uint8_t* p, size_t n, Kind kind) {
    if (n == 1)
        return p[0] < 0x20 || p[0] == 0x7F || (kind == Kind::Iso8859 && In(p[0], 0x80, 0x9F));
    return kind == Kind::Utf8 && n == 2 && p[0] == 0xC2 && p[1] < 0xA0;  // U+0080 to U+009F
}

bool IsReserved(uint8_t c) {
    return c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

uint8_t Upper(uint8_t c) { return In(c, 'a', 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

bool SameLetters(const uint8_t* p, size_t n, const char* word) {
    for (size_t i = 0; i < n; ++i)
        if (word[i] == '\0' || Upper(p[i]) != static_cast<uint8_t>(word[i])) return false;
    return word[n] == '\0';
}

// A digit after COM or LPT: 0 to 9, or superscript one, two or three where the code
// page has them (Windows counts those as digits of a device name too).
bool IsDeviceDigit(const uint8_t* p, size_t n, const CodePageRule& rule) {
    if (n == 1) {
        if (In(p[0], '0', '9')) return true;
        return (p[0] == 0xB9 && rule.superscriptOne) ||
               ((p[0] == 0xB2 || p[0] == 0xB3) && rule.superscriptTwoThree);
    }
    if (n != 2) return false;
    if (rule.kind == Kind::Cp949) return p[0] == 0xA9 && In(p[1], 0xF6, 0xF8);
    return rule.kind == Kind::Utf8 && p[0] == 0xC2 &&
           (p[1] == 0xB9 || p[1] == 0xB2 || p[1] == 0xB3);
}

// Windows opens a component as a device when the part before its first dot, trailing
// blanks removed, is a device's name.
bool IsDevice(const uint8_t* p, size_t n, const CodePageRule& rule) {
    size_t stem = 0;
    while (stem < n && p[stem] != '.') ++stem;
    while (stem > 0 && p[stem - 1] == ' ') --stem;
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (SameLetters(p, stem, name)) return true;
    return stem > 3 && (SameLetters(p, 3, "COM") || SameLetters(p, 3, "LPT")) &&
           IsDeviceDigit(p + 3, stem - 3, rule);
}

}  // namespace

bool IsNameCodePage(unsigned codePage) { return RuleOf(codePage).kind != Kind::Unsupported; }

NameProblem CheckEntryName(const char* name, size_t length, unsigned codePage) {
    if (length == 0) return NameProblem::Empty;
    const CodePageRule rule = RuleOf(codePage);
    if (rule.kind == Kind::Unsupported) return NameProblem::CodePage;
    if (length > kMaxEntryNameBytes) return NameProblem::TooLong;
    const auto* p = reinterpret_cast<const uint8_t*>(name);
    size_t start = 0;
    for (;;) {
        size_t i = start, last = start, lastLength = 0;
        while (i < length && p[i] != '\\') {
            const size_t n = CharLength(p + i, length - i, rule.kind);
            if (n == 0) return NameProblem::BadSequence;
            if (IsControl(p + i, n, rule.kind)) return NameProblem::Control;
            if (n == 1 && p[i] == '/') return NameProblem::Slash;
            if (n == 1 && IsReserved(p[i])) return NameProblem::Reserved;
            last = i;
            lastLength = n;
            i += n;
        }
        if (i == start) return NameProblem::EmptyComponent;
        if (lastLength == 1 && (p[last] == '.' || p[last] == ' ')) return NameProblem::TrailingDot;
        if (IsDevice(p + start, i - start, rule)) return NameProblem::Device;
        if (i == length) return NameProblem::None;
        start = i + 1;
        if (start == length) return NameProblem::EmptyComponent;
    }
}

const char* NameProblemText(NameProblem problem) {
    switch (problem) {
        case NameProblem::None:
            return "";
        case NameProblem::Empty:
            return "the name is empty";
        case NameProblem::TooLong:
            return "the name is longer than 239 bytes";
        case NameProblem::CodePage:
            return "names in this code page cannot be checked";
        case NameProblem::BadSequence:
            return "the name has bytes that are no character of its code page";
        case NameProblem::Slash:
            return "the name has a '/', which Windows takes for a separator";
        case NameProblem::EmptyComponent:
            return "the name has an empty component (a leading, trailing or doubled '\\')";
        case NameProblem::Control:
            return "the name has a control character";
        case NameProblem::Reserved:
            return "the name has one of < > : \" | ? *, which no Windows file name may hold";
        case NameProblem::TrailingDot:
            return "a component ends in '.' or a blank (\".\" and \"..\" among them), which "
                   "Windows drops";
        case NameProblem::Device:
            return "a component is a Windows device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, "
                   "or COM or LPT and a digit; with any extension)";
    }
    return "";
}

size_t ComponentEnd(const char* name, size_t length, size_t start, unsigned codePage) {
    const Kind kind = RuleOf(codePage).kind;
    const auto* p = reinterpret_cast<const uint8_t*>(name);
    size_t i = start;
    while (i < length && p[i] != '\\') {
        const size_t n = CharLength(p + i, length - i, kind);
        i += n == 0 ? 1 : n;
    }
    return i;
}

}  // namespace vorx
