#include <gtest/gtest.h>

#include "launcher/RQCommandLine.h"

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
