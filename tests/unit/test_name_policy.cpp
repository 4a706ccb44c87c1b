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
    struct Row {
        std::string name;
        P cp1252, cp932, utf8;
    };
    const Row rows[] = {
        {"readme.txt", ok, ok, ok},
        {"docs\\sub dir\\.hidden\\a..b", ok, ok, ok},
        {"", P::Empty, P::Empty, P::Empty},
        {std::string(239, 'n'), ok, ok, ok},
        {std::string(240, 'n'), P::TooLong, P::TooLong, P::TooLong},
        // Components that Windows resolves or changes.
        {"x\\.. \\.. \\e", P::TrailingDot, P::TrailingDot, P::TrailingDot},
        {"...", P::TrailingDot, P::TrailingDot, P::TrailingDot},
        {"a\\..\\..\\evil.txt", P::TrailingDot, P::TrailingDot, P::TrailingDot},
        {"a\\.\\b", P::TrailingDot, P::TrailingDot, P::TrailingDot},
        {"name. ", P::TrailingDot, P::TrailingDot, P::TrailingDot},
        {"a\\\\b", P::EmptyComponent, P::EmptyComponent, P::EmptyComponent},
        {"\\root.txt", P::EmptyComponent, P::EmptyComponent, P::EmptyComponent},
        {"folder\\", P::EmptyComponent, P::EmptyComponent, P::EmptyComponent},
        {"a/b", P::Slash, P::Slash, P::Slash},
        {"C:\\drive.txt", P::Reserved, P::Reserved, P::Reserved},
        {"a\x1b[2Jb", P::Control, P::Control, P::Control},
        {std::string("nul\0byte", 8), P::Control, P::Control, P::Control},
        {"tab\there", P::Control, P::Control, P::Control},
        {"del\x7f", P::Control, P::Control, P::Control},
        // U+0085 in UTF-8; two letters in 1252; a lead byte 0x85 at the end in 932.
        {"x\xC2\x85", ok, P::BadSequence, P::Control},
        // Devices, in any component, with any extension and trailing blanks.
        {"COM1", P::Device, P::Device, P::Device},
        {"dir\\lpt0.log", P::Device, P::Device, P::Device},
        {"NUL .txt", P::Device, P::Device, P::Device},
        {"CONOUT$", P::Device, P::Device, P::Device},
        {"conin$.x\\f", P::Device, P::Device, P::Device},
        {"aux\\f.txt", P::Device, P::Device, P::Device},
        {"nul.tar.gz", P::Device, P::Device, P::Device},
        {"COM10", ok, ok, ok},
        {"console.txt", ok, ok, ok},
        {"xnul", ok, ok, ok},
        // Superscript one: the byte B9 in 1252 (a katakana in 932, no character in
        // UTF-8), C2 B9 in UTF-8 (two letters in 1252 and in 932).
        {"com\xB9.txt", P::Device, ok, P::BadSequence},
        {"LPT\xC2\xB9", ok, ok, P::Device},
        // 0x83 0x5C is one character in 932: its trail byte is no separator.
        {"\x83\x5C", P::EmptyComponent, ok, P::BadSequence},
        {"\x95\x5C\\\x83\x5C.txt", P::EmptyComponent, ok, P::BadSequence},
        {"end\x83", ok, P::BadSequence, P::BadSequence},
        {"\xE2\x82\xAC \xED\xA0\x80", ok, ok, P::BadSequence},  // a surrogate in UTF-8
        // U+10FFFF, the last character UTF-8 holds, and one beyond it.
        {"\xF4\x8F\xBF\xBF", ok, ok, ok},
        {"\xF4\x90\x80\x80", ok, ok, P::BadSequence},
    };
    for (const Row& row : rows) {
        const std::pair<unsigned, P> expected[] = {
            {1252, row.cp1252}, {932, row.cp932}, {65001, row.utf8}};
        for (const auto& [codePage, problem] : expected)
            EXPECT_EQ(CheckEntryName(row.name.data(), row.name.size(), codePage), problem)
                << "'" << row.name << "' in " << codePage;
    }
    // In 949 superscript one to three are A9 F6 to A9 F8; a character sharing either byte is none.
    for (const auto& [name, problem] : std::vector<std::pair<std::string, P>>{
             {"COM\xA9\xF7.txt", P::Device}, {"lpt\xA9\xA1", ok}, {"COM\xB0\xF6", ok}})
        EXPECT_EQ(CheckEntryName(name.data(), name.size(), 949), problem) << name;
    for (const char c : std::string("|*?<>:\""))
        EXPECT_EQ(CheckEntryName((std::string("a") + c + "b").c_str(), 3, 1252), P::Reserved) << c;

    // Only code pages whose ASCII bytes mean ASCII: not EBCDIC 500 or 37, UTF-16 or 7-bit UTF-7.
    for (const unsigned codePage : {874u, 1250u, 1258u, 28591u, 28605u, 936u, 949u, 950u})
        EXPECT_EQ(CheckEntryName("a\\b", 3, codePage), ok) << codePage;
    for (const unsigned codePage : {500u, 37u, 1200u, 65000u, 0u})
        EXPECT_EQ(CheckEntryName("a\\b", 3, codePage), P::CodePage) << codePage;
}

}  // namespace
}  // namespace vorx
