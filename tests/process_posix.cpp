#include "process.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void readAvailable(int file, std::string& into, bool& open)
{
    char chunk[4096];
    const ssize_t count = ::read(file, chunk, sizeof chunk);
    if (count > 0)
        into.append(chunk, static_cast<std::size_t>(count));
    else if (count == 0 || errno != EINTR)
        open = false;
}

}  // namespace

ProcessResult runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& directory, const std::filesystem::path& input)
{
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        if (!input.empty() && ::dup2(::open(input.c_str(), O_RDONLY | O_CLOEXEC), STDIN_FILENO) < 0)
            ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::close(err[0]);
        ::close(err[1]);
        if (::chdir(directory.c_str()) == 0)
            ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);

    ProcessResult result;
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        pollfd files[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (::poll(files, 2, -1) < 0 && errno != EINTR)
            break;
        if (outOpen && (files[0].revents & (POLLIN | POLLHUP)))
            readAvailable(out[0], result.output, outOpen);
        if (errOpen && (files[1].revents & (POLLIN | POLLHUP)))
            readAvailable(err[0], result.errors, errOpen);
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

ProcessResult runKalmora(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
                         const std::filesystem::path& input)
{
    // A checker such as Valgrind can be put in front of the program from outside.
    if (const char* wrapper = std::getenv("KALMORA_WRAPPER"); wrapper != nullptr && *wrapper != '\0') {
        std::vector<std::string> wrapped{KALMORA_EXECUTABLE};
        wrapped.insert(wrapped.end(), arguments.begin(), arguments.end());
        return runProcess(wrapper, wrapped, directory, input);
    }
    return runProcess(KALMORA_EXECUTABLE, arguments, directory, input);
}

ScratchFolder::ScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kalmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_path = pattern;
}
