// What the player reads above the progress bar, and in the boxes that end an
// update: the texts are made here, from totals only (several files arrive at
// once), so that every one of them can be checked without a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLFileOps.h"
#include "launcher/transfer/RQTransferJob.h"

// "512 KB", "12.3 MB", "1.50 GB": sizes the way players read them.
std::wstring RQFormatSize(uint64_t ullBytes);
// "5 秒", "3 分 20 秒", "1 時間 5 分".
std::wstring RQFormatDuration(uint64_t ullSeconds);

// The download's speed, smoothed so that the figure stays readable, and the
// time left at that speed.
class CRQSpeedMeter {
public:
    // ullReceived: all bytes received so far; nNowMs: a steady clock.
    void Sample(uint64_t ullReceived, int64_t nNowMs);
    // Bytes per second; 0 until a second of samples has been seen.
    double BytesPerSecond() const { return m_bSettled ? m_dRate : 0; }
    // False while the speed is unknown or too low to say.
    bool SecondsLeft(uint64_t ullRemaining, uint64_t& ullSeconds) const;

private:
    bool m_bStarted = false;
    bool m_bSettled = false;
    uint64_t m_ullLastBytes = 0;
    int64_t m_nLastMs = 0;
    int64_t m_nFirstMs = 0;
    double m_dRate = 0;
};

enum class RQUpdatePhase {
    GETTING_SCRIPT,  // fetching the patch script
    CHECKING,        // comparing the listed files with the game folder
    DOWNLOADING,
    DONE,  // the game starts in a moment
};

struct RQ_STATUS {
    RQUpdatePhase phase = RQUpdatePhase::GETTING_SCRIPT;
    uint32_t nFilesDone = 0;  // CHECKING: files checked; DOWNLOADING: files finished
    uint32_t nFilesTotal = 0;
    uint64_t ullDoneBytes = 0;
    uint64_t ullTotalBytes = 0;
    double dBytesPerSecond = 0;  // 0: unknown
    bool bHasSecondsLeft = false;
    uint64_t ullSecondsLeft = 0;
    bool bRetrying = false;  // a try failed and the next one waits
    // The servers asked to be left alone: the next request goes out in
    // ullRetrySeconds.
    bool bServerBusy = false;
    uint64_t ullRetrySeconds = 0;
};

std::wstring RQStatusLine(const RQ_STATUS& status);

// One failed file, for the box at the end of the downloads.
struct RQ_FAILED_FILE {
    std::wstring strShown;
    RQ_TRANSFER_OUTCOME outcome;
};

// The text of the one box that ends an update in which files failed: the
// first line says what happened, the rest what the player can do. The game
// folder's volume is named where room is missing.
std::wstring RQFailureText(const std::vector<RQ_FAILED_FILE>& vecFailed, const std::wstring& strVolume);

// The box for a patch script that could not be fetched.
std::wstring RQScriptFailureText(const RQ_TRANSFER_OUTCOME& outcome, const std::wstring& strVolume);

// The box for an update that could not be verified (a launcher with keys).
std::wstring RQNotVerifiedText();

// The box for a script that names files the launcher refuses to touch (a path
// outside the game folder, a device, one of the launcher's own files): the
// same form as for failed files, naming them.
std::wstring RQRefusedNamesText(const std::vector<std::wstring>& vecShown);

// The failure of a file of the launcher's own that could not be written, as
// a transfer's outcome: the failure box then gives the disk's reason.
// ullFree: the volume's free bytes (for a full disk).
RQ_TRANSFER_OUTCOME RQWriteFailureOutcome(rqbl::FileError error, uint64_t ullFree);
