#include "launcher/update/RQStatusText.h"

#include <algorithm>
#include <cstdio>

namespace {

const wchar_t* const kTextUpdateFailed = L"アップデート失敗。再度お試しください。";
const wchar_t* const kTextDiskFull = L"ハードディスクの容量が不足しています。";
const wchar_t* const kTextScriptNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";
// At most this many files are named in one box; the rest are counted.
constexpr size_t kMaxListed = 10;

std::wstring Format(const wchar_t* pszFormat, double dValue) {
    wchar_t szText[64];
    std::swprintf(szText, 64, pszFormat, dValue);
    return szText;
}

// Why a file failed, short (for a list) and as a sentence.
std::wstring ShortReason(const RQ_TRANSFER_OUTCOME& out) {
    switch (out.failure) {
        case RQTransferFailure::UNREACHABLE:
            return L"サーバーに接続できません";
        case RQTransferFailure::SERVER_REFUSED:
            return L"サーバーエラー " + std::to_wstring(out.nStatus);
        case RQTransferFailure::INTERRUPTED:
            return L"通信が途切れました";
        case RQTransferFailure::CHECK_FAILED:
            return L"内容が正しくありません";
        case RQTransferFailure::FILE_IN_USE:
            return L"他のプログラムが使用中";
        case RQTransferFailure::FOLDER_IN_WAY:
            return L"同じ名前のフォルダがあります";
        case RQTransferFailure::DISK_FULL:
            return L"空き容量が足りません";
        default:
            return L"書き込めません";
    }
}

std::wstring Reason(const RQ_TRANSFER_OUTCOME& out) {
    switch (out.failure) {
        case RQTransferFailure::UNREACHABLE:
            return L"サーバーに接続できませんでした。";
        case RQTransferFailure::SERVER_REFUSED:
            return L"サーバーでエラーが発生しました（コード " + std::to_wstring(out.nStatus) + L"）。";
        case RQTransferFailure::INTERRUPTED:
            return L"通信が途中で途切れました。";
        case RQTransferFailure::CHECK_FAILED:
            return L"ダウンロードしたファイルの内容が正しくありませんでした。";
        case RQTransferFailure::FILE_IN_USE:
            return L"ファイルが他のプログラムで使用中のため、置き換えられませんでした。";
        case RQTransferFailure::FOLDER_IN_WAY:
            return L"同じ名前のフォルダがあるため、ファイルを置けませんでした。";
        default:
            return L"ファイルを書き込めませんでした。";
    }
}

// What the player can do about it.
std::wstring Advice(RQTransferFailure failure) {
    switch (failure) {
        case RQTransferFailure::UNREACHABLE:
        case RQTransferFailure::INTERRUPTED:
            return L"インターネット接続を確認してから、再度お試しください。";
        case RQTransferFailure::SERVER_REFUSED:
        case RQTransferFailure::CHECK_FAILED:
            return L"サーバー側の問題と思われます。しばらくしてから再度お試しください。";
        case RQTransferFailure::FILE_IN_USE:
            return L"このファイルを開いているプログラムを終了してから、再度お試しください。";
        case RQTransferFailure::FOLDER_IN_WAY:
            return L"そのフォルダの名前を変えるか削除してから、再度お試しください。";
        default:
            return L"ゲームのフォルダに書き込めるか確認してから、再度お試しください。";
    }
}

std::wstring RoomLine(const RQ_TRANSFER_OUTCOME& out, const std::wstring& strVolume) {
    return (strVolume.empty() ? std::wstring(L"ディスク") : strVolume) + L" の空き容量が足りません（必要 " +
           RQFormatSize(out.ullNeeded) + L"、空き " + RQFormatSize(out.ullFree) +
           L"）。不要なファイルを削除して空き容量を増やしてから、再度お試しください。";
}

std::wstring Count(uint32_t n, uint32_t nTotal) {
    return L"(" + std::to_wstring(n) + L" / " + std::to_wstring(nTotal) + L")";
}

// A busy server is waited for, not a failure: the player sees how long.
std::wstring BusyLine(uint64_t ullSeconds) {
    return L"サーバーが混雑しています。" +
           (ullSeconds == 0 ? std::wstring(L"まもなく再試行します")
                            : L"あと " + RQFormatDuration(ullSeconds) + L"で再試行します");
}

}  // namespace

