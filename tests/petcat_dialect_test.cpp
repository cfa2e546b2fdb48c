#include "petcat_dialect.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Reads `text` in blocks of at most `piece` bytes into `roomSize` codes of
// room, by default the least the reader takes, so that repeats often wait for
// the next call. Returns the codes, or "TAG, line N" for a fault.
std::string readPetcat(const std::string& text, std::size_t piece, std::size_t roomSize = maxCodesPerTag + 1,
                       TextLoop loop = chosenTextLoop())
{
    PetcatReader reader(loop);
    std::string seq;
    std::string room(roomSize, '\0');
    for (std::size_t at = 0; at < text.size() && reader.fault() == nullptr;) {
        const BlockStep step = reader.convert(text.data() + at, std::min(piece, text.size() - at),
                                              reinterpret_cast<std::uint8_t*>(room.data()), room.size());
        seq.append(room.data(), step.produced);
        at += step.consumed;
    }
    if (!reader.finish())
        return reader.fault()->tag + ", line " + std::to_string(reader.fault()->line);
    return seq;
}

std::string writePetcat(const std::string& seq)
{
    const auto writer = makePetcatTextBlocks();
    std::string text(writer->outputRoom(seq.size()), '\0');
    text.resize(writer->convert(seq.data(), seq.size(), text.data(), text.size()).produced);
    return text;
}

}  // namespace

TEST(PetcatDialect, EveryCodeWritesItsFormAndReadsBack)
{
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    for (const std::size_t piece : {7, 100000})
        EXPECT_EQ(readPetcat(writePetcat(all), piece), all) << "blocks of " << piece;
    EXPECT_EQ(writePetcat(std::string("\x00\x0d\x22\x5c\x60\x61\xa1\xa9\xc1\xde\xdf\xff\x20\x40\x5f", 15)),
              "{$00}\n\"\\{$60}{$61}{CBM-K}{SHIFT-POUND}A{$de}{CBM-*}~ @_");
}

TEST(PetcatDialect, ReadsEveryKindOfTagAndStopsAtTheFirstThatIsNone)
{
    const std::string longTag = "{" + std::string(80, 'x') + "}";
    // Long enough for whole windows: tags, CR LF and CRs at every offset.
    std::string lines;
    std::string linesSeq;
    for (int i = 0; i < 20; ++i) {
        lines += "{cLr}x\r\n{RVS off}y\n{a}{A}`|}~\r";
        linesSeq += "\x93X\r\x92Y\rAA\x40\x5c\x5d\xff\r";
    }
    const struct {
        std::string text;
        std::string seq;  // or the tag that stops reading and its line
    } cases[] = {
        {"{cLr}{Ctrl-a}{Up/Lo Lock On}{lT.bLuE}{Dark Gray}{R5}{lig.green}{grey 3}{Space}{A}",
         "\x93\x01\x08\x9a\x97\x87\x99\x9b\x20\x41"},
        {"{shift-pound}{cbm-^}{SHIFT-^}{shift-z}{cbm--}{RVS off}{Lower Case}{+}{^}",
         "\xa9\xde\xde\xda\xdc\x92\x0e\x2b\x5e"},
        {"{lgray}{UlCorner}{quote}{leftarrow}{Clear}{srETURN}", "\x9b\xb0\x22\x5f\x93\x8d"},
        {"{$c1}{$C1}{$0A}{0}{255}{007}", std::string("\xc1\xc1\x0a\x00\xff\x07", 6)},
        {"{3 down}{3down}{down*3}{2 65}{$41*2}{2$41}{**2}{2 CBM-*}",
         "\x11\x11\x11\x11\x11\x11\x11\x11\x11" "AAAAAA**\xdf\xdf"},
        {"{255 a}", std::string(255, 'A')},
        {"aZ`|}~\\\"^_[]@\x01\x80\xff\t", "\x41\xda\x40\x5c\x5d\xff\x5c\x22\x5e\x5f\x5b\x5d\x40\x01\x80\xff\t"},
        {"a\r\nb\rc\nd\r\r\n\n", "\x41\x0d\x42\x0d\x43\x0d\x44\x0d\x0d\x0d"},
        {"ab{foo}{x}", "{foo}, line 1"},
        {"a\n\n{clr}{256}", "{256}, line 3"},
        {"a\r\nb\rc\r\n{0 down}", "{0 down}, line 3"},
        {"{down*256}{x}", "{down*256}, line 1"},
        {"{256down}", "{256down}, line 1"},
        {"{down*0}", "{down*0}, line 1"},
        {"{365}", "{365}, line 1"},
        {"{$c}{$c1}", "{$c}, line 1"},
        {"{}", "{}, line 1"},
        {"{clr{wht}", "{clr{wht}, line 1"},
        {"\n{clr\n}", "{clr, line 2"},
        {"x\r\n{cl", "{cl, line 2"},
        {longTag, longTag.substr(0, 64) + ", line 1"},
        {lines, linesSeq},
        {std::string(63, 'a') + "\r\n" + std::string(40, 'b'), std::string(63, 'A') + "\r" + std::string(40, 'B')},
        {lines + "{foo}", "{foo}, line 41"},
        {lines + "{clr\n}", "{clr, line 41"},
    };
    for (const auto& sample : cases) {
        for (const std::size_t piece : {1, 2, 100000})
            EXPECT_EQ(readPetcat(sample.text, piece), sample.seq) << sample.text << ", blocks of " << piece;
        for (const TextLoop loop : allTextLoops) {
            if (!textLoopRuns(loop))
                continue;
            EXPECT_EQ(readPetcat(sample.text, 100000, 100000, loop), sample.seq)
                << sample.text << ", in whole windows of " << textLoopName(loop);
        }
    }
}
