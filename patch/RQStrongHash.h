// A hash that cannot be forged the way a CRC-32 can, fed with a file's bytes
// in order while the comparison reads them. The checker takes a factory for
// it; without one (the empty factory), files are checked by their CRC-32 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CRQStrongHash {
public:
    virtual ~CRQStrongHash() = default;
    virtual void Update(const uint8_t* pData, size_t nBytes) = 0;
    // The digest in lower-case hex, as the patch script writes it.
    virtual std::string HexDigest() = 0;
};

using RQStrongHashFactory = std::function<std::unique_ptr<CRQStrongHash>()>;

// SHA-256, the strong hash patch scripts carry (slot 13 of an entry).
std::unique_ptr<CRQStrongHash> RQMakeSha256Hash();
