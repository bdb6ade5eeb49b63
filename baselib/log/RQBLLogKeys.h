// Every fixed secret of the .log record format, kept in this one place: the
// XOR key words, the SEED key and IV, and the two 16-byte constants that the
// writer passes as key and IV arguments. Changing any of them makes older
// .log files unreadable to tools built afterwards.
#pragma once

#include <cstdint>
#include <vector>

// The XOR key of the .log records. Empty at start; the base runtime object
// fills it (RQBLAppendLogKey) before the log is started, and nothing writes it
// afterwards, so the log writer reads it without a lock. While it is empty no
// record can be made and the .log file stays empty.
extern std::vector<int32_t> g_vecLogKey;

// Appends the three fixed key words to g_vecLogKey. Called by CRQBLMain's
// constructor. A repeated call (a runtime object created again) leaves the key
// as it is: appending the same words again would not change the transform,
// which walks the key modulo its length, but would grow the array.
void RQBLAppendLogKey();

enum : int { RQBL_LOG_KEY_WORDS = 3 };

// The XOR key words that RQBLAppendLogKey appends.
extern const int32_t RQBL_LOG_KEY[RQBL_LOG_KEY_WORDS];

// The key and IV that the record cipher actually runs with.
extern const uint8_t RQBL_SEED_KEY[16];
extern const uint8_t RQBL_SEED_IV[16];

// The key and IV arguments that the writer passes to the record cipher. The
// cipher insists on them being present but does not use their contents.
extern const uint8_t RQBL_SEED_ARG_KEY[16];
extern const uint8_t RQBL_SEED_ARG_IV[16];
