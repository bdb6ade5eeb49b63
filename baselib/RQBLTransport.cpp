#include "baselib/RQBLTransport.h"

const wchar_t* RQBLFetchErrorName(RQBLFetchError error) {
    switch (error) {
        case RQBLFetchError::NONE:
            return L"none";
        case RQBLFetchError::CONNECT:
            return L"no connection";
        case RQBLFetchError::STATUS:
            return L"status";
        case RQBLFetchError::CUT:
            return L"cut";
        case RQBLFetchError::TOO_MANY_REDIRECTS:
            return L"too many redirects";
        case RQBLFetchError::INSECURE_REDIRECT:
            return L"insecure redirect";
        case RQBLFetchError::BAD_URL:
            return L"bad URL";
        case RQBLFetchError::SINK:
            return L"refused";
        case RQBLFetchError::ABORTED:
            return L"aborted";
    }
    return L"?";
}
