#include "main.h"
#include "platform.h"
#include "utf8.h"

#include <new>
#include <string>
#include <vector>

// The command line comes as bytes here; the converter takes wide strings.
int main(int argc, char* argv[])
{
    platform::startProcess();
    try {
        std::vector<std::wstring> arguments(static_cast<std::size_t>(argc));
        std::vector<wchar_t*> pointers;
        for (int i = 0; i < argc; ++i) {
            arguments[static_cast<std::size_t>(i)] = wideFromBytes(argv[i]);
            pointers.push_back(arguments[static_cast<std::size_t>(i)].data());
        }
        pointers.push_back(nullptr);
        return kalmoraMain(argc, pointers.data());
    } catch (const std::bad_alloc&) {
        return reportOutOfMemory();
    }
}