std::wstring RQFormatSize(uint64_t ullBytes) {
    const double dBytes = static_cast<double>(ullBytes);
    if (ullBytes < 1024 * 1024) {
        // Whole KB, rounded up: a few bytes are not "0 KB".
        return std::to_wstring((ullBytes + 1023) / 1024) + L" KB";
    }
    if (ullBytes < 1024ull * 1024 * 1024) {
        return Format(dBytes < 100.0 * 1024 * 1024 ? L"%.1f MB" : L"%.0f MB", dBytes / (1024.0 * 1024));
    }
    return Format(L"%.2f GB", dBytes / (1024.0 * 1024 * 1024));
}

std::wstring RQFormatDuration(uint64_t ullSeconds) {
    if (ullSeconds < 60) {
        return std::to_wstring(ullSeconds) + L" 秒";
    }
    if (ullSeconds < 3600) {
        return std::to_wstring(ullSeconds / 60) + L" 分 " + std::to_wstring(ullSeconds % 60) + L" 秒";
    }
    return std::to_wstring(ullSeconds / 3600) + L" 時間 " + std::to_wstring(ullSeconds % 3600 / 60) + L" 分";
}

void CRQSpeedMeter::Sample(uint64_t ullReceived, int64_t nNowMs) {
    if (!m_bStarted) {
        m_bStarted = true;
        m_ullLastBytes = ullReceived;
        m_nLastMs = nNowMs;
        m_nFirstMs = nNowMs;
        return;
    }
    const int64_t nElapsedMs = nNowMs - m_nLastMs;
    if (nElapsedMs < 100) {
        return;  // too short a step to say anything
    }
    const double dRate =
        static_cast<double>(ullReceived - m_ullLastBytes) * 1000.0 / static_cast<double>(nElapsedMs);
    // About a three-second memory: steady enough to read, quick enough to
    // follow a real change of speed.
    const double dWeight = std::min(1.0, static_cast<double>(nElapsedMs) / 3000.0);
    m_dRate = m_dRate == 0 ? dRate : m_dRate + (dRate - m_dRate) * dWeight;
    m_ullLastBytes = ullReceived;
    m_nLastMs = nNowMs;
    m_bSettled = m_bSettled || nNowMs - m_nFirstMs >= 1000;
}

bool CRQSpeedMeter::SecondsLeft(uint64_t ullRemaining, uint64_t& ullSeconds) const {
    const double dRate = BytesPerSecond();
    // Below 1 KB/s the figure would only jump about.
    if (dRate < 1024) {
        return false;
    }
    ullSeconds = static_cast<uint64_t>(static_cast<double>(ullRemaining) / dRate + 0.999);
    return true;
}

std::wstring RQStatusLine(const RQ_STATUS& status) {
    switch (status.phase) {
        case RQUpdatePhase::GETTING_SCRIPT:
            return status.bServerBusy ? BusyLine(status.ullRetrySeconds)
                                      : std::wstring(L"アップデート情報を確認しています…");
        case RQUpdatePhase::CHECKING:
            return L"ファイルを確認しています… " + Count(status.nFilesDone, status.nFilesTotal);
        case RQUpdatePhase::DONE:
            return L"アップデートが完了しました。ゲームを起動します…";
        case RQUpdatePhase::DOWNLOADING:
            break;
    }
    if (status.bServerBusy) {
        return BusyLine(status.ullRetrySeconds) + L"  " + Count(status.nFilesDone, status.nFilesTotal);
    }
    std::wstring strLine = L"ダウンロード中 " + Count(status.nFilesDone, status.nFilesTotal) + L"  " +
                           RQFormatSize(status.ullDoneBytes) + L" / " + RQFormatSize(status.ullTotalBytes);
    if (status.bRetrying) {
        return strLine + L"  再接続しています…";
    }
    if (status.dBytesPerSecond > 0) {
        strLine += L"  " + RQFormatSize(static_cast<uint64_t>(status.dBytesPerSecond)) + L"/秒";
    }
    strLine += status.bHasSecondsLeft ? L"  残り " + RQFormatDuration(status.ullSecondsLeft)
                                      : std::wstring(L"  残り時間を計算しています");
    return strLine;
}

