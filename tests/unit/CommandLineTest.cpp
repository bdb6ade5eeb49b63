#include <gtest/gtest.h>

#include "launcher/startup/RQCommandLine.h"

namespace {
const std::wstring kDefault = L"http://default/";
}

TEST(CdnSwitch, NoArgumentsKeepsTheCurrentAddress) {
    EXPECT_EQ(ReadCdnSwitch({L"Launcher.exe"}, kDefault), kDefault);
    EXPECT_EQ(ReadCdnSwitch({}, kDefault), kDefault);
}

TEST(CdnSwitch, SwitchIsCaseInsensitiveButTheValueKeepsItsCase) {
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_c", L"http://Cdn.Example/Path/"}, kDefault),
              L"http://Cdn.Example/Path/");
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_C", L"HTTP://X/"}, kDefault), L"HTTP://X/");
}

TEST(CdnSwitch, OnlyExactlyTwoCharactersAreTheSwitch) {
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_CX", L"http://a/"}, kDefault), kDefault);
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_", L"http://a/"}, kDefault), kDefault);
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"C_", L"http://a/"}, kDefault), kDefault);
}

TEST(CdnSwitch, SwitchInLastPositionIsIgnored) {
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_C"}, kDefault), kDefault);
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_C", L"http://a/", L"_C"}, kDefault), L"http://a/");
}

TEST(CdnSwitch, LaterSwitchWinsAndTheSkippedValueIsNotExamined) {
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_C", L"A", L"_C", L"B"}, kDefault), L"B");
    // "_C" as the value of the first switch is a URL, not a new switch.
    EXPECT_EQ(ReadCdnSwitch({L"L.exe", L"_C", L"_C", L"X"}, kDefault), L"_C");
}

TEST(CdnSwitch, TheProgramPathPositionIsExaminedToo) {
    EXPECT_EQ(ReadCdnSwitch({L"_c", L"http://a/"}, kDefault), L"http://a/");
}

TEST(RepairSwitch, FoundAfterTheProgramPathInAnyCase) {
    EXPECT_TRUE(HasRepairSwitch({L"L.exe", L"_C", L"http://a/", L"_repair"}));
    EXPECT_TRUE(HasRepairSwitch({L"L.exe", L"_REPAIR"}));
    EXPECT_FALSE(HasRepairSwitch({L"_REPAIR"}));
    EXPECT_FALSE(HasRepairSwitch({L"L.exe", L"_REPAIRS", L"REPAIR", L"_REPAI"}));
}

// The game receives the launcher's command line as it was, less the switch.
TEST(RepairSwitch, RemovedFromTheCommandLineWithItsBlankAndNothingElse) {
    const struct {
        const wchar_t* pszIn;
        const wchar_t* pszOut;
    } cases[] = {
        {L"L.exe _REPAIR", L"L.exe"},
        {L"\"C:\\My Games\\L.exe\" _REPAIR _C http://a/", L"\"C:\\My Games\\L.exe\" _C http://a/"},
        {L"L.exe  _C\thttp://a/ \t_repair", L"L.exe  _C\thttp://a/"},
        {L"L.exe _REPAIR x _Repair", L"L.exe x"},
        {L"L.exe \"_REPAIR\" x", L"L.exe x"},
        {L"L.exe _REPAIR ", L"L.exe "},
        // Not the switch: other words, or the word inside another argument.
        {L"L.exe _REPAIRS x_REPAIR", L"L.exe _REPAIRS x_REPAIR"},
        {L"L.exe \"a _REPAIR b\" c", L"L.exe \"a _REPAIR b\" c"},
        {L"L.exe \\\"_REPAIR\\\"", L"L.exe \\\"_REPAIR\\\""},
        {L"L.exe \"x\"\"_REPAIR\"", L"L.exe \"x\"\"_REPAIR\""},
        // The program path is never taken for the switch.
        {L"_REPAIR _C http://a/", L"_REPAIR _C http://a/"},
        {L"\"C:\\a\\_REPAIR\" _REPAIR", L"\"C:\\a\\_REPAIR\""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RQRemoveRepairSwitch(c.pszIn), c.pszOut) << std::wstring(c.pszIn).size();
    }
}
