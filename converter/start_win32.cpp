#include "main.h"
#include "platform.h"

// Command-line globbing off, whatever the toolchain's default: "*.seq" is a
// file name to the converter, not a list of files.
extern "C" {
int _dowildcard = 0;
}

// The runtime hands over the command line as wide strings already.
int wmain(int argc, wchar_t* argv[])
{
    platform::startProcess();
    return kalmoraMain(argc, argv);
}
