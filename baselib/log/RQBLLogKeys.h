// Every fixed secret of the .log record format, kept in this one place: the
// XOR key words, the SEED key and IV, and the two 16-byte constants that the
// writer passes as key and IV arguments. Changing any of them makes older
// .log files unreadable to tools built afterwards.
#pragma once

#include <cstdint>
#include <vector>

enum : int { RQBL_LOG_KEY_WORDS = 3 };

// The XOR key words of the .log records.
extern const int32_t RQBL_LOG_KEY[RQBL_LOG_KEY_WORDS];

// The same words as the key that the log object and its readers are built with.
std::vector<int32_t> RQBLLogKey();

// The key and IV that the record cipher actually runs with.
extern const uint8_t RQBL_SEED_KEY[16];
extern const uint8_t RQBL_SEED_IV[16];

// The key and IV arguments that the writer passes to the record cipher. The
// cipher insists on them being present but does not use their contents.
extern const uint8_t RQBL_SEED_ARG_KEY[16];
extern const uint8_t RQBL_SEED_ARG_IV[16];
