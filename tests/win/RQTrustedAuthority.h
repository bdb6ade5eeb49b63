// A test authority trusted by this test's Wine prefix for as long as the
// object lives: put into the machine's root store (the registry store that the
// system's chain engine reads), taken out again at the end.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "baselib/win/RQBLWinHandle.h"

namespace rqtest {

struct RQBLCertStoreTraits {
    using handle_type = HCERTSTORE;
    static HCERTSTORE Empty() { return nullptr; }
    static bool IsValid(HCERTSTORE h) { return h != nullptr; }
    static void Close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
using CCertStore = CRQBLUniqueHandle<RQBLCertStoreTraits>;

struct RQBLRegKeyTraits {
    using handle_type = HKEY;
    static HKEY Empty() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
using CRegKey = CRQBLUniqueHandle<RQBLRegKeyTraits>;

class CTrustedAuthority {
public:
    // The authority's certificate as PEM; false when it could not be added.
    bool Add(const std::string& strPem) {
        std::vector<BYTE> der(8192);
        DWORD n = static_cast<DWORD>(der.size());
        HKEY hKey = nullptr;
        if (!CryptStringToBinaryA(strPem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &n, nullptr,
                                  nullptr) ||
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        m_key.Reset(hKey);
        m_store.Reset(CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, m_key.Get()));
        PCCERT_CONTEXT pAdded = nullptr;
        if (!m_store || !CertAddEncodedCertificateToStore(m_store.Get(), X509_ASN_ENCODING, der.data(), n,
                                                          CERT_STORE_ADD_REPLACE_EXISTING, &pAdded)) {
            return false;
        }
        m_pAdded = pAdded;
        // Written out now: the launcher, another process, reads the registry.
        return CertControlStore(m_store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr) != FALSE;
    }
    ~CTrustedAuthority() {
        if (m_pAdded != nullptr) {
            CertDeleteCertificateFromStore(m_pAdded);  // frees the context too
            CertControlStore(m_store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
    }

private:
    CRegKey m_key;
    CCertStore m_store;
    PCCERT_CONTEXT m_pAdded = nullptr;
};

}  // namespace rqtest
