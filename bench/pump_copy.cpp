// The block pump with no conversion: `pump_copy INPUT OUTPUT` copies INPUT
// through it, in the program's block size, so that bench/run can time the
// pump's own cost side by side with a plain copy.

#include "block_pump.h"
#include "conversion.h"
#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

class CopyBlocks final : public BlockConverter {
public:
    std::size_t outputRoom(std::size_t blockSize) const override { return blockSize; }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        const std::size_t taken = std::min(size, room);
        std::memcpy(output, input, taken);
        return {taken, taken};
    }

    std::size_t finish(char*, std::size_t) override { return 0; }

    // A copy is as quick a conversion as there is: one thread, as SEQ to text.
    bool overlapsCopying() const override { return false; }
};

std::wstring widen(const char* name)
{
    return std::wstring(name, name + std::strlen(name));
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("Usage: pump_copy INPUT OUTPUT\n", stderr);
        return 1;
    }
    unsigned error = 0;
    const int input = platform::openInput(widen(argv[1]).c_str(), error);
    if (input < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const int output = platform::openOutput(widen(argv[2]).c_str(), input, error);
    if (output < 0) {
        std::perror(argv[2]);
        return 1;
    }
    CopyBlocks copy;
    BlockPump pump(copy, 64 * 1024);
    const PumpResult result = pump.run(input, output);
    const bool committed = platform::commitOutput(output, error);
    platform::closeFile(input, error);
    if (result.failure != PumpResult::Failure::none || !committed) {
        std::fputs("pump_copy: the copy failed\n", stderr);
        return 1;
    }
    return 0;
}
