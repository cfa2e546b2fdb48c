// Text to SEQ on arbitrary bytes. Properties: no crash or sanitizer report; at
// most one code per text byte; the result is the same however the text is cut
// into blocks or whichever window loop runs, and the same as the plain model
// of the rules; and text made from any bytes by SEQ to text converts back to
// exactly those bytes.

#include "fuzz_check.h"
#include "conversion.h"
#include "reference.h"
#include "text_loop.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string convertInBlocks(const std::string& text, std::size_t blockLength, TextLoop loop = chosenTextLoop())
{
    TextToSeq converter(loop);
    std::string seq;
    for (std::size_t start = 0; start < text.size(); start += blockLength) {
        const std::size_t length = std::min(blockLength, text.size() - start);
        // An exact-size heap block lets AddressSanitizer see any write past it.
        std::vector<std::uint8_t> block(length);
        const std::size_t written = converter.convert(text.data() + start, length, block.data());
        FUZZ_CHECK(written <= length);
        seq.append(reinterpret_cast<const char*>(block.data()), written);
    }
    return seq;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The whole text at once, one byte at a time, and in blocks whose length
    // the input's first byte picks, so tags and CR LF fall across block edges.
    const std::string whole = convertInBlocks(text, size == 0 ? 1 : size);
    FUZZ_CHECK(whole.size() <= size);
    FUZZ_CHECK(whole == referenceTextToSeq(text));
    FUZZ_CHECK(convertInBlocks(text, 1) == whole);
    if (size > 0)
        FUZZ_CHECK(convertInBlocks(text, 1 + data[0] % 23) == whole);
    // Every window loop the processor runs gives the same codes.
    for (const TextLoop loop : allTextLoops)
        if (textLoopRuns(loop))
            FUZZ_CHECK(convertInBlocks(text, size == 0 ? 1 : size, loop) == whole);

    // The same bytes taken as SEQ codes survive SEQ to text and back.
    std::vector<char> made(seqToTextCapacity(size));
    const std::size_t madeLength = seqToText(data, size, made.data());
    const std::string back = convertInBlocks(std::string(made.data(), madeLength), size == 0 ? 1 : 1 + size % 97);
    FUZZ_CHECK(back == text);
    return 0;
}
