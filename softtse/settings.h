// Factory settings of a new TSE, read once from softtse.ini in the device
// directory when the device state is first created.
#pragma once

#include <cstdint>
#include <string>

namespace softtse {

struct Settings {
    std::string certificationId = "BSI-K-TR-0000-2024";
    uint32_t certificateValidityDays = 0;  // overrides the years when set
    uint32_t certificateValidityYears = 5;
    uint32_t timeSyncInterval = 1800;      // seconds
    uint32_t maxClients = 100;
    uint32_t maxTransactions = 512;        // open at the same time
    uint64_t totalLogMemory = 8ULL << 30;  // bytes, counted, not allocated
    uint32_t signingDelayMs = 0;
};

// A missing file gives the defaults. Unknown keys and unreadable values are
// skipped so that a typo never blocks the making of a device.
Settings readSettings(const std::string &iniPath);

} // namespace softtse
