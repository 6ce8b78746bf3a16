#include "faults.h"

#include "atomic_file.h"
#include "text_util.h"

#include <ctime>
#include <sys/stat.h>

namespace softtse {

void FaultFile::refresh(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        present_ = false;
        path_ = path;
        lines_.clear();
        directives_.clear();
        return;
    }
    const int64_t mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    // File times tick in steps of milliseconds, so two writes of the same
    // size in quick succession can look alike: a file changed in the last
    // seconds is read again in any case.
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const bool recent = now.tv_sec - st.st_mtim.tv_sec < 3;
    if (present_ && !recent && path == path_ && st.st_dev == dev_ && st.st_ino == ino_ && st.st_size == size_ &&
        mtimeNs == mtimeNs_)
        return;
    std::string text;
    if (!readTextFile(path, text)) {
        present_ = false;
        lines_.clear();
        directives_.clear();
        return;
    }
    path_ = path;
    present_ = true;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    size_ = st.st_size;
    mtimeNs_ = mtimeNs;
    parse(text);
}

void FaultFile::parse(const std::string &text)
{
    lines_ = splitLines(text);
    directives_.clear();
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::string line = trim(lines_[i]);
        if (line.empty() || line[0] == '#')
            continue;
        std::string spaced;
        for (char c : line) {
            if (c == '=')
                spaced += " = ";
            else
                spaced += c;
        }
        const std::vector<std::string> w = splitWords(spaced);
        Directive d;
        d.line = i;
        if (w.size() < 3)
            continue;
        d.function = w[0];
        int64_t number = 0;
        if (w[1] == "=" && parseNumber(w[2], number)) {
            d.action.kind = FaultAction::Fail;
            d.action.code = static_cast<int32_t>(number);
            if (w.size() == 4 && w[3] == "once")
                d.once = true;
            else if (w.size() != 3)
                continue;
        } else if (w[1] == "delay" && w.size() == 3 && parseNumber(w[2], number) && number >= 0) {
            d.action.kind = FaultAction::Delay;
            d.action.value = static_cast<uint64_t>(number);
        } else if (w[1] == "value" && w.size() == 3 && parseNumber(w[2], number)) {
            d.action.kind = FaultAction::Value;
            d.action.value = static_cast<uint64_t>(number);
        } else {
            continue;
        }
        directives_.push_back(d);
    }
}

bool FaultFile::consumeLine(const std::string &path, size_t line)
{
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i != line)
            text += lines_[i] + "\n";
    }
    if (!replaceFile(path, text))
        return false;
    present_ = false; // read it again next time, whatever its time stamp
    return true;
}

FaultAction FaultFile::check(const std::string &path, const char *function)
{
    refresh(path);
    if (!present_)
        return {};
    for (const Directive &d : directives_) {
        if (d.function != function)
            continue;
        const FaultAction action = d.action;
        if (d.once)
            consumeLine(path, d.line);
        return action;
    }
    return {};
}

} // namespace softtse
