#include "device_state.h"

#include "crypto.h"
#include "text_util.h"

#include <limits>
#include <sstream>
#include <type_traits>

namespace softtse {

namespace {

template <class T> bool toNumber(const std::string &s, T &out)
{
    if constexpr (std::is_unsigned_v<T>) {
        uint64_t u = 0;
        if (!parseUnsigned(s, u) || u > std::numeric_limits<T>::max())
            return false;
        out = static_cast<T>(u);
    } else {
        int64_t v = 0;
        if (!parseNumber(s, v) || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
            return false;
        out = static_cast<T>(v);
    }
    return true;
}

// Text values go through "%XX" for every byte that could end or bend a line
// (control bytes, 8-bit bytes, "%"), so that each value reads back byte for
// byte; "=" needs nothing, as the key ends at the first one.
std::string escapeValue(const std::string &v)
{
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : v) {
        if (c < 0x20 || c >= 0x7F || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool unescapeValue(const std::string &v, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '%') {
            out += v[i];
            continue;
        }
        if (i + 2 >= v.size())
            return false;
        const int hi = hexDigit(v[i + 1]);
        const int lo = hexDigit(v[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

} // namespace

std::string serializeState(const DeviceState &s)
{
    std::ostringstream out;
    out << "format=1\n"
        << "lifeCycle=" << s.lifeCycle << "\n"
        << "adminPin=" << escapeValue(s.admin.pinHash) << "\n"
        << "adminPuk=" << escapeValue(s.admin.pukHash) << "\n"
        << "adminRetries=" << s.admin.retries << "\n"
        << "timeAdminPin=" << escapeValue(s.timeAdmin.pinHash) << "\n"
        << "timeAdminPuk=" << escapeValue(s.timeAdmin.pukHash) << "\n"
        << "timeAdminRetries=" << s.timeAdmin.retries << "\n"
        << "transactionCounter=" << s.transactionCounter << "\n"
        << "signatureCounter=" << s.signatureCounter << "\n"
        << "timeOffset=" << s.timeOffset << "\n"
        << "lastTimeUpdateMs=" << s.lastTimeUpdateMs << "\n"
        << "storedLogBytes=" << s.storedLogBytes << "\n"
        << "serial=" << escapeValue(s.serialHex) << "\n"
        << "uniqueId=" << escapeValue(s.uniqueIdHex) << "\n"
        << "certificationId=" << escapeValue(s.certificationId) << "\n"
        << "certificateExpiry=" << s.certificateExpiry << "\n"
        << "timeSyncInterval=" << s.timeSyncInterval << "\n"
        << "maxClients=" << s.maxClients << "\n"
        << "maxTransactions=" << s.maxTransactions << "\n"
        << "totalLogMemory=" << s.totalLogMemory << "\n"
        << "signingDelayMs=" << s.signingDelayMs << "\n";
    for (const Bytes &c : s.clients)
        out << "client=" << toHex(c) << "\n";
    for (const OpenTransaction &t : s.openTransactions) {
        out << "open=" << t.number;
        if (!t.client.empty())
            out << "," << toHex(t.client);
        out << "\n";
    }
    out << "end=1\n";
    return out.str();
}

bool parseState(const std::string &text, DeviceState &s)
{
    DeviceState r;
    bool complete = false;
    bool ok = true;
    for (const std::string &line : splitLines(text)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string v = line.substr(eq + 1);
        if (key == "lifeCycle") ok &= toNumber(v, r.lifeCycle);
        else if (key == "adminPin") ok &= unescapeValue(v, r.admin.pinHash);
        else if (key == "adminPuk") ok &= unescapeValue(v, r.admin.pukHash);
        else if (key == "adminRetries") ok &= toNumber(v, r.admin.retries);
        else if (key == "timeAdminPin") ok &= unescapeValue(v, r.timeAdmin.pinHash);
        else if (key == "timeAdminPuk") ok &= unescapeValue(v, r.timeAdmin.pukHash);
        else if (key == "timeAdminRetries") ok &= toNumber(v, r.timeAdmin.retries);
        else if (key == "transactionCounter") ok &= toNumber(v, r.transactionCounter);
        else if (key == "signatureCounter") ok &= toNumber(v, r.signatureCounter);
        else if (key == "timeOffset") ok &= toNumber(v, r.timeOffset);
        else if (key == "lastTimeUpdateMs") ok &= toNumber(v, r.lastTimeUpdateMs);
        else if (key == "storedLogBytes") ok &= toNumber(v, r.storedLogBytes);
        else if (key == "serial") ok &= unescapeValue(v, r.serialHex);
        else if (key == "uniqueId") ok &= unescapeValue(v, r.uniqueIdHex);
        else if (key == "certificationId") ok &= unescapeValue(v, r.certificationId);
        else if (key == "certificateExpiry") ok &= toNumber(v, r.certificateExpiry);
        else if (key == "timeSyncInterval") ok &= toNumber(v, r.timeSyncInterval);
        else if (key == "maxClients") ok &= toNumber(v, r.maxClients);
        else if (key == "maxTransactions") ok &= toNumber(v, r.maxTransactions);
        else if (key == "totalLogMemory") ok &= toNumber(v, r.totalLogMemory);
        else if (key == "signingDelayMs") ok &= toNumber(v, r.signingDelayMs);
        else if (key == "client") {
            Bytes c;
            ok &= fromHex(v, c);
            r.clients.push_back(c);
        } else if (key == "open") {
            // "number" or "number,client in hex"
            const size_t comma = v.find(',');
            OpenTransaction t;
            ok &= toNumber(v.substr(0, comma), t.number);
            if (comma != std::string::npos)
                ok &= fromHex(v.substr(comma + 1), t.client) && !t.client.empty();
            r.openTransactions.push_back(std::move(t));
        } else if (key == "end") {
            complete = true;
        }
    }
    if (!ok || !complete || r.serialHex.size() != 64)
        return false;
    s = std::move(r);
    return true;
}

} // namespace softtse
