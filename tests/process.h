#pragma once

// Runs the real kalmora executable in a scratch folder and captures what it
// prints, for tests that check the program as users see it.

#include <filesystem>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;     // exit status; 128 plus the signal's number for a process a signal ended
    int signal = 0;      // the signal that ended the process, else 0
    std::string output;  // everything written to standard output
    std::string errors;  // everything written to standard error
};

/// Runs `program` with `arguments` (raw bytes each) in folder `directory`,
/// reading the file `input` as its standard input when one is named.
ProcessResult runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& directory, const std::filesystem::path& input = {});

/// Runs kalmora itself with `arguments` in `directory`; when the environment
/// names an executable in KALMORA_WRAPPER, runs that with kalmora's path first.
ProcessResult runKalmora(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
                         const std::filesystem::path& input = {});

/// A fresh empty folder, removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    /// The path of `name` (UTF-8, or any bytes where names are bytes) in this folder.
    std::filesystem::path operator/(const std::string& name) const
    {
        return m_path / std::u8string(name.begin(), name.end());
    }

private:
    std::filesystem::path m_path;
};

/// Returns the bytes of the file at `path`.
std::string readBytes(const std::filesystem::path& path);

/// Replaces the file at `path` with `bytes`.
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
