#pragma once

// The text form and text-to-SEQ as the README documents them, written without
// the program's table or loops, so that tests and fuzz targets compare the
// program with its documentation rather than with itself.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

/// The text form of `code` by the README's rules and its table of named tags.
inline std::string documentedForm(int code)
{
    static const std::map<int, std::string_view> named = {
        {3, "STOP"},       {5, "WHITE"},      {8, "DCS"},        {9, "ECS"},       {14, "LCS"},      {17, "DOWN"},
        {18, "RVON"},      {19, "HOME"},      {20, "DELETE"},    {28, "RED"},      {29, "RIGHT"},    {30, "GREEN"},
        {31, "BLUE"},      {34, "QUOTE"},     {92, "POUND"},     {94, "UPARROW"},  {95, "LEFTARROW"}, {123, "CROSS"},
        {125, "VLINE"},    {129, "ORANGE"},   {131, "RUN"},      {133, "F1"},      {134, "F3"},      {135, "F5"},
        {136, "F7"},       {137, "F2"},       {138, "F4"},       {139, "F6"},      {140, "F8"},      {141, "SRETURN"},
        {142, "UCS"},      {144, "BLACK"},    {145, "UP"},       {146, "RVOFF"},   {147, "CLEAR"},   {148, "INSERT"},
        {149, "BROWN"},    {150, "PINK"},     {151, "DGRAY"},    {152, "MGRAY"},   {153, "LGREEN"},  {154, "LBLUE"},
        {155, "LGRAY"},    {156, "PURPLE"},   {157, "LEFT"},     {158, "YELLOW"},  {159, "CYAN"},    {171, "LTEE"},
        {173, "LLCORNER"}, {174, "URCORNER"}, {176, "ULCORNER"}, {177, "BTEE"},    {178, "UTEE"},    {179, "RTEE"},
        {186, "CHECK"},    {192, "HLINE"},
    };
    if (const auto tag = named.find(code); tag != named.end())
        return "{" + std::string(tag->second) + "}";
    if (code == 13)
        return "\n";
    if (code >= 65 && code <= 90)
        return std::string(1, static_cast<char>('a' + code - 65));
    if (code >= 97 && code <= 122)
        return std::string(1, static_cast<char>('A' + code - 97));
    if (code == 32 || code == 33 || (code >= 35 && code <= 64) || code == 91 || code == 93)
        return std::string(1, static_cast<char>(code));
    return "{" + std::to_string(code) + "}";
}

/// The code whose documented form is `text`, or 0 when it is no form.
inline std::uint8_t documentedCode(std::string_view text)
{
    static const std::map<std::string, std::uint8_t, std::less<>> codes = [] {
        std::map<std::string, std::uint8_t, std::less<>> forms;
        for (int code = 0; code < 256; ++code)
            forms.emplace(documentedForm(code), static_cast<std::uint8_t>(code));
        return forms;
    }();
    const auto found = codes.find(text);
    return found != codes.end() ? found->second : 0;
}

/// Text to SEQ by the README's reading rules: a tag runs from "{" to the next
/// "}", a "{" before that starts it again, a tag open at the end is dropped;
/// CR LF, CR and LF each give 13 outside a tag and belong to it inside; a NUL
/// adds nothing to a tag; whatever is no form gives 0.
inline std::string referenceTextToSeq(std::string_view text)
{
    std::string seq;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '{') {
            std::size_t end = text.find_first_of("{}", i + 1);
            if (end == std::string_view::npos)
                break;
            if (text[end] == '}') {
                std::string tag;
                for (const char ch : text.substr(i, end + 1 - i))
                    if (ch != '\0')
                        tag += ch;
                seq += static_cast<char>(documentedCode(tag));
                ++end;
            }
            i = end;
        } else if (text[i] == '\r' || text[i] == '\n') {
            seq += '\r';
            i += text.substr(i, 2) == "\r\n" ? 2 : 1;
        } else {
            seq += static_cast<char>(documentedCode(text.substr(i, 1)));
            ++i;
        }
    }
    return seq;
}
