// Folders on POSIX systems: made for a run's outputs, and listed for its inputs.

#include "platform.h"

#include "utf8.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool isFolderSeparator(wchar_t character)
{
    return character == L'/';
}

bool isFolder(const wchar_t* name)
{
    struct stat status {};
    return ::stat(bytesFromWide(name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool makeFolder(const wchar_t* name, unsigned& error)
{
    const std::string path = bytesFromWide(name);
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    error = static_cast<unsigned>(errno);
    if (error != EEXIST)
        return false;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    error = ENOTDIR;
    return false;
}

bool listFiles(const wchar_t* name, std::vector<std::wstring>& names, unsigned& error)
{
    const int folder = ::open(bytesFromWide(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = folder >= 0 ? ::fdopendir(folder) : nullptr;
    if (listing == nullptr) {
        error = static_cast<unsigned>(errno);
        if (folder >= 0)
            ::close(folder);
        return false;
    }
    std::vector<std::string> files;
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        struct stat status {};
        if (::fstatat(folder, entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode))
            files.emplace_back(entry->d_name);
        errno = 0;
    }
    error = static_cast<unsigned>(errno);
    ::closedir(listing);
    if (error != 0)
        return false;
    std::sort(files.begin(), files.end());
    for (const std::string& file : files)
        names.push_back(wideFromBytes(file));
    return true;
}

}  // namespace platform
