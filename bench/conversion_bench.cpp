// In-memory speed of the two lookups, the two conversion loops, the other
// dialect's reader and the screen.

#include "screen_writer.h"
#include "code_table.h"
#include "inputs.h"
#include "conversion.h"
#include "text_loop.h"
#include "petcat_dialect.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t loopInputSize = 1 << 20;

// The text that the SEQ-to-text loop makes of random bytes: mostly tags.
std::string textOfRandomBytes()
{
    const std::string seq = bench::randomBytes(loopInputSize);
    std::string text(seqToTextCapacity(seq.size()), '\0');
    text.resize(seqToText(reinterpret_cast<const std::uint8_t*>(seq.data()), seq.size(), text.data()));
    return text;
}

// The text of the SEQ art bench/run uses: the example screen and generated
// BBS-style screens, about two tags in three codes.
std::string realArtText()
{
    std::ifstream example(KALMORA_SOURCE_DIR "/examples/greeting.seq", std::ios::binary);
    const std::string examples{std::istreambuf_iterator<char>(example), std::istreambuf_iterator<char>()};
    const std::string seq = bench::realArt(loopInputSize / 4, examples);
    std::string text(seqToTextCapacity(seq.size()), '\0');
    text.resize(seqToText(reinterpret_cast<const std::uint8_t*>(seq.data()), seq.size(), text.data()));
    return text;
}

void BM_CodeToText(benchmark::State& state)
{
    const std::string seq = bench::randomBytes(4096);
    std::size_t total = 0;
    for (auto _ : state) {
        for (const char code : seq)
            total += std::strlen(codeToText(static_cast<std::uint8_t>(code)));
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * seq.size()));
}
BENCHMARK(BM_CodeToText);

// Looks up every form of the table and as many strings that are no form.
void BM_TextToCode(benchmark::State& state)
{
    std::vector<std::string> tokens;
    for (int code = 0; code < 256; ++code) {
        const std::string form = codeToText(static_cast<std::uint8_t>(code));
        tokens.push_back(form);
        tokens.push_back(form.size() == 1 ? std::string(1, static_cast<char>(code ^ 0x80)) : form + "X");
    }
    for (auto _ : state) {
        unsigned total = 0;
        for (const std::string& token : tokens)
            total += textToCode(token.data(), token.size());
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * tokens.size()));
}
BENCHMARK(BM_TextToCode);

// The loops run over 64 KiB blocks into one reused output buffer, as the
// program runs them, so that the output stays in the cache as it does there.
constexpr std::size_t blockSize = 64 * 1024;

void BM_SeqToText(benchmark::State& state)
{
    const std::string seq = bench::randomBytes(loopInputSize);
    std::string text(seqToTextCapacity(blockSize), '\0');
    for (auto _ : state) {
        for (std::size_t at = 0; at < seq.size(); at += blockSize) {
            const std::size_t size = std::min(blockSize, seq.size() - at);
            benchmark::DoNotOptimize(
                seqToText(reinterpret_cast<const std::uint8_t*>(seq.data() + at), size, text.data()));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * seq.size()));
}
BENCHMARK(BM_SeqToText);

// The screen over random bytes, in blocks as the pump feeds it; side by side
// with BM_SeqToText on the same input.
void BM_AnsiScreen(benchmark::State& state)
{
    const std::string seq = bench::randomBytes(loopInputSize);
    const std::unique_ptr<BlockConverter> screen = makeAnsiScreen();
    std::string out(screen->outputRoom(blockSize), '\0');
    for (auto _ : state) {
        for (std::size_t at = 0; at < seq.size();) {
            const std::size_t size = std::min(blockSize, seq.size() - at);
            const BlockStep step = screen->convert(seq.data() + at, size, out.data(), out.size());
            benchmark::DoNotOptimize(step.produced);
            at += step.consumed;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * seq.size()));
}
BENCHMARK(BM_AnsiScreen);

// Text to SEQ with each window loop, in Kalmora's form or, with `petcat`, in
// the other dialect, whose AVX-512 windows go with that loop and its 16-byte
// windows with the others; a loop the processor lacks is skipped.
void textToSeqOver(benchmark::State& state, const std::string& text, TextLoop loop, bool petcat = false)
{
    if (!textLoopRuns(loop)) {
        state.SkipWithError("this processor lacks the loop's instructions");
        return;
    }
    std::vector<std::uint8_t> seq(blockSize + maxCodesPerTag);
    for (auto _ : state) {
        TextToSeq textToSeq(loop);
        PetcatReader reader(loop);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t size = std::min(blockSize, text.size() - at);
            if (petcat) {
                at += reader.convert(text.data() + at, size, seq.data(), seq.size()).consumed;
            } else {
                at += size;
                benchmark::DoNotOptimize(textToSeq.convert(text.data() + at - size, size, seq.data()));
            }
            benchmark::DoNotOptimize(seq.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_TextToSeqOfRandomBytes(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, textOfRandomBytes(), loop);
}

void BM_TextToSeqTypical(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, bench::typicalText(loopInputSize), loop);
}

void BM_TextToSeqNonForms(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, bench::nonFormText(loopInputSize), loop);
}

void BM_TextToSeqArt(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, bench::artText(loopInputSize), loop);
}

void BM_TextToSeqRealArt(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, realArtText(), loop);
}

// The other dialect's reader on the same texts, for the side-by-side rows.
void BM_PetcatOfRandomBytes(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, textOfRandomBytes(), loop, true);
}

void BM_PetcatTypical(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, bench::typicalText(loopInputSize), loop, true);
}

void BM_PetcatRealArt(benchmark::State& state, TextLoop loop)
{
    textToSeqOver(state, realArtText(), loop, true);
}

#define TEXT_TO_SEQ_BENCHMARKS(name)                               \
    BENCHMARK_CAPTURE(name, portable, TextLoop::portable);         \
    BENCHMARK_CAPTURE(name, avx2, TextLoop::avx2);                 \
    BENCHMARK_CAPTURE(name, avx512, TextLoop::avx512)

TEXT_TO_SEQ_BENCHMARKS(BM_TextToSeqOfRandomBytes);
TEXT_TO_SEQ_BENCHMARKS(BM_TextToSeqTypical);
TEXT_TO_SEQ_BENCHMARKS(BM_TextToSeqNonForms);
TEXT_TO_SEQ_BENCHMARKS(BM_TextToSeqArt);
TEXT_TO_SEQ_BENCHMARKS(BM_TextToSeqRealArt);
TEXT_TO_SEQ_BENCHMARKS(BM_PetcatOfRandomBytes);
TEXT_TO_SEQ_BENCHMARKS(BM_PetcatTypical);
TEXT_TO_SEQ_BENCHMARKS(BM_PetcatRealArt);

}  // namespace

BENCHMARK_MAIN();
