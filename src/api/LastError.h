// The text SMSGetLastError hands out: the last failure of a host's call or of the worker, in
// the host's code page, guarded so that a copy is never half old, half new; and its number,
// which SMSGetLastErrorCode hands out and which changes together with the text.
#ifndef TIDEWIRE_API_LASTERROR_H
#define TIDEWIRE_API_LASTERROR_H

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "base/ErrorTexts.h"
#include "family/ModuleFamily.h"

namespace tidewire {

class LastError final : public ErrorLog {
  public:
    LastError() = default;
    LastError(const LastError&) = delete;
    LastError& operator=(const LastError&) = delete;

    void Set(ErrorText error) { Set(error, nullptr); }
    // The error's text followed by detail, which is already host text (a system message).
    void Set(ErrorText error, const char* hostDetail);
    void Clear();

    // The text, then NULs up to length; no NUL when the text fills it. Returns the bytes of
    // text copied; 0, touching nothing, for a null buffer or a length below 1.
    int32_t Get(char* buffer, int32_t length);
    // The whole text and its NUL, into a buffer of at least 1024 bytes. Returns the text's
    // length; 0, touching nothing, for a null buffer.
    int32_t GetWhole(char* buffer);
    // The number of the text (tidewire_errors.h); 0 while there is none.
    int32_t GetCode();

    // ErrorLog, for the families' procedures.
    void Record(ErrorText error) override { Set(error); }

  private:
    // The text into copy_, the buffer every copy to the host is made from; its length. Called
    // with lock_ held.
    size_t CopyText();

    std::mutex lock_;
    char text_[1024] = {};
    char copy_[1024] = {};
    int32_t code_ = 0;
};

}  // namespace tidewire

#endif
