// How the wrappers hand arguments to the SE-API library and take its buffers
// back. Private to the TSE layer.
#pragma once

#include "tse/TseLib_C_Dekl.h"

#include <cstdint>
#include <string>

namespace tsecall {

// A text or byte argument. The library gets a pointer to a private copy of
// the characters plus their count; an empty text goes as a null pointer and
// 0, which the library reads as "not given".
class TextArg {
public:
    explicit TextArg(const std::string& text) : copy_(text) {}
    TextArg(const TextArg&) = delete;
    TextArg& operator=(const TextArg&) = delete;

    const char* chars() const { return copy_.empty() ? nullptr : copy_.data(); }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(chars()); }
    uint32_t length() const { return static_cast<uint32_t>(copy_.size()); }

private:
    std::string copy_;
};

// The serial number bytes of a hex serial; a last single digit is dropped.
class SerialArg : public TextArg {
public:
    explicit SerialArg(const std::string& hexSN);
};

// A buffer the library allocated for an out-argument. After a successful
// call the wrapper adopts it: it is then released with se_free exactly once,
// at the latest when the holder goes out of scope. After a failed call the
// out-values are not the caller's, so nothing is released.
template <typename T>
class LibBuffer {
public:
    LibBuffer() = default;
    LibBuffer(T* ptr, uint32_t length) : ptr_(ptr), length_(length) {}
    ~LibBuffer() { Release(); }
    LibBuffer(const LibBuffer&) = delete;
    LibBuffer& operator=(const LibBuffer&) = delete;

    T** out() { return &ptr_; }
    uint32_t* outLength() { return &length_; }

    void Adopt() { owned_ = true; }

    const T* data() const { return ptr_; }
    uint32_t length() const { return length_; }

    // The returned bytes; none when the pointer is null or the length 0.
    std::string Bytes() const
    {
        if (ptr_ == nullptr || length_ == 0) return {};
        return std::string(reinterpret_cast<const char*>(ptr_), length_);
    }
    std::string Hex() const;

    void Release()
    {
        if (!owned_) return;
        owned_ = false;
        se_free(ptr_);
    }

private:
    T* ptr_ = nullptr;
    uint32_t length_ = 0;
    bool owned_ = false;
};

std::string HexOf(const std::string& bytes);

template <typename T>
std::string LibBuffer<T>::Hex() const
{
    return HexOf(Bytes());
}

// Stores the library's result in TseRes and tells whether it succeeded.
bool Ok(se_result_t res);

}  // namespace tsecall
