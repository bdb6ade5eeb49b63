#include <gtest/gtest.h>

#include <string>

#include "baselib/RQBLPlatform.h"
#include "patch/RQPatchPath.h"

namespace {

RQPatchPathError Check(const std::wstring& strPath) {
    RQ_PATCH_PATH path;
    return RQMakePatchPath(strPath, path);
}

std::wstring Local(const std::wstring& strWithSlashes) {
    std::wstring s = strWithSlashes;
    for (wchar_t& c : s) {
        if (c == L'/') {
            c = rqbl::PathSeparator();
        }
    }
    return s;
}

}  // namespace

TEST(PatchPath, AcceptedPathsGiveLocalPathAndEscapedUrl) {
    struct Case {
        std::wstring strIn, strLocal, strUrl;
    };
    const Case cases[] = {
        {L"TOLVANE.EXE", L"TOLVANE.EXE", L"TOLVANE.EXE"},
        {L"data/map/a.dat", L"data/map/a.dat", L"data/map/a.dat"},
        {L"data\\map\\a.dat", L"data/map/a.dat", L"data/map/a.dat"},
        {L"data\\map/a.dat", L"data/map/a.dat", L"data/map/a.dat"},
        {L"my file.txt", L"my file.txt", L"my%20file.txt"},
        {L"\u30c7\u30fc\u30bf/\u65e5\u672c.pak", L"\u30c7\u30fc\u30bf/\u65e5\u672c.pak",
         L"%E3%83%87%E3%83%BC%E3%82%BF/%E6%97%A5%E6%9C%AC.pak"},
        // "%" and "#" would otherwise be read as an escape and a fragment.
        {L"100%#1.txt", L"100%#1.txt", L"100%25%231.txt"},
        {L"a+b=c(d)~e_f-g.h", L"a+b=c(d)~e_f-g.h", L"a+b=c(d)~e_f-g.h"},
        {L".hidden", L".hidden", L".hidden"},
        {L"..x/y..z", L"..x/y..z", L"..x/y..z"},
        {L"CONSOLE.txt", L"CONSOLE.txt", L"CONSOLE.txt"},
        {L"COM0", L"COM0", L"COM0"},
        {L"LPT10.dat", L"LPT10.dat", L"LPT10.dat"},
        {L"\u00e9", L"\u00e9", L"%C3%A9"},
    };
    for (const Case& c : cases) {
        RQ_PATCH_PATH path;
        ASSERT_EQ(RQMakePatchPath(c.strIn, path), RQPatchPathError::NONE)
            << std::string(c.strIn.begin(), c.strIn.end());
        EXPECT_EQ(path.strLocal, Local(c.strLocal));
        EXPECT_EQ(path.strUrl, c.strUrl);
    }
}

TEST(PatchPath, CharacterBeyondTheBasicPlaneIsOneFourByteSequence) {
    std::wstring strName;
    if (sizeof(wchar_t) == 2) {
        strName = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    } else {
        strName = {static_cast<wchar_t>(0x1F600)};
    }
    RQ_PATCH_PATH path;
    ASSERT_EQ(RQMakePatchPath(strName + L".png", path), RQPatchPathError::NONE);
    EXPECT_EQ(path.strUrl, L"%F0%9F%98%80.png");
}

TEST(PatchPath, PathsOutsideTheGameFolderAreRefused) {
    EXPECT_EQ(Check(L""), RQPatchPathError::EMPTY);
    EXPECT_EQ(Check(L"/etc/passwd"), RQPatchPathError::ABSOLUTE_PATH);
    EXPECT_EQ(Check(L"\\Windows\\x.dll"), RQPatchPathError::ABSOLUTE_PATH);
    EXPECT_EQ(Check(L"\\\\server\\share\\x"), RQPatchPathError::ABSOLUTE_PATH);
    EXPECT_EQ(Check(L"C:\\Windows\\x.dll"), RQPatchPathError::COLON);
    EXPECT_EQ(Check(L"C:x.dll"), RQPatchPathError::COLON);
    EXPECT_EQ(Check(L"a.txt:stream"), RQPatchPathError::COLON);
    EXPECT_EQ(Check(L"data/x:y/z"), RQPatchPathError::COLON);
    EXPECT_EQ(Check(L".."), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"../x"), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"a/../../x"), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"a\\..\\x"), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"./x"), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"a/./x"), RQPatchPathError::DOT_COMPONENT);
    EXPECT_EQ(Check(L"a//x"), RQPatchPathError::EMPTY_COMPONENT);
    EXPECT_EQ(Check(L"a/"), RQPatchPathError::EMPTY_COMPONENT);
}

