// The comparison of listed files with the game folder over two runs: what the
// verification record lets it skip, what it must still read, and what only a
// repair finds. Every read goes through a reader that counts it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/check/RQFileChecker.h"

namespace fs = std::filesystem;

namespace {

class CCountingReader : public CRQContentReader {
public:
    explicit CCountingReader(RQStrongHashFactory fnStrong = RQStrongHashFactory())
        : m_real(std::move(fnStrong)) {}
    RQContentRead Read(const std::wstring& strLocal, bool bStrong, const std::atomic<int64_t>* pStop,
                       RQ_CONTENT_SUMS& sums) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_mapReads[strLocal];
            m_nStrong += bStrong ? 1 : 0;
        }
        return m_real.Read(strLocal, bStrong, pStop, sums);
    }
    int Reads() {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const auto& entry : m_mapReads) {
            n += entry.second;
        }
        return n;
    }
    int Strong() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nStrong;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapReads.clear();
        m_nStrong = 0;
    }

private:
    CRQFileContentReader m_real;
    std::mutex m_mutex;
    std::map<std::wstring, int> m_mapReads;
    int m_nStrong = 0;
};

// A stand-in for the strong hash: the byte count and a sum, enough to tell
// two contents of one size apart.
class CSumHash : public CRQStrongHash {
public:
    void Update(const uint8_t* pData, size_t nBytes) override {
        for (size_t i = 0; i < nBytes; ++i) {
            m_ull = m_ull * 131 + pData[i];
        }
    }
    std::string HexDigest() override { return std::to_string(m_ull); }

private:
    uint64_t m_ull = 7;
};

std::string SumOf(const std::string& s) {
    CSumHash hash;
    hash.Update(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return hash.HexDigest();
}

RQ_TRANSFER_JOB Job(const std::string& strName, const std::string& strBody) {
    RQ_TRANSFER_JOB job;
    job.strLocal = std::wstring(strName.begin(), strName.end());
    job.strShown = job.strLocal;
    job.bHasCheck = true;
    job.ullSize = strBody.size();
    job.dwCrc = CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    return job;
}

const std::string kBodyA(300000, 'a');
const std::string kBodyB = "the listed content of b";
const std::string kOtherB = "THE LISTED CONTENT OF B";  // same size

class FileChecker : public ::testing::Test {
protected:
    void SetUp() override {
        m_vecJobs = {Job("a.dat", kBodyA), Job("b.dat", kBodyB)};
        Write("a.dat", kBodyA);
        Write("b.dat", kBodyB);
        // Whole seconds in the past, so that a restored time is the same
        // time on every file system and through every clock.
        m_oldTime = std::chrono::time_point_cast<std::chrono::seconds>(fs::last_write_time("a.dat")) -
                    std::chrono::hours(24 * 400);
        fs::last_write_time("a.dat", m_oldTime);
        fs::last_write_time("b.dat", m_oldTime);
    }
    static void Write(const std::string& strName, const std::string& strBody) {
        RQTestTempDir::WriteAll(strName, strBody);
    }
    // One run: the checker starts from the record the last run left.
    std::vector<RQCheckFinding> Run(bool bRepair, CRQContentReader& reader) {
        CRQFileChecker checker(m_record, bRepair, reader);
        std::vector<RQCheckFinding> vecFindings = checker.CheckAll(m_vecJobs, nullptr, nullptr);
        m_record = checker.NewRecord();
        return vecFindings;
    }
    std::vector<RQCheckFinding> Run(bool bRepair = false) { return Run(bRepair, m_reader); }

    RQTestTempDir m_dir;
    std::vector<RQ_TRANSFER_JOB> m_vecJobs;
    CRQVerifyRecord m_record;
    CCountingReader m_reader;
    fs::file_time_type m_oldTime;
};

using F = RQCheckFinding;

}  // namespace

TEST_F(FileChecker, AFileTheRecordVouchesForIsNotRead) {
    EXPECT_EQ(Run(), (std::vector<F>{F::CURRENT_BY_CONTENT, F::CURRENT_BY_CONTENT}));
    EXPECT_EQ(m_reader.Reads(), 2);
    EXPECT_EQ(m_record.Size(), 2u);

    m_reader.Clear();
    EXPECT_EQ(Run(), (std::vector<F>{F::CURRENT_BY_RECORD, F::CURRENT_BY_RECORD}));
    EXPECT_EQ(m_reader.Reads(), 0);
    EXPECT_EQ(m_record.Size(), 2u) << "the next run may skip them too";

    // A script that lists another version of a file: the record's checksum
    // is not the script's, so the file is read.
    m_vecJobs[1].dwCrc ^= 1;
    EXPECT_EQ(Run(), (std::vector<F>{F::CURRENT_BY_RECORD, F::CONTENT_DIFFERS}));
    EXPECT_EQ(m_reader.Reads(), 1);
    EXPECT_EQ(m_record.Find(L"b.dat"), nullptr);
}

