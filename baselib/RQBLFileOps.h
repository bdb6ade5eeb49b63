// The file operations of downloads and of the launcher's own records:
// writing a file, putting it in place of another at once, and asking the
// volume for room. Implemented in baselib/win and baselib/posix.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// What a file is written under before it is put in place of another (the
// launcher's downloads and records alike): one suffix, so that every
// unfinished file of ours is known by its name.
inline constexpr wchar_t RQBL_TEMP_SUFFIX[] = L".rqpart";

namespace rqbl {

enum class FileError {
    NONE,
    NOT_FOUND,
    IN_USE,        // another program holds the file (or the destination) open
    IS_DIRECTORY,  // a folder stands where the file should be
    ACCESS_DENIED,
    DISK_FULL,
    // A symbolic link, a junction or another reparse point stands where a file
    // or folder of ours should be: the launcher runs as administrator, and
    // whoever placed it would have it write or delete wherever it points.
    LINK,
    // Fewer bytes than were to be kept: the file changed since it was measured.
    SHORT,
    OTHER,
};

// A file open for writing; other programs may read it meanwhile, not write it.
// Never opened through a link: a link at strPath is LINK.
class CRQBLOutFile {
public:
    CRQBLOutFile() = default;
    ~CRQBLOutFile();
    CRQBLOutFile(const CRQBLOutFile&) = delete;
    CRQBLOutFile& operator=(const CRQBLOutFile&) = delete;

    // Creates the file or opens it to append; bTruncate empties it first.
    // bToSeal: the handle may also read the file back (KeepFirst) and, once
    // written, become a CRQBLSealedFile (TakeOver) without ever letting go of
    // the file, so that what was written is what gets renamed.
    FileError Open(const std::wstring& strPath, bool bTruncate, bool bToSeal = false);
    FileError Write(const void* pData, size_t nBytes);
    // Opened bToSeal: cuts the file back to its first ullBytes and reads them
    // to fnBlock (in blocks) through this handle; writing goes on after them.
    // SHORT when the file is shorter; OTHER when *pStop is set meanwhile (a
    // kept prefix may be gigabytes).
    FileError KeepFirst(uint64_t ullBytes, const std::function<void(const uint8_t*, size_t)>& fnBlock,
                        const std::atomic<bool>* pStop = nullptr);
    // Closes the file; its data are on their way to the disk.
    FileError Close();
    bool IsOpen() const { return m_nHandle != kNone; }

private:
    friend class CRQBLSealedFile;
    static constexpr intptr_t kNone = -1;
    intptr_t m_nHandle = kNone;
};

// Puts strFrom in place of strTo in one step: a reader sees either the old or
// the new file, never a part. A read-only destination is replaced too (and
// keeps its attribute should the replacement fail).
FileError ReplaceAtomically(const std::wstring& strFrom, const std::wstring& strTo);
// Writes strBytes whole under a temporary name beside strPath (strPath +
// RQBL_TEMP_SUFFIX), then puts it in place with ReplaceAtomically: a crash or a kill
// leaves the old file or the new one, never a part. False (and no temporary
// file left) when anything failed, with the first error in *pError if given.
bool WriteFileAtomically(const std::wstring& strPath, const std::string& strBytes,
                         FileError* pError = nullptr);
// A whole small file, read only while it stays within nMaxBytes: false when
// it cannot be read or is larger (nothing beyond the cap is read).
bool ReadSmallFile(const std::wstring& strPath, size_t nMaxBytes, std::string& strBytes);
// Renames without replacing anything; for moving a running program aside.
FileError RenameFile(const std::wstring& strFrom, const std::wstring& strTo);
FileError RemoveFile(const std::wstring& strPath);

// LINK when a folder on strPath (relative to the working folder, the game
// folder) or the file itself is a link, a junction or another reparse point;
// NONE when none is. Parts that do not exist yet are fine. To be asked before
// folders are made or files written, moved or deleted there.
FileError CheckNoLinkOnPath(const std::wstring& strPath);

// False when there is no regular file there.
bool GetRegularFileSize(const std::wstring& strPath, uint64_t& ullSize);
// Bytes free on the volume that holds strPath (all free bytes, not just the
// caller's quota). False when the volume cannot be asked.
bool GetFreeDiskBytes(const std::wstring& strPath, uint64_t& ullFree);
// The name by which players know the volume that holds strPath ("C:\" on
// Windows); empty when there is none to give.
std::wstring GetVolumeName(const std::wstring& strPath);

}  // namespace rqbl
