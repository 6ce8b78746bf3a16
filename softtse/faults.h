// Fault injection for tests: the file "faults" in the device's state folder
// names functions that must fail or report a given value. It is looked at on
// every call, so a test may change it while a program runs.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace softtse {

struct FaultAction {
    enum Kind { None, Fail, Value, Delay };
    Kind kind = None;
    int32_t code = 0;   // Fail: the result code to return
    uint64_t value = 0; // Value: the out-value to report (bit pattern); Delay: milliseconds
};

class FaultFile {
public:
    // The action for function in the fault file at path. A matching "once"
    // line is removed from the file before this returns.
    FaultAction check(const std::string &path, const char *function);

private:
    struct Directive {
        std::string function;
        FaultAction action;
        bool once = false;
        size_t line = 0; // index into lines_
    };

    void refresh(const std::string &path);
    void parse(const std::string &text);
    bool consumeLine(const std::string &path, size_t line);

    std::string path_;
    bool present_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    off_t size_ = 0;
    int64_t mtimeNs_ = 0;
    std::vector<std::string> lines_;
    std::vector<Directive> directives_;
};

} // namespace softtse