TEST(PatchPath, DeviceNamesAreRefusedInAnyCaseAndWithAnyExtension) {
    for (const wchar_t* psz :
         {L"CON", L"con", L"Prn", L"AUX", L"nul", L"NUL.txt", L"nul.tar.gz", L"COM1", L"com9.dat", L"LPT1",
          L"lpt9", L"data/CON", L"CON/x.txt", L"AUX .txt", L"CONIN$", L"conout$.log", L"COM\u00b9"}) {
        EXPECT_EQ(Check(psz), RQPatchPathError::DEVICE_NAME) << std::wstring(psz).size();
    }
}

TEST(PatchPath, ControlCharactersAndTrailingDotsOrBlanksAreRefused) {
    EXPECT_EQ(Check(std::wstring(L"a\0b", 3)), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"a\tb"), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"a\r\nb"), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"dir\x1f/b"), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"a\x7f"), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"a\u0085b"), RQPatchPathError::CONTROL_CHARACTER);
    EXPECT_EQ(Check(L"file."), RQPatchPathError::TRAILING_DOT_OR_SPACE);
    EXPECT_EQ(Check(L"file "), RQPatchPathError::TRAILING_DOT_OR_SPACE);
    EXPECT_EQ(Check(L"dir./file"), RQPatchPathError::TRAILING_DOT_OR_SPACE);
    EXPECT_EQ(Check(L"dir /file"), RQPatchPathError::TRAILING_DOT_OR_SPACE);
    EXPECT_EQ(Check(L"..."), RQPatchPathError::TRAILING_DOT_OR_SPACE);
}

TEST(PatchPath, WildcardsReservedCharactersAndBrokenTextAreRefused) {
    for (const wchar_t* psz : {L"*.dll", L"a?.txt", L"a<b", L"a>b", L"a|b", L"a\"b"}) {
        EXPECT_EQ(Check(psz), RQPatchPathError::INVALID_CHARACTER);
    }
    if (sizeof(wchar_t) == 2) {
        EXPECT_EQ(Check(std::wstring(1, static_cast<wchar_t>(0xD800))), RQPatchPathError::INVALID_UNICODE);
        EXPECT_EQ(Check(std::wstring(1, static_cast<wchar_t>(0xDC00)) + L"x"),
                  RQPatchPathError::INVALID_UNICODE);
    } else {
        EXPECT_EQ(Check(std::wstring(1, static_cast<wchar_t>(0xD800))), RQPatchPathError::INVALID_UNICODE);
        EXPECT_EQ(Check(std::wstring(1, static_cast<wchar_t>(0x110000))), RQPatchPathError::INVALID_UNICODE);
    }
}

TEST(PatchPath, NamesOfUnfinishedDownloadsAreRefused) {
    EXPECT_EQ(Check(L"data/a.dat.rqpart"), RQPatchPathError::TEMP_NAME);
    EXPECT_EQ(Check(L"A.RQPART"), RQPatchPathError::TEMP_NAME);
    EXPECT_EQ(Check(L"a.rqpart/b"), RQPatchPathError::NONE);
}

TEST(PatchPath, RefusedPathLeavesNoHalfBuiltResult) {
    RQ_PATCH_PATH path;
    path.strLocal = L"old";
    EXPECT_NE(RQMakePatchPath(L"a/../b", path), RQPatchPathError::NONE);
    EXPECT_TRUE(path.strLocal.empty());
    EXPECT_TRUE(path.strUrl.empty());
}

TEST(PatchPath, PrintablePathHidesControlCharacters) {
    EXPECT_EQ(RQPrintablePath(L"a\r\n[00:00:00] 1 forged"), L"a??[00:00:00] 1 forged");
}
