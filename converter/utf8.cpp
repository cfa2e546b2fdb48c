#include "utf8.h"

#include <cstdint>
#include <type_traits>

namespace {

constexpr char32_t escapeBase = 0xDC00;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

void appendCodePoint(std::wstring& text, char32_t point)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (point >= 0x10000) {
            point -= 0x10000;
            text += static_cast<wchar_t>(0xD800 + (point >> 10));
            text += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
            return;
        }
    }
    text += static_cast<wchar_t>(point);
}

// Returns the length of the valid UTF-8 sequence at the start of `bytes` and
// its code point, or 0 when the sequence is invalid, overlong, a surrogate or
// beyond U+10FFFF.
std::size_t decodeOne(std::string_view bytes, char32_t& point)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, point = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isContinuation(byte))
            return 0;
        point = (point << 6) | (byte & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(std::string& bytes, char32_t point)
{
    if (point < 0x80) {
        bytes += static_cast<char>(point);
    } else if (point < 0x800) {
        bytes += static_cast<char>(0xC0 | (point >> 6));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        bytes += static_cast<char>(0xE0 | (point >> 12));
        bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (point >> 18));
        bytes += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    }
}

}  // namespace

std::wstring wideFromBytes(std::string_view bytes)
{
    std::wstring text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t point = 0;
        std::size_t length = decodeOne(bytes, point);
        if (length == 0) {
            point = escapeBase + static_cast<unsigned char>(bytes[0]);
            length = 1;
        }
        appendCodePoint(text, point);
        bytes.remove_prefix(length);
    }
    return text;
}

std::string bytesFromWide(std::wstring_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto point = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if (sizeof(wchar_t) == 2 && point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size()) {
            const auto low = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i + 1]));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(bytes, 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (point >= escapeBase + 0x80 && point <= escapeBase + 0xFF)
            bytes += static_cast<char>(point - escapeBase);
        else if ((point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            appendUtf8(bytes, 0xFFFD);
        else
            appendUtf8(bytes, point);
    }
    return bytes;
}
