#include "script/RQLuaConvert.h"

#include <limits>

#include "baselib/RQBLPlatform.h"

namespace rqlua {

namespace {
constexpr double kTwo31 = 2147483648.0;
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;
}  // namespace

int32_t TruncToInt32(double dValue) {
    // Written as "inside" tests so that NaN falls through to the fallback.
    if (dValue > -kTwo31 - 1.0 && dValue < kTwo31) {
        return static_cast<int32_t>(dValue);
    }
    return std::numeric_limits<int32_t>::min();
}

int64_t TruncToInt64(double dValue) {
    // -2^63 is the smallest double that fits; the next one down is far below.
    if (dValue >= -kTwo63 && dValue < kTwo63) {
        return static_cast<int64_t>(dValue);
    }
    return std::numeric_limits<int64_t>::min();
}

uint64_t TruncToUInt64(double dValue) {
    if (dValue >= kTwo63 && dValue < kTwo64) {
        return static_cast<uint64_t>(dValue);
    }
    return static_cast<uint64_t>(TruncToInt64(dValue));
}

uint32_t TruncToUInt32(double dValue) {
    return static_cast<uint32_t>(static_cast<uint64_t>(TruncToInt64(dValue)));
}

}  // namespace rqlua
