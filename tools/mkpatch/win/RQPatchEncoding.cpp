#include "tools/mkpatch/RQPatchEncoding.h"

#include <windows.h>

bool RQEncodePatchText(const std::wstring& strText, RQPatchEncoding encoding, std::string& strOut) {
    if (strText.empty()) {
        strOut.clear();
        return true;
    }
    UINT nCodePage = encoding == RQPatchEncoding::CP932 ? 932 : CP_UTF8;
    // For CP932, refuse best-fit substitutes: a name that changes on the way
    // would name a file that does not exist.
    DWORD dwFlags = nCodePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL bDefaultUsed = FALSE;
    BOOL* pDefaultUsed = nCodePage == CP_UTF8 ? nullptr : &bDefaultUsed;
    int nLen = static_cast<int>(strText.size());
    int nBytes =
        WideCharToMultiByte(nCodePage, dwFlags, strText.data(), nLen, nullptr, 0, nullptr, pDefaultUsed);
    if (nBytes <= 0 || bDefaultUsed) {
        return false;
    }
    std::string out(static_cast<size_t>(nBytes), '\0');
    WideCharToMultiByte(nCodePage, dwFlags, strText.data(), nLen, out.data(), nBytes, nullptr, nullptr);
    strOut.swap(out);
    return true;
}
