// A conversion of a file larger than 4 GiB, so any 32-bit size or offset
// would show. The input is sparse, so it costs no disk; the output is not.
// Long-running (about a minute), so it carries the label "long" and runs
// with `ctest --preset long`, not in the default test run.

#include "process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string tailOf(const fs::path& path, std::size_t length)
{
    std::ifstream file(path, std::ios::binary);
    file.seekg(-static_cast<std::streamoff>(length), std::ios::end);
    std::string bytes(length, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(length));
    return bytes;
}

}  // namespace

TEST(LargeFile, SparseTextOver4GiBConvertsEveryByte)
{
    ScratchFolder folder;
    const std::uintmax_t zeros = (std::uintmax_t{4} << 30) + 3;
    const std::string tail = "{RED}hi\r\n";
    {
        const int file = ::open((folder / "big.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(::ftruncate(file, static_cast<off_t>(zeros)), 0);
        ASSERT_EQ(::pwrite(file, tail.data(), tail.size(), static_cast<off_t>(zeros)),
                  static_cast<ssize_t>(tail.size()));
        ::close(file);
    }

    const ProcessResult result = runKalmora({"-i=big.txt", "-o=big.seq", "-d=seq"}, folder.path());
    EXPECT_EQ(result.output, "Processing big.txt to big.seq as SEQ\n\n");
    EXPECT_EQ(result.status, 0);
    // Each NUL byte of the text is one code 0, then the tag, two letters and one line end.
    EXPECT_EQ(fs::file_size(folder / "big.seq"), zeros + 4);
    EXPECT_EQ(tailOf(folder / "big.seq", 6), std::string("\0\0\x1c\x48\x49\x0d", 6));
    EXPECT_EQ(fs::file_size(folder / "big.txt"), zeros + tail.size());
    EXPECT_EQ(tailOf(folder / "big.txt", tail.size()), tail);
}
