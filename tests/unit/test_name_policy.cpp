// The name rule, judged on stored bytes in a single-byte, a double-byte and the UTF-8
// code page: what it accepts, what it refuses and why.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "container/name_policy.h"

namespace vorx {
namespace {

TEST(NamePolicy, AcceptsAndRefusesByCodePage) {
    using P = NameProblem;
    const P ok = P::None;
    // The problem in 1252, and in 932 and UTF-8 where they judge otherwise.
    struct Row {
        P cp1252;
        std::vector<std::string> names;
        P cp932 = cp1252, utf8 = cp1252;
    };
    const Row rows[] = {
        {ok, {"readme.txt", "docs\\sub dir\\.hidden\\a..b", std::string(239, 'n')}},
        {P::Empty, {""}},
        {P::TooLong, {std::string(240, 'n')}},
        // Components that Windows resolves or changes.
        {P::TrailingDot, {"x\\.. \\.. \\e", "...", "a\\..\\..\\evil.txt", "a\\.\\b", "name. "}},
        {P::EmptyComponent, {"a\\\\b", "\\root.txt", "folder\\"}},
        {P::Slash, {"a/b"}},
        {P::Reserved, {"C:\\drive.txt", "a|b", "a*b", "a?b", "a<b", "a>b", "a:b", "a\"b"}},
        {P::Control, {"a\x1b[2Jb", std::string("nul\0byte", 8), "tab\there", "del\x7f"}},
        // U+0085 in UTF-8; two letters in 1252; a lead byte 0x85 at the end in 932.
        {ok, {"x\xC2\x85"}, P::BadSequence, P::Control},
        // Devices, in any component, with any extension and trailing blanks.
        {P::Device, {"COM1", "dir\\lpt0.log", "NUL .txt", "CONOUT$", "conin$.x\\f", "aux\\f.txt"}},
        {P::Device, {"nul.tar.gz"}},
        {ok, {"COM10", "console.txt", "xnul"}},
        // Superscript one: the byte B9 in 1252 (a katakana in 932, no character in
        // UTF-8), C2 B9 in UTF-8 (two letters in 1252 and in 932).
        {P::Device, {"com\xB9.txt"}, ok, P::BadSequence},
        {ok, {"LPT\xC2\xB9"}, ok, P::Device},
        // 0x83 0x5C is one character in 932: its trail byte is no separator.
        {P::EmptyComponent, {"\x83\x5C", "\x95\x5C\\\x83\x5C.txt"}, ok, P::BadSequence},
        {ok, {"end\x83"}, P::BadSequence, P::BadSequence},
        {ok, {"\xE2\x82\xAC \xED\xA0\x80"}, ok, P::BadSequence},  // a surrogate in UTF-8
        // U+10FFFF, the last character UTF-8 holds, and one beyond it.
        {ok, {"\xF4\x8F\xBF\xBF"}},
        {ok, {"\xF4\x90\x80\x80"}, ok, P::BadSequence},
    };
    for (const Row& row : rows) {
        const std::pair<unsigned, P> expected[] = {
            {1252, row.cp1252}, {932, row.cp932}, {65001, row.utf8}};
        for (const std::string& name : row.names)
            for (const auto& [codePage, problem] : expected)
                EXPECT_EQ(CheckEntryName(name.data(), name.size(), codePage), problem)
                    << "'" << name << "' in " << codePage;
    }
    // In 949 superscript one to three are A9 F6 to A9 F8; a character sharing either byte is none.
    for (const auto& [name, problem] : std::vector<std::pair<std::string, P>>{
             {"COM\xA9\xF7.txt", P::Device}, {"lpt\xA9\xA1", ok}, {"COM\xB0\xF6", ok}})
        EXPECT_EQ(CheckEntryName(name.data(), name.size(), 949), problem) << name;

    // Only code pages whose ASCII bytes mean ASCII: not EBCDIC 500 or 37, UTF-16 or 7-bit UTF-7.
    for (const unsigned codePage : {874u, 1250u, 1258u, 28591u, 28605u, 936u, 949u, 950u})
        EXPECT_EQ(CheckEntryName("a\\b", 3, codePage), ok) << codePage;
    for (const unsigned codePage : {500u, 37u, 1200u, 65000u, 0u})
        EXPECT_EQ(CheckEntryName("a\\b", 3, codePage), P::CodePage) << codePage;
}

}  // namespace
}  // namespace vorx
