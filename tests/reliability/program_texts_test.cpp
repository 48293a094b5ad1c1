// The matcher of the program's texts: the mutation tests are only as strict
// as it is.
#include <gtest/gtest.h>

#include <string>

#include "reliability/program_texts.h"

namespace {

TEST(ProgramTextsTest, TellsTheProgramsTextsFromOthers) {
    struct Case {
        std::string Text;
        bool Expected;
    };
    const std::string longPath(300, 'p');
    const Case cases[] = {
        {"Duplicate key AppName", true},
        {"Key  must be present", true},
        {"Files.NT section has more than 40 entries", true},
        {"Invalid device type \"wave mixer\"", true},
        {"Driver failed processing message 0x80A (code 0x1)", true},
        {("Cannot delete file " + longPath + " (0/5 - Access denied.)").substr(0, 255), true},
        {("Cannot delete file " + longPath).substr(0, 254), false},
        {"Duplicated key AppName", false},
        {"Duplicate key", false},
        {"Syntax error in installable driver string!", false},
        {"", false},
        {"Setup failed", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsProgramText(c.Text), c.Expected) << c.Text;
}

}  // namespace
