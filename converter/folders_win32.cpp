// Folders on Windows: made for a run's outputs, and listed for its inputs.

#include "platform.h"

#include "utf8.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include <direct.h>
#include <windows.h>

namespace platform {

bool isFolderSeparator(wchar_t character)
{
    return character == L'/' || character == L'\\';
}

bool isFolder(const wchar_t* name)
{
    const DWORD attributes = GetFileAttributesW(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeFolder(const wchar_t* name, unsigned& error)
{
    if (_wmkdir(name) == 0)
        return true;
    error = static_cast<unsigned>(errno);
    if (error != EEXIST)
        return false;
    if (isFolder(name))
        return true;
    error = ENOTDIR;
    return false;
}

bool listFiles(const wchar_t* name, std::vector<std::wstring>& names, unsigned& error)
{
    std::wstring pattern(name);
    if (!pattern.empty() && !isFolderSeparator(pattern.back()))
        pattern += L'\\';
    WIN32_FIND_DATAW found {};
    const HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return false;
    }
    std::vector<std::pair<std::string, std::wstring>> files;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0)
            files.emplace_back(bytesFromWide(found.cFileName), found.cFileName);
    } while (FindNextFileW(search, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (!complete) {
        error = EIO;
        return false;
    }
    // Byte order of the names as UTF-8, as elsewhere.
    std::sort(files.begin(), files.end());
    for (auto& file : files)
        names.push_back(std::move(file.second));
    return true;
}

}  // namespace platform
