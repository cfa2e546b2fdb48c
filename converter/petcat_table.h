#pragma once

// The other brace-tag dialect's table: the form its tool writes for every
// code, and every name it reads, by the table each comes from.

#include "code_table.h"

#include <cstddef>
#include <cstdint>

namespace petcat {

/// Length of the longest form ("{SHIFT-POUND}").
inline constexpr std::size_t longestFormLength = 13;

/// The form written for every code, indexed by the code; each slot is NUL-padded.
// Letters swap case, except that 193-218 are the capitals and 97-122 are
// numbered; code 13 is a line feed; control codes have short lower-case
// names, the graphics the key that types them, and every other code is its
// number in two lower-case hexadecimal digits.
inline constexpr char formText[256][16] = {
    "{$00}", "{CTRL-A}", "{CTRL-B}", "{stop}", "{CTRL-D}", "{wht}", "{CTRL-F}", "{CTRL-G}",  // 0-7
    "{dish}", "{ensh}", "{$0a}", "{CTRL-K}", "{CTRL-L}", "\n", "{swlc}", "{CTRL-O}",  // 8-15
    "{CTRL-P}", "{down}", "{rvon}", "{home}", "{del}", "{CTRL-U}", "{CTRL-V}", "{CTRL-W}",  // 16-23
    "{CTRL-X}", "{CTRL-Y}", "{CTRL-Z}", "{esc}", "{red}", "{rght}", "{grn}", "{blu}",  // 24-31
    " ", "!", "\"", "#", "$", "%", "&", "'",  // 32-39
    "(", ")", "*", "+", ",", "-", ".", "/",  // 40-47
    "0", "1", "2", "3", "4", "5", "6", "7",  // 48-55
    "8", "9", ":", ";", "<", "=", ">", "?",  // 56-63
    "@", "a", "b", "c", "d", "e", "f", "g",  // 64-71
    "h", "i", "j", "k", "l", "m", "n", "o",  // 72-79
    "p", "q", "r", "s", "t", "u", "v", "w",  // 80-87
    "x", "y", "z", "[", "\\", "]", "^", "_",  // 88-95
    "{$60}", "{$61}", "{$62}", "{$63}", "{$64}", "{$65}", "{$66}", "{$67}",  // 96-103
    "{$68}", "{$69}", "{$6a}", "{$6b}", "{$6c}", "{$6d}", "{$6e}", "{$6f}",  // 104-111
    "{$70}", "{$71}", "{$72}", "{$73}", "{$74}", "{$75}", "{$76}", "{$77}",  // 112-119
    "{$78}", "{$79}", "{$7a}", "{$7b}", "{$7c}", "{$7d}", "{$7e}", "{$7f}",  // 120-127
    "{$80}", "{orng}", "{$82}", "{$83}", "{$84}", "{f1}", "{f3}", "{f5}",  // 128-135
    "{f7}", "{f2}", "{f4}", "{f6}", "{f8}", "{sret}", "{swuc}", "{$8f}",  // 136-143
    "{blk}", "{up}", "{rvof}", "{clr}", "{inst}", "{brn}", "{lred}", "{gry1}",  // 144-151
    "{gry2}", "{lgrn}", "{lblu}", "{gry3}", "{pur}", "{left}", "{yel}", "{cyn}",  // 152-159
    "{$a0}", "{CBM-K}", "{CBM-I}", "{CBM-T}", "{CBM-@}", "{CBM-G}", "{CBM-+}", "{CBM-M}",  // 160-167
    "{CBM-POUND}", "{SHIFT-POUND}", "{CBM-N}", "{CBM-Q}", "{CBM-D}", "{CBM-Z}", "{CBM-S}", "{CBM-P}",  // 168-175
    "{CBM-A}", "{CBM-E}", "{CBM-R}", "{CBM-W}", "{CBM-H}", "{CBM-J}", "{CBM-L}", "{CBM-Y}",  // 176-183
    "{CBM-U}", "{CBM-O}", "{SHIFT-@}", "{CBM-F}", "{CBM-C}", "{CBM-X}", "{CBM-V}", "{CBM-B}",  // 184-191
    "{SHIFT-*}", "A", "B", "C", "D", "E", "F", "G",  // 192-199
    "H", "I", "J", "K", "L", "M", "N", "O",  // 200-207
    "P", "Q", "R", "S", "T", "U", "V", "W",  // 208-215
    "X", "Y", "Z", "{SHIFT-+}", "{CBM--}", "{SHIFT--}", "{$de}", "{CBM-*}",  // 216-223
    "{$e0}", "{$e1}", "{$e2}", "{$e3}", "{$e4}", "{$e5}", "{$e6}", "{$e7}",  // 224-231
    "{$e8}", "{$e9}", "{$ea}", "{$eb}", "{$ec}", "{$ed}", "{$ee}", "{$ef}",  // 232-239
    "{$f0}", "{$f1}", "{$f2}", "{$f3}", "{$f4}", "{$f5}", "{$f6}", "{$f7}",  // 240-247
    "{$f8}", "{$f9}", "{$fa}", "{$fb}", "{$fc}", "{$fd}", "{$fe}", "~",  // 248-255
};

static_assert(longestFormLength < sizeof codeTable::FormSlot::text, "forms fit a slot");
/// The forms in 16-byte slots with their lengths, as the form writer copies them.
inline constexpr codeTable::FormSlots formSlots = codeTable::makeFormSlots(formText);

/// A name the dialect reads inside braces, and its code.
struct Name {
    const char* text;
    std::uint8_t code;
};

/// Every name the dialect reads, as its tables write them (they are read
/// without regard to case).
inline constexpr Name names[] = {
    // its own
    {"CTRL-A", 1}, {"CTRL-B", 2}, {"stop", 3}, {"CTRL-D", 4}, {"wht", 5}, {"CTRL-F", 6}, {"CTRL-G", 7}, {"dish", 8},
    {"ensh", 9}, {"CTRL-K", 11}, {"CTRL-L", 12}, {"swlc", 14}, {"CTRL-O", 15}, {"CTRL-P", 16}, {"down", 17},
    {"rvon", 18}, {"home", 19}, {"del", 20}, {"CTRL-U", 21}, {"CTRL-V", 22}, {"CTRL-W", 23}, {"CTRL-X", 24},
    {"CTRL-Y", 25}, {"CTRL-Z", 26}, {"esc", 27}, {"red", 28}, {"rght", 29}, {"grn", 30}, {"blu", 31}, {"orng", 129},
    {"f1", 133}, {"f3", 134}, {"f5", 135}, {"f7", 136}, {"f2", 137}, {"f4", 138}, {"f6", 139}, {"f8", 140},
    {"sret", 141}, {"swuc", 142}, {"blk", 144}, {"up", 145}, {"rvof", 146}, {"clr", 147}, {"inst", 148}, {"brn", 149},
    {"lred", 150}, {"gry1", 151}, {"gry2", 152}, {"lgrn", 153}, {"lblu", 154}, {"gry3", 155}, {"pur", 156},
    {"left", 157}, {"yel", 158}, {"cyn", 159},
    // MikroBITTI
    {"WHT", 5}, {"up/lo lock on", 8}, {"up/lo lock off", 9}, {"return", 13}, {"lower case", 14}, {"DOWN", 17},
    {"RVS ON", 18}, {"HOME", 19}, {"delete", 20}, {"RED", 28}, {"RIGHT", 29}, {"GRN", 30}, {"BLU", 31},
    {"orange", 129}, {"F1", 133}, {"F3", 134}, {"F5", 135}, {"F7", 136}, {"F2", 137}, {"F4", 138}, {"F6", 139},
    {"F8", 140}, {"shift return", 141}, {"upper case", 142}, {"BLK", 144}, {"UP", 145}, {"RVS OFF", 146},
    {"CLR", 147}, {"insert", 148}, {"BROWN", 149}, {"LT.RED", 150}, {"GREY1", 151}, {"GREY2", 152}, {"lt green", 153},
    {"LT.BLUE", 154}, {"GREY3", 155}, {"PUR", 156}, {"LEFT", 157}, {"YEL", 158}, {"REVERSE ON", 18},
    // tok64
    {"white", 5}, {"reverse on", 18}, {"right", 29}, {"green", 30}, {"blue", 31}, {"r5", 135}, {"black", 144},
    {"reverse off", 146}, {"clear", 147}, {"brown", 149}, {"pink", 150}, {"dark gray", 151}, {"gray", 152},
    {"light green", 153}, {"light blue", 154}, {"light gray", 155}, {"purple", 156}, {"yellow", 158}, {"cyan", 159},
    // 64'er / Checksummer
    {"WHITE", 5}, {"RETURN", 13}, {"RVSON", 18}, {"DEL", 20}, {"GREEN", 30}, {"BLUE", 31}, {"ORANGE", 129},
    {"BLACK", 144}, {"RVSOFF", 146}, {"INST", 148}, {"LIG.RED", 150}, {"GREY 1", 151}, {"GREY 2", 152},
    {"LIG.GREEN", 153}, {"LIG.BLUE", 154}, {"GREY 3", 155}, {"PURPLE", 156}, {"YELLOW", 158}, {"CYAN", 159},
    // single characters
    {"a", 65}, {"b", 66}, {"c", 67}, {"d", 68}, {"e", 69}, {"f", 70}, {"g", 71}, {"h", 72}, {"i", 73}, {"j", 74},
    {"k", 75}, {"l", 76}, {"m", 77}, {"n", 78}, {"o", 79}, {"p", 80}, {"q", 81}, {"r", 82}, {"s", 83}, {"t", 84},
    {"u", 85}, {"v", 86}, {"w", 87}, {"x", 88}, {"y", 89}, {"z", 90}, {"space", 32}, {"SPACE", 32}, {"*", 42},
    {"+", 43}, {"-", 45}, {"/", 47}, {"<", 60}, {"=", 61}, {">", 62}, {"^", 94},
    // keys
    {"SHIFT-A", 193}, {"SHIFT-B", 194}, {"SHIFT-C", 195}, {"SHIFT-D", 196}, {"SHIFT-E", 197}, {"SHIFT-F", 198},
    {"SHIFT-G", 199}, {"SHIFT-H", 200}, {"SHIFT-I", 201}, {"SHIFT-J", 202}, {"SHIFT-K", 203}, {"SHIFT-L", 204},
    {"SHIFT-M", 205}, {"SHIFT-N", 206}, {"SHIFT-O", 207}, {"SHIFT-P", 208}, {"SHIFT-Q", 209}, {"SHIFT-R", 210},
    {"SHIFT-S", 211}, {"SHIFT-T", 212}, {"SHIFT-U", 213}, {"SHIFT-V", 214}, {"SHIFT-W", 215}, {"SHIFT-X", 216},
    {"SHIFT-Y", 217}, {"SHIFT-Z", 218}, {"SHIFT-SPACE", 160}, {"CBM-K", 161}, {"CBM-I", 162}, {"CBM-T", 163},
    {"CBM-@", 164}, {"CBM-G", 165}, {"CBM-+", 166}, {"CBM-M", 167}, {"CBM-POUND", 168}, {"SHIFT-POUND", 169},
    {"CBM-N", 170}, {"CBM-Q", 171}, {"CBM-D", 172}, {"CBM-Z", 173}, {"CBM-S", 174}, {"CBM-P", 175}, {"CBM-A", 176},
    {"CBM-E", 177}, {"CBM-R", 178}, {"CBM-W", 179}, {"CBM-H", 180}, {"CBM-J", 181}, {"CBM-L", 182}, {"CBM-Y", 183},
    {"CBM-U", 184}, {"CBM-O", 185}, {"SHIFT-@", 186}, {"CBM-F", 187}, {"CBM-C", 188}, {"CBM-X", 189}, {"CBM-V", 190},
    {"CBM-B", 191}, {"SHIFT-*", 192}, {"SHIFT-+", 219}, {"CBM--", 220}, {"SHIFT--", 221}, {"SHIFT-^", 222},
    {"CBM-*", 223}, {"CBM-^", 222},
};

}  // namespace petcat
