// A scripted stand-in for the SE-API library. Each test sets what the next
// calls answer and afterwards reads what reached the library and which
// buffers came back through se_free.
//
// The fake writes its scripted out-values also when it reports a failure, as
// a careless library might: a wrapper must not use or release them then.
#pragma once

#include "tse/TseLib_C_Dekl.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fakese {

// The bytes behind a pointer argument; nullopt for a null pointer.
using Bytes = std::optional<std::string>;

struct Call {
    std::string fn;
    std::vector<Bytes> data;     // pointer arguments, in order
    std::vector<uint64_t> nums;  // number arguments (lengths too), in order
};

struct TransRecord {
    uint64_t logTime = 0;
    Bytes serial;
    uint32_t signatureCounter = 0;
    Bytes signature;
    uint32_t transactionNumber = 0;
};

struct Script {
    std::map<std::string, se_result_t> results;  // by function name; default ExecutionOk
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    int32_t i32 = 0;
    int16_t i16 = 0;
    Bytes buffer;                       // every buffer out-argument
    std::optional<uint32_t> bufferLength;  // instead of the buffer's size
    TransRecord trans;
    Bytes uniqueId;
    std::string version = "fake-se 1.0";
};

Script& script();
void Reset();  // empties script, calls and buffer bookkeeping

const std::vector<Call>& Calls();
// The one call of fn; fails the test when there is not exactly one.
const Call& Only(const std::string& fn);

struct Frees {
    std::vector<std::string> released;  // contents of buffers released, in order
    size_t live = 0;                    // handed out after a success and not released
    size_t nullFrees = 0;
    std::vector<std::string> misfrees;  // double, foreign, unique id, version text
};
Frees FreeReport();

}  // namespace fakese
