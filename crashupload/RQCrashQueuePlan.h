// Which crash reports wait for sending and in which order. A report waits
// when the player agreed to send it and it has not reached the server yet.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How many reports may wait at most.
constexpr size_t kMaxWaitingReports = 3;

struct CRQWaitingReport {
    std::string strName;  // the report folder's name, which sorts by age
    bool bConsented = false;
};

struct CRQQueuePlan {
    std::vector<std::string> vecSend;  // oldest first
    std::vector<std::string> vecDrop;  // the oldest of those beyond the limit
};

// At most nMaxWaiting reports wait: the oldest beyond that go first. Reports
// without consent are neither sent nor dropped.
CRQQueuePlan PlanCrashQueue(std::vector<CRQWaitingReport> vecReports, size_t nMaxWaiting);
