#include "tools/mkpatch/RQPatchEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "baselib/RQBLPlatform.h"

bool RQEncodePatchText(const std::wstring& strText, RQPatchEncoding encoding, std::string& strOut) {
    std::u16string strUtf16 = rqbl::WideToUtf16(strText);
    iconv_t cd = iconv_open(encoding == RQPatchEncoding::CP932 ? "CP932" : "UTF-8", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::vector<char> in;
    for (char16_t c : strUtf16) {
        in.push_back(static_cast<char>(c & 0xFF));
        in.push_back(static_cast<char>(c >> 8));
    }
    std::vector<char> out(in.size() * 2 + 16);
    char* pIn = in.data();
    size_t nIn = in.size();
    char* pOut = out.data();
    size_t nOut = out.size();
    size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || nIn != 0) {
        return false;
    }
    strOut.assign(out.data(), static_cast<size_t>(pOut - out.data()));
    return true;
}
