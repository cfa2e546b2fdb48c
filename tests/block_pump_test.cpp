#include "block_pump.h"
#include "conversion.h"
#include "main.h"
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t blockSize = 64 * 1024;

// Opens this process's memory at `address`: reads succeed while they stay in
// mapped pages and fail with EIO where the mapping ends.
int openMemoryAt(const void* address)
{
    const int file = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (file >= 0 && ::lseek(file, reinterpret_cast<off_t>(address), SEEK_SET) < 0) {
        ::close(file);
        return -1;
    }
    return file;
}

}  // namespace

TEST(BlockPump, ReportsTheFirstFailureInInputOrder)
{
    // Three blocks: code 65 ("a"), then one code throughout; no mapped page after them.
    const std::size_t length = 3 * blockSize;
    const long page = ::sysconf(_SC_PAGESIZE);
    void* mapped = ::mmap(nullptr, length + static_cast<std::size_t>(page), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* codes = static_cast<char*>(mapped);
    ASSERT_EQ(::munmap(codes + length, static_cast<std::size_t>(page)), 0);
    ScratchFolder folder;
    const struct {
        const char* output;  // a file in the folder, or a device
        PumpResult::Failure failure;
        unsigned error;
        std::size_t written;  // bytes the output holds afterwards
        wchar_t direction = 't';
        char code = '\x41';
    } cases[] = {
        // The blocks before a failed read are converted and written first,
        // on one thread (SEQ to text) and on two (text to SEQ: "A" is "a").
        {"out", PumpResult::Failure::reading, EIO, length},
        {"out", PumpResult::Failure::reading, EIO, length, 's'},
        // A full disk is reported as a failed write, ahead of the read that fails later.
        {"/dev/full", PumpResult::Failure::writing, ENOSPC, 0},
        // The screen is written once the input has ended, never after a failed read.
        {"out", PumpResult::Failure::reading, EIO, 0, 'a', '\x13'},  // "a", then {HOME}s
    };
    for (const auto& sample : cases) {
        std::fill(codes, codes + length, sample.code);
        codes[0] = '\x41';
        const int input = openMemoryAt(codes);
        if (input < 0)
            GTEST_SKIP() << "this system cannot read /proc/self/mem";
        const std::string outputName = sample.output[0] == '/' ? sample.output : (folder / sample.output).string();
        const int output = ::open(outputName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(output, 0);
        const std::unique_ptr<BlockConverter> converter = makeConverter(sample.direction);
        BlockPump pump(*converter, blockSize);
        const PumpResult result = pump.run(input, output);
        ::close(input);
        ::close(output);
        EXPECT_EQ(result.failure, sample.failure) << sample.output;
        EXPECT_EQ(result.error, sample.error) << sample.output;
        if (sample.output[0] != '/') {
            EXPECT_TRUE(readBytes(outputName) == std::string(sample.written, 'a')) << sample.output;
        }
    }
    ::munmap(codes, length);
}
