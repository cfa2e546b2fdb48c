#include "output_names.h"

#include <algorithm>

namespace {

std::wstring numericTag(wchar_t character)
{
    // A line end stands for code 13 in the text form.
    return L"{" + std::to_wstring(character == L'\n' ? 13 : static_cast<unsigned>(character)) + L"}";
}

wchar_t lowerCase(wchar_t character)
{
    return character >= L'A' && character <= L'Z' ? static_cast<wchar_t>(character - L'A' + L'a') : character;
}

// `name` as compared: file systems that ignore case at least ignore it in ASCII.
std::wstring folded(std::wstring name)
{
    std::transform(name.begin(), name.end(), name.begin(), lowerCase);
    return name;
}

// Whether `name` up to its first "." is a device name on Windows (which holds
// "nul.txt" and "nul.tar.gz" for the device too).
bool isDeviceName(std::wstring_view name)
{
    const std::wstring base = folded(std::wstring(name.substr(0, name.find(L'.'))));
    if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul")
        return true;
    return base.size() == 4 && (base.starts_with(L"com") || base.starts_with(L"lpt")) && base[3] >= L'1' &&
           base[3] <= L'9';
}

}  // namespace

std::wstring entryOutputStem(std::wstring_view text)
{
    std::wstring stem;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t character = text[i];
        const bool atEnd = i + 1 == text.size();
        if (std::wstring_view(L"/:*?<>\n").find(character) != std::wstring_view::npos ||
            (character == L'.' && (i == 0 || atEnd)) || (character == L' ' && atEnd))
            stem += numericTag(character);
        else
            stem += character;
    }
    if (isDeviceName(stem)) {
        const std::size_t last = std::min(stem.find(L'.'), stem.size()) - 1;
        stem.replace(last, 1, numericTag(stem[last]));
    }
    return stem;
}

std::wstring fileOutputStem(std::wstring_view name)
{
    const std::size_t dot = name.rfind(L'.');
    // A name's leading "." (".profile") is no extension.
    return std::wstring(name.substr(0, dot == 0 || dot == std::wstring_view::npos ? name.size() : dot));
}

std::wstring OutputNames::take(std::wstring_view stem, std::wstring_view extension)
{
    const std::wstring first = std::wstring(stem) + std::wstring(extension);
    const auto [entry, fresh] = m_taken.try_emplace(folded(first), 2);
    if (fresh)
        return first;
    // Every number below the one kept went to an earlier output of this name.
    for (unsigned number = entry->second;; ++number) {
        std::wstring name = std::wstring(stem) + L"~" + std::to_wstring(number) + std::wstring(extension);
        if (m_taken.try_emplace(folded(name), 2).second) {
            m_taken[folded(first)] = number + 1;
            return name;
        }
    }
}
