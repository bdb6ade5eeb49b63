// The base library's process-wide runtime object.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "baselib/RQBLSingleton.h"

class CRQBLMain : public CRQBLSingleton<CRQBLMain> {
public:
    CRQBLMain();
    virtual ~CRQBLMain();
    CRQBLMain(const CRQBLMain&) = delete;
    CRQBLMain& operator=(const CRQBLMain&) = delete;

    std::wstring GetNationName() const;

private:
    int m_nNation = 0;
};
