#include "platform.h"
#include "process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr unsigned sharingViolation = 13;

// Closes what it holds when it goes, or when asked; an output is committed.
struct OpenFile {
    int file;
    bool output = false;
    ~OpenFile() { close(); }
    void close()
    {
        unsigned ignored = 0;
        if (file >= 0 && output)
            platform::commitOutput(file, ignored);
        else if (file >= 0)
            platform::closeFile(file, ignored);
        file = -1;
    }
};

}  // namespace

// While one open holds a file, a second open that would break its sharing is
// refused with the sharing violation, and the file keeps its bytes.
TEST(Platform, FilesInUseAreRefusedWithTheSharingViolation)
{
    ScratchFolder folder;
    writeBytes(folder / "held", "contents");
    writeBytes(folder / "other", "other");
    const std::wstring held = (folder / "held").wstring();
    const std::wstring other = (folder / "other").wstring();
    unsigned error = 0;
    const OpenFile otherInput{platform::openInput(other.c_str(), error)};
    ASSERT_GE(otherInput.file, 0);

    const struct {
        const char* what;
        bool holdAsOutput;
        bool openAsOutput;
    } cases[] = {
        {"writing a file being read", false, true},
        {"reading a file being written", true, false},
        {"writing a file being written", true, true},
    };
    for (const auto& sample : cases) {
        OpenFile first{sample.holdAsOutput ? platform::openOutput(held.c_str(), otherInput.file, error)
                                                 : platform::openInput(held.c_str(), error),
                       sample.holdAsOutput};
        ASSERT_GE(first.file, 0) << sample.what;
        if (sample.holdAsOutput) {
            unsigned ignored = 0;
            ASSERT_TRUE(platform::writeFile(first.file, "written", 7, ignored));
        }
        error = 0;
        const OpenFile second{sample.openAsOutput ? platform::openOutput(held.c_str(), otherInput.file, error)
                                                  : platform::openInput(held.c_str(), error),
                              sample.openAsOutput};
        EXPECT_EQ(second.file, -1) << sample.what;
        EXPECT_EQ(error, sharingViolation) << sample.what;
        first.close();
        EXPECT_EQ(readBytes(folder / "held"), sample.holdAsOutput ? "written" : "contents") << sample.what;
    }

    // Readers share.
    const OpenFile reader{platform::openInput(held.c_str(), error)};
    const OpenFile secondReader{platform::openInput(held.c_str(), error)};
    EXPECT_GE(reader.file, 0);
    EXPECT_GE(secondReader.file, 0);
}
