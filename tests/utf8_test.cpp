#include "utf8.h"

#include <gtest/gtest.h>

#include <random>

TEST(Utf8, ValidTextDecodesToItsCharacters)
{
    EXPECT_EQ(wideFromBytes("plain"), L"plain");
    EXPECT_EQ(wideFromBytes("gr\xc3\xbc\xc3\x9f" "e"), L"gr\u00fc\u00dfe");
    EXPECT_EQ(wideFromBytes("\xe2\x82\xac"), L"\u20ac");
    EXPECT_EQ(wideFromBytes("\xf0\x9f\x98\x80"), L"\U0001F600");
    EXPECT_EQ(bytesFromWide(L"gr\u00fc\u00dfe \u20ac\U0001F600"), "gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac\xf0\x9f\x98\x80");
    // The first and last character of each length, and those around the surrogates.
    const std::string edges = "\x01\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf";
    EXPECT_EQ(wideFromBytes(edges), L"\x01\x7f\x80\u07ff\u0800\ud7ff\ue000\uffff\U00010000\U0010FFFF");
    EXPECT_EQ(bytesFromWide(wideFromBytes(edges)), edges);
}

TEST(Utf8, InvalidBytesEscapeOneByOne)
{
    const struct {
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"\xff", L"\xdcff"},
        {"a\x80z", L"a\xdc80z"},
        {"\xc0\xaf", L"\xdcc0\xdcaf"},          // overlong "/"
        {"\xe0\x9f\xbf", L"\xdce0\xdc9f\xdcbf"},  // overlong U+07FF in three bytes
        {"\xf0\x8f\xbf\xbf", L"\xdcf0\xdc8f\xdcbf\xdcbf"},  // overlong U+FFFF in four
        {"\xed\xa0\x80", L"\xdced\xdca0\xdc80"},  // the first surrogate
        {"\xed\xbf\xbf", L"\xdced\xdcbf\xdcbf"},  // the last
        {"\xf4\x90\x80\x80", L"\xdcf4\xdc90\xdc80\xdc80"},  // beyond U+10FFFF
        {"\xe2\x82", L"\xdce2\xdc82"},           // cut short
        {"\xe2\x82z", L"\xdce2\xdc82z"},
    };
    for (const auto& sample : cases) {
        EXPECT_EQ(wideFromBytes(sample.bytes), sample.text);
        EXPECT_EQ(bytesFromWide(sample.text), sample.bytes);
    }
}

TEST(Utf8, AnyBytesSurviveTheTrip)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(static_cast<std::size_t>(round % 40), '\0');
        for (auto& ch : bytes)
            ch = static_cast<char>(byte(random));
        EXPECT_EQ(bytesFromWide(wideFromBytes(bytes)), bytes);
    }
}

TEST(Utf8, CharactersNoDecodingGivesBecomeReplacements)
{
    EXPECT_EQ(bytesFromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
    EXPECT_EQ(bytesFromWide(std::wstring(1, static_cast<wchar_t>(0xDC20))), "\xef\xbf\xbd");
}
