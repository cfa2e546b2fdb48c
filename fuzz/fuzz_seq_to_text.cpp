// SEQ to text on arbitrary bytes. Properties: no crash or sanitizer report;
// the text is made only of forms of the table, one per code, in order; and it
// converts back to the same codes, with its line feeds as they are and with
// each line feed turned into CR LF.

#include "code_table.h"
#include "fuzz_check.h"
#include "conversion.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string textToSeq(const std::string& text)
{
    std::vector<std::uint8_t> seq(text.size() + 1);
    TextToSeq converter;
    const std::size_t written = converter.convert(text.data(), text.size(), seq.data());
    return std::string(reinterpret_cast<const char*>(seq.data()), written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Exactly the room the loop asks for, so AddressSanitizer sees any overrun.
    std::vector<char> buffer(seqToTextCapacity(size));
    const std::size_t length = seqToText(data, size, buffer.data());
    FUZZ_CHECK(length <= size * maxTextPerCode);
    const std::string text(buffer.data(), length);

    // Read the text back form by form: each code's form must come next.
    std::size_t at = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char* form = codeToText(data[i]);
        const std::size_t formSize = std::strlen(form);
        FUZZ_CHECK(formSize >= 1 && formSize <= maxTextPerCode);
        FUZZ_CHECK(text.compare(at, formSize, form) == 0);
        // A form of more than one character is a whole tag with nothing inside
        // that could end or restart it early.
        if (formSize > 1) {
            FUZZ_CHECK(form[0] == '{' && form[formSize - 1] == '}');
            FUZZ_CHECK(std::memchr(form + 1, '{', formSize - 2) == nullptr);
            FUZZ_CHECK(std::memchr(form + 1, '}', formSize - 2) == nullptr);
        }
        at += formSize;
    }
    FUZZ_CHECK(at == length);

    const std::string codes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(textToSeq(text) == codes);
    std::string crlf;
    for (const char ch : text) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    FUZZ_CHECK(textToSeq(crlf) == codes);
    return 0;
}
