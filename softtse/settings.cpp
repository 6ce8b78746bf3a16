#include "settings.h"

#include "atomic_file.h"
#include "text_util.h"

#include <limits>

namespace softtse {

namespace {

void setU32(const std::string &value, uint32_t &field)
{
    uint64_t v = 0;
    if (parseUnsigned(value, v) && v <= std::numeric_limits<uint32_t>::max())
        field = static_cast<uint32_t>(v);
}

} // namespace

Settings readSettings(const std::string &iniPath)
{
    Settings s;
    std::string text;
    if (!readTextFile(iniPath, text))
        return s;
    for (const std::string &raw : splitLines(text)) {
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (key == "certificationId") {
            if (!value.empty())
                s.certificationId = value;
        } else if (key == "certificateValidityDays") {
            setU32(value, s.certificateValidityDays);
        } else if (key == "certificateValidityYears") {
            setU32(value, s.certificateValidityYears);
        } else if (key == "timeSyncInterval") {
            setU32(value, s.timeSyncInterval);
        } else if (key == "maxClients") {
            setU32(value, s.maxClients);
        } else if (key == "maxTransactions") {
            setU32(value, s.maxTransactions);
        } else if (key == "totalLogMemory") {
            uint64_t v = 0;
            if (parseUnsigned(value, v))
                s.totalLogMemory = v;
        } else if (key == "signingDelayMs") {
            setU32(value, s.signingDelayMs);
        }
    }
    return s;
}

} // namespace softtse
