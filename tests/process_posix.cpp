#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
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
                         const std::filesystem::path& directory, const Streams& streams)
{
    int out[2];
    int err[2];
    int in[2] = {-1, -1};
    if (::pipe(out) != 0 || ::pipe(err) != 0 || (streams.input && ::pipe(in) != 0))
        throw std::system_error(errno, std::generic_category(), "pipe");
    // A child that stops reading its input must not end the test.
    if (streams.input)
        std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        // The child meets a reader that goes away as a shell would start it.
        ::signal(SIGPIPE, SIG_DFL);
        if (in[0] >= 0)
            ::dup2(in[0], STDIN_FILENO);
        ::dup2(streams.output >= 0 ? streams.output : out[1], STDOUT_FILENO);
        if (streams.output == closedStream)
            ::close(STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (const int file : {out[0], out[1], err[0], err[1], in[0], in[1]})
            ::close(file);
        if (::chdir(directory.c_str()) == 0)
            ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (in[0] >= 0) {
        ::close(in[0]);
        ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    }

    ProcessResult result;
    std::size_t fed = 0;
    pollfd files[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    while (files[0].fd >= 0 || files[1].fd >= 0 || files[2].fd >= 0) {
        if (::poll(files, 3, -1) < 0 && errno != EINTR)
            break;
        bool open = true;
        if (files[0].revents & (POLLIN | POLLHUP | POLLERR))
            readAvailable(files[0].fd, result.output, open);
        if (files[0].fd >= 0 && (!open || result.output.size() >= streams.keepOutput)) {
            result.output.resize(std::min(result.output.size(), streams.keepOutput));
            ::close(files[0].fd);
            files[0].fd = -1;
        }
        open = true;
        if (files[1].revents & (POLLIN | POLLHUP | POLLERR))
            readAvailable(files[1].fd, result.errors, open);
        if (files[1].fd >= 0 && !open) {
            ::close(files[1].fd);
            files[1].fd = -1;
        }
        if (files[2].revents & (POLLOUT | POLLERR | POLLHUP)) {
            const ssize_t count = ::write(files[2].fd, streams.input->data() + fed, streams.input->size() - fed);
            fed += count > 0 ? static_cast<std::size_t>(count) : 0;
        }
        if (files[2].fd >= 0 && (fed == streams.input->size() || (files[2].revents & (POLLERR | POLLHUP)))) {
            ::close(files[2].fd);
            files[2].fd = -1;
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProcessResult runKalmora(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
                         const Streams& streams)
{
    // A checker such as Valgrind can be put in front of the program from outside.
    if (const char* wrapper = std::getenv("KALMORA_WRAPPER"); wrapper != nullptr && *wrapper != '\0') {
        std::vector<std::string> wrapped{KALMORA_EXECUTABLE};
        wrapped.insert(wrapped.end(), arguments.begin(), arguments.end());
        return runProcess(wrapper, wrapped, directory, streams);
    }
    return runProcess(KALMORA_EXECUTABLE, arguments, directory, streams);
}

ScratchFolder::ScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kalmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_path = pattern;
}
