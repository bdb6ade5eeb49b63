#include "crashupload/RQCrashQueuePlan.h"

#include <algorithm>

CRQQueuePlan PlanCrashQueue(std::vector<CRQWaitingReport> vecReports, size_t nMaxWaiting) {
    std::vector<std::string> vecWaiting;
    for (const CRQWaitingReport& report : vecReports) {
        if (report.bConsented) {
            vecWaiting.push_back(report.strName);
        }
    }
    std::sort(vecWaiting.begin(), vecWaiting.end());
    CRQQueuePlan plan;
    size_t nDrop = vecWaiting.size() > nMaxWaiting ? vecWaiting.size() - nMaxWaiting : 0;
    plan.vecDrop.assign(vecWaiting.begin(), vecWaiting.begin() + static_cast<std::ptrdiff_t>(nDrop));
    plan.vecSend.assign(vecWaiting.begin() + static_cast<std::ptrdiff_t>(nDrop), vecWaiting.end());
    return plan;
}
