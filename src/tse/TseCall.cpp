#include "tse/TseCall.h"

#include "tse/ProcLib.h"
#include "tse/TseLib.h"

namespace tsecall {

SerialArg::SerialArg(const std::string& hexSN) : TextArg(HexToBytes(hexSN)) {}

std::string HexOf(const std::string& bytes)
{
    return BytesToHex(bytes);
}

bool Ok(se_result_t res)
{
    TseRes = res;
    return res == ExecutionOk;
}

}  // namespace tsecall
