// What every modem dialogue collects its answer in.
#ifndef TIDEWIRE_MODEM_REPLYBUFFER_H
#define TIDEWIRE_MODEM_REPLYBUFFER_H

#include <cstddef>
#include <cstdint>

namespace tidewire {

// Everything read since the dialogue (or its phase) began, as one text. Bytes that would not
// fit are dropped and the buffer reports itself full; the tokens are then tested on what was
// kept. The module's echo of raw UCS-2 bodies holds zero bytes, so the length is explicit and
// searches do not stop at a NUL.
class ReplyBuffer {
  public:
    static constexpr size_t kCapacity = 65536;

    void Clear();
    // Appends what fits (one byte is kept for the terminator). False when something was dropped.
    bool Append(const uint8_t* bytes, size_t count);
    // Upper-cases the ASCII letters from position `from` on (earlier bytes already are).
    void UpperCaseFrom(size_t from);

    const char* Data() const { return data_; }
    size_t Length() const { return length_; }
    bool Full() const { return full_; }

    // Position of token at or after `from`, or npos.
    size_t Find(const char* token, size_t from = 0) const;
    bool Contains(const char* token) const { return Find(token) != npos; }

    static constexpr size_t npos = static_cast<size_t>(-1);

  private:
    char data_[kCapacity] = {};
    size_t length_ = 0;
    bool full_ = false;
};

// Size of one read from the port: at most this many bytes less one.
constexpr uint32_t kReadBufferSize = 8192;

}  // namespace tidewire

#endif
