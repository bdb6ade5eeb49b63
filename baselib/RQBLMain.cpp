#include "baselib/RQBLMain.h"

CRQBLMain::CRQBLMain() {
    m_nNation = 4;
}

CRQBLMain::~CRQBLMain() = default;

std::wstring CRQBLMain::GetNationName() const {
    switch (m_nNation) {
        case 2:
            return L"KOR";
        case 3:
            return L"USA";
        case 4:
            return L"JPN";
        case 5:
            return L"CHN";
        case 6:
            return L"TWN";
        default:
            return L"NONE";
    }
}