// What happens to b.dat between a first run and a second, plain or repair.
TEST_F(FileChecker, ChangesBetweenRuns) {
    const struct {
        const char* pszName;
        void (*pfnChange)(fs::file_time_type oldTime);
        bool bRepair;
        F expected;
        int nReads;
    } cases[] = {
        {"unchanged, plain run", [](fs::file_time_type) {}, false, F::CURRENT_BY_RECORD, 0},
        {"unchanged, repair", [](fs::file_time_type) {}, true, F::CURRENT_BY_CONTENT, 2},
        {"edited: a new last-write time",
         [](fs::file_time_type oldTime) {
             Write("b.dat", kOtherB);
             if (fs::last_write_time("b.dat") == oldTime) {
                 fs::last_write_time("b.dat", oldTime + std::chrono::seconds(2));
             }
         },
         false, F::CONTENT_DIFFERS, 1},
        {"touched only: read, found current",
         [](fs::file_time_type oldTime) { fs::last_write_time("b.dat", oldTime + std::chrono::seconds(2)); },
         false, F::CURRENT_BY_CONTENT, 1},
        {"same-size edit, old time restored: missed by a plain run",
         [](fs::file_time_type oldTime) {
             Write("b.dat", kOtherB);
             fs::last_write_time("b.dat", oldTime);
         },
         false, F::CURRENT_BY_RECORD, 0},
        {"same-size edit, old time restored: found by a repair",
         [](fs::file_time_type oldTime) {
             Write("b.dat", kOtherB);
             fs::last_write_time("b.dat", oldTime);
         },
         true, F::CONTENT_DIFFERS, 2},
        {"a copy put in place with the old time: a new identity",
         [](fs::file_time_type oldTime) {
             Write("b.new", kOtherB);
             fs::last_write_time("b.new", oldTime);
             ASSERT_EQ(rqbl::ReplaceAtomically(L"b.new", L"b.dat"), rqbl::FileError::NONE);
             ASSERT_EQ(fs::last_write_time("b.dat"), oldTime);
         },
         false, F::CONTENT_DIFFERS, 1},
        {"another size: never read",
         [](fs::file_time_type oldTime) {
             Write("b.dat", kBodyB + "!");
             fs::last_write_time("b.dat", oldTime);
         },
         false, F::SIZE_DIFFERS, 0},
        {"removed", [](fs::file_time_type) { fs::remove("b.dat"); }, false, F::MISSING, 0},
    };
    for (const auto& c : cases) {
        SetUp();
        m_record = CRQVerifyRecord();
        Run();
        m_reader.Clear();
        c.pfnChange(m_oldTime);
        std::vector<F> vecFindings = Run(c.bRepair);
        EXPECT_EQ(vecFindings[1], c.expected) << c.pszName;
        EXPECT_EQ(vecFindings[0], c.bRepair ? F::CURRENT_BY_CONTENT : F::CURRENT_BY_RECORD) << c.pszName;
        EXPECT_EQ(m_reader.Reads(), c.nReads) << c.pszName;
        // Only what was found current is vouched for next time.
        EXPECT_EQ(m_record.Find(L"b.dat") != nullptr, !RQNeedsDownload(c.expected)) << c.pszName;
    }
}

TEST_F(FileChecker, ARepairChecksTheStrongHashWhereTheScriptCarriesOne) {
    CCountingReader reader([] { return std::make_unique<CSumHash>(); });
    m_vecJobs[0].strSha256 = SumOf(kBodyA);
    m_vecJobs[1].strSha256 = SumOf(kOtherB);  // the CRC-32 matches, the strong hash not
    EXPECT_EQ(Run(false, reader), (std::vector<F>{F::CURRENT_BY_CONTENT, F::CURRENT_BY_CONTENT}));
    EXPECT_EQ(reader.Strong(), 0) << "a plain run reads for the CRC-32 only";
    EXPECT_EQ(m_record.Find(L"a.dat")->strSha256, "");

    reader.Clear();
    EXPECT_EQ(Run(true, reader), (std::vector<F>{F::CURRENT_BY_CONTENT, F::CONTENT_DIFFERS}));
    EXPECT_EQ(reader.Strong(), 2);
    EXPECT_EQ(m_record.Find(L"a.dat")->strSha256, SumOf(kBodyA));
    EXPECT_EQ(m_record.Find(L"b.dat"), nullptr);

    // A hash once checked must stay the script's for the record to vouch.
    reader.Clear();
    m_vecJobs[0].strSha256 = SumOf(kBodyB);
    EXPECT_EQ(Run(false, reader)[0], F::CURRENT_BY_CONTENT);
    EXPECT_EQ(reader.Reads(), 2);
}

TEST_F(FileChecker, FilesDownloadedAndVerifiedJoinTheRecord) {
    fs::remove("b.dat");
    CRQFileChecker checker(CRQVerifyRecord(), false, m_reader);
    EXPECT_EQ(checker.CheckAll(m_vecJobs, nullptr, nullptr),
              (std::vector<F>{F::CURRENT_BY_CONTENT, F::MISSING}));
    checker.AddVerified({m_vecJobs[1]});  // still missing: nothing to vouch for
    EXPECT_EQ(checker.NewRecord().Size(), 1u);
    Write("b.dat", kBodyB);
    checker.AddVerified({m_vecJobs[1]});
    m_record = checker.NewRecord();
    m_reader.Clear();
    EXPECT_EQ(Run(), (std::vector<F>{F::CURRENT_BY_RECORD, F::CURRENT_BY_RECORD}));
    EXPECT_EQ(m_reader.Reads(), 0);
}

TEST_F(FileChecker, AStopRequestLeavesTheRestUndecided) {
    std::atomic<int64_t> nStop{1};
    CRQFileChecker checker(CRQVerifyRecord(), false, m_reader);
    EXPECT_EQ(checker.CheckAll(m_vecJobs, &nStop, nullptr), (std::vector<F>{F::STOPPED, F::STOPPED}));
    EXPECT_EQ(m_reader.Reads(), 0);
    EXPECT_EQ(checker.NewRecord().Size(), 0u);
}
