// Text to SEQ on arbitrary bytes. Properties: no crash or sanitizer report; at
// most one code per text byte; the result is the same however the text is cut
// into blocks or whichever window loop runs, and the same as the plain model
// of the rules; and text made from any bytes by SEQ to text converts back to
// exactly those bytes. The same for the other dialect (--tags=petcat): the
// same codes and the same fault however the text is cut and whether whole
// windows or the byte rules read it, never more codes than the room given,
// and any bytes written in the dialect read back.

#include "fuzz_check.h"
#include "conversion.h"
#include "petcat_dialect.h"
#include "reference.h"
#include "text_loop.h"

#include <cstdint>
#include <cstring>
#include <memory>
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

// Reads `text` in the other dialect in blocks of `blockLength`, each call
// with the least room the reader takes, or with room for whole windows when
// `windows` is set. Returns the codes, then the fault.
std::string readPetcatInBlocks(const std::string& text, std::size_t blockLength, bool windows = false,
                               TextLoop loop = chosenTextLoop())
{
    PetcatReader reader(loop);
    std::string seq;
    for (std::size_t start = 0; start < text.size() && reader.fault() == nullptr;) {
        const std::size_t length = std::min(blockLength, text.size() - start);
        std::vector<std::uint8_t> room(maxCodesPerTag + 1 + (windows ? length + windowReach : length % 3));
        const BlockStep step = reader.convert(text.data() + start, length, room.data(), room.size());
        FUZZ_CHECK(step.consumed > 0 || reader.fault() != nullptr);
        FUZZ_CHECK(step.consumed <= length && step.produced <= room.size());
        seq.append(reinterpret_cast<const char*>(room.data()), step.produced);
        start += step.consumed;
    }
    if (!reader.finish())
        seq += "\nfault " + reader.fault()->tag + " line " + std::to_string(reader.fault()->line);
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

    // Whole windows, and the byte rules alone, give the same codes and fault.
    const std::string dialect = readPetcatInBlocks(text, size == 0 ? 1 : size, true);
    FUZZ_CHECK(readPetcatInBlocks(text, 1) == dialect);
    for (const TextLoop loop : allTextLoops)
        if (textLoopRuns(loop))
            FUZZ_CHECK(readPetcatInBlocks(text, size == 0 ? 1 : size, true, loop) == dialect);
    if (size > 0)
        FUZZ_CHECK(readPetcatInBlocks(text, 1 + data[0] % 23) == dialect);
    const std::unique_ptr<BlockConverter> writer = makePetcatTextBlocks();
    std::vector<char> written(writer->outputRoom(size));
    const std::size_t writtenLength =
        writer->convert(text.data(), size, written.data(), written.size()).produced;
    FUZZ_CHECK(readPetcatInBlocks(std::string(written.data(), writtenLength), 1 + size % 97) == text);
    FUZZ_CHECK(readPetcatInBlocks(std::string(written.data(), writtenLength), writtenLength + 1, true) == text);
    return 0;
}
