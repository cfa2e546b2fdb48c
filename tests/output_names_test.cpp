#include "output_names.h"

#include <gtest/gtest.h>

TEST(OutputNames, EntryNamesAreValidOnEverySystem)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"{CHECK}menu1", L"{CHECK}menu1"}, {L"a/b", L"a{47}b"}, {L"x:y*z?<>", L"x{58}y{42}z{63}{60}{62}"},
        {L"two\nlines\n", L"two{13}lines{13}"}, {L".hidden", L"{46}hidden"}, {L"end. ", L"end.{32}"},
        {L"end.", L"end{46}"}, {L"..", L"{46}{46}"}, {L" a b", L" a b"}, {L"$", L"$"}, {L"con", L"co{110}"},
        {L"AUX", L"AU{88}"}, {L"LPT9", L"LPT{57}"}, {L"Nul.tar", L"Nu{108}.tar"}, {L"com0", L"com0"},
        {L"console", L"console"}, {L"prn ", L"prn{32}"}};
    for (const auto& [text, stem] : cases)
        EXPECT_EQ(entryOutputStem(text), stem) << text.size();
    for (const auto& [name, stem] : {std::pair<std::wstring, std::wstring>{L"menu.seq", L"menu"}, {L"menu", L"menu"},
                                     {L"a.b.c", L"a.b"}, {L".profile", L".profile"}})
        EXPECT_EQ(fileOutputStem(name), stem);
}

TEST(OutputNames, LaterOutputsOfATakenNameAreNumbered)
{
    OutputNames names;
    const std::tuple<std::wstring, std::wstring, std::wstring> takes[] = {
        {L"menu", L".txt", L"menu.txt"}, {L"MENU", L".txt", L"MENU~2.txt"}, {L"menu~2", L".txt", L"menu~2~2.txt"},
        {L"Menu", L".txt", L"Menu~3.txt"}, {L"menu", L".ans", L"menu.ans"}, {L"menu~3", L".txt", L"menu~3~2.txt"}};
    for (const auto& [stem, extension, name] : takes)
        EXPECT_EQ(names.take(stem, extension), name);
}
