// The persistent state of one TSE: life cycle, users, counters, clients,
// open transactions, clock and factory settings. Stored as key=value text in
// the file "state" of the device's state folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softtse {

using Bytes = std::vector<uint8_t>;

enum LifeCycle : int32_t {
    NotInitialized = 1,
    NoTime = 2,
    Active = 3,
    Deactivated = 4,
    Disabled = 5,
};

struct UserRecord {
    std::string pinHash; // SHA-256 of the PIN, hex; empty before the PINs are set
    std::string pukHash;
    int16_t retries = 3;
};

// A transaction started and not yet finished, with the client that started
// it: only that client may finish it. The client is empty for a transaction
// from a state file written before the client was kept; the open fills it in
// from the stored start message.
struct OpenTransaction {
    uint32_t number = 0;
    Bytes client;
    bool operator==(const OpenTransaction &o) const { return number == o.number && client == o.client; }
};

struct DeviceState {
    int32_t lifeCycle = NotInitialized;
    UserRecord admin;
    UserRecord timeAdmin;
    uint32_t transactionCounter = 0;
    uint32_t signatureCounter = 0;
    int64_t timeOffset = 0;       // TSE clock minus computer clock, seconds
    int64_t lastTimeUpdateMs = 0; // computer clock at the last time update; 0 = never
    uint64_t storedLogBytes = 0;

    std::string serialHex;
    std::string uniqueIdHex;
    std::string certificationId;
    uint64_t certificateExpiry = 0; // Unix seconds
    uint32_t timeSyncInterval = 1800;
    uint32_t maxClients = 100;
    uint32_t maxTransactions = 512;
    uint64_t totalLogMemory = 0;
    uint32_t signingDelayMs = 0;

    std::vector<Bytes> clients;                // mapped client ids
    std::vector<OpenTransaction> openTransactions; // ascending by number

    bool pinsSet() const { return !admin.pinHash.empty(); }
};

std::string serializeState(const DeviceState &state);
// False when the text is not a complete state (for example cut short).
bool parseState(const std::string &text, DeviceState &state);

} // namespace softtse
