// What Hushlet relays of its command line: everything after the program name and
// the blanks that follow it, verbatim.
#include <gtest/gtest.h>

#include "launchers/hushlet/command_line.h"

namespace {

using hushlet::argumentsOf;

TEST(HushletCommandLine, KeepsQuotesAndInnerSpacingOfTheArguments) {
    EXPECT_EQ(argumentsOf(u"Hushlet.exe   --open \"a  b\"   c  "), u"--open \"a  b\"   c  ");
    EXPECT_EQ(argumentsOf(u"\"C:\\Program Files\\Zephra\\Hushlet.exe\"\t x"), u"x");
    EXPECT_EQ(argumentsOf(u"Hushlet.exe\t\"quoted\""), u"\"quoted\"");
}

TEST(HushletCommandLine, NoArgumentsGiveTheEmptyText) {
    EXPECT_EQ(argumentsOf(u"Hushlet.exe"), u"");
    EXPECT_EQ(argumentsOf(u"Hushlet.exe    "), u"");
    EXPECT_EQ(argumentsOf(u"\"C:\\a b\\Hushlet.exe\""), u"");
    EXPECT_EQ(argumentsOf(u""), u"");
}

TEST(HushletCommandLine, UnclosedQuoteTakesTheWholeLineAsTheProgram) {
    EXPECT_EQ(argumentsOf(u"\"C:\\a b\\Hushlet.exe x y"), u"");
}

TEST(HushletCommandLine, TextRightAfterAQuotedProgramNameIsAnArgument) {
    // As the C runtime computes WinMain's command line: the name ends at its quote.
    EXPECT_EQ(argumentsOf(u"\"Hushlet.exe\"abc def"), u"abc def");
}

}  // namespace
