#include "main.h"
#include "utf8.h"

#include <csignal>
#include <string>
#include <vector>

// The command line comes as bytes here; the converter takes wide strings.
int main(int argc, char* argv[])
{
    // A reader that goes away must end the run as a failed write, with its
    // message and exit status 1, not as a silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::wstring> arguments(static_cast<std::size_t>(argc));
    std::vector<wchar_t*> pointers;
    for (int i = 0; i < argc; ++i) {
        arguments[static_cast<std::size_t>(i)] = wideFromBytes(argv[i]);
        pointers.push_back(arguments[static_cast<std::size_t>(i)].data());
    }
    pointers.push_back(nullptr);
    return kalmoraMain(argc, pointers.data());
}
