// The process-wide state of the TSE layer and the text form of a result code.
#include "tse/TseLib.h"

#include <cstdio>

std::atomic<int32_t> TseRes{0};
std::string TseSN;
bool TseDebug = false;
bool TseLogAll = false;
bool TseLogFiles = false;
bool TseLocalClock = false;

const char* const TseLogFileName = "Vok_TSE.LOG";

std::string ErgStrOf(int32_t code)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04Xh", static_cast<unsigned>(static_cast<uint32_t>(code) & 0xFFFFu));
    return text;
}

std::string ErgStr()
{
    return ErgStrOf(TseRes.load());
}