std::wstring RQFailureText(const std::vector<RQ_FAILED_FILE>& vecFailed, const std::wstring& strVolume) {
    // Room on the disk comes first: nothing else can work until there is some.
    for (const RQ_FAILED_FILE& file : vecFailed) {
        if (file.outcome.failure == RQTransferFailure::DISK_FULL) {
            return std::wstring(kTextDiskFull) + L"\n" + RoomLine(file.outcome, strVolume);
        }
    }
    if (vecFailed.empty()) {
        return kTextUpdateFailed;
    }
    if (vecFailed.size() == 1) {
        const RQ_TRANSFER_OUTCOME& out = vecFailed[0].outcome;
        return std::wstring(kTextUpdateFailed) + L" " + vecFailed[0].strShown + L"\n" + Reason(out) +
               Advice(out.failure);
    }
    std::wstring strText = kTextUpdateFailed;
    std::vector<RQTransferFailure> vecKinds;
    for (size_t i = 0; i < vecFailed.size(); ++i) {
        const RQ_TRANSFER_OUTCOME& out = vecFailed[i].outcome;
        if (i < kMaxListed) {
            strText += L"\n・" + vecFailed[i].strShown + L"（" + ShortReason(out) + L"）";
        }
        if (std::find(vecKinds.begin(), vecKinds.end(), out.failure) == vecKinds.end()) {
            vecKinds.push_back(out.failure);
        }
    }
    if (vecFailed.size() > kMaxListed) {
        strText += L"\nほか " + std::to_wstring(vecFailed.size() - kMaxListed) + L" 件";
    }
    for (RQTransferFailure kind : vecKinds) {
        std::wstring strAdvice = Advice(kind);
        if (strText.find(strAdvice) == std::wstring::npos) {
            strText += L"\n" + strAdvice;
        }
    }
    return strText;
}

std::wstring RQScriptFailureText(const RQ_TRANSFER_OUTCOME& outcome, const std::wstring& strVolume) {
    switch (outcome.failure) {
        case RQTransferFailure::DISK_FULL:
            return std::wstring(kTextDiskFull) + L"\n" + RoomLine(outcome, strVolume);
        case RQTransferFailure::SERVER_REFUSED:
            if (outcome.nStatus == 404) {
                return kTextScriptNotFound;  // exactly what it says
            }
            [[fallthrough]];
        default:
            return std::wstring(kTextScriptNotFound) + L"\n" + Reason(outcome) + Advice(outcome.failure);
    }
}

std::wstring RQNotVerifiedText() {
    return L"アップデートデータを確認できませんでした。しばらくしてから再度お試しください。";
}

std::wstring RQRefusedNamesText(const std::vector<std::wstring>& vecShown) {
    const wchar_t* const kWhy = L"アップデートデータに使用できないファイル名が含まれています。";
    const wchar_t* const kAdvice = L"サーバー側の問題と思われます。しばらくしてから再度お試しください。";
    if (vecShown.size() == 1) {
        return std::wstring(kTextUpdateFailed) + L" " + vecShown[0] + L"\n" + kWhy + kAdvice;
    }
    std::wstring strText = kTextUpdateFailed;
    for (size_t i = 0; i < vecShown.size() && i < kMaxListed; ++i) {
        strText += L"\n・" + vecShown[i] + L"（使用できない名前）";
    }
    if (vecShown.size() > kMaxListed) {
        strText += L"\nほか " + std::to_wstring(vecShown.size() - kMaxListed) + L" 件";
    }
    return strText + L"\n" + kAdvice;
}

RQ_TRANSFER_OUTCOME RQWriteFailureOutcome(rqbl::FileError error, uint64_t ullFree) {
    RQ_TRANSFER_OUTCOME outcome;
    switch (error) {
        case rqbl::FileError::DISK_FULL:
            outcome.failure = RQTransferFailure::DISK_FULL;
            outcome.ullNeeded = 4096;  // a record is a few hundred bytes; a block of the disk holds it
            outcome.ullFree = ullFree;
            break;
        case rqbl::FileError::IN_USE:
            outcome.failure = RQTransferFailure::FILE_IN_USE;
            break;
        case rqbl::FileError::IS_DIRECTORY:
            outcome.failure = RQTransferFailure::FOLDER_IN_WAY;
            break;
        default:
            outcome.failure = RQTransferFailure::WRITE_FAILED;
            break;
    }
    return outcome;
}
