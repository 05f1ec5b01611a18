#include "base/ErrorTexts.h"

namespace tidewire {

const char* ErrorTextUtf8(ErrorText error) {
    switch (error) {
#define TIDEWIRE_ERROR_CASE(name, code, text) \
    case ErrorText::name:                     \
        return text;
        TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_CASE)
#undef TIDEWIRE_ERROR_CASE
    }
    return "";
}

int32_t ErrorCode(ErrorText error) {
    switch (error) {
#define TIDEWIRE_ERROR_CASE(name, code, text) \
    case ErrorText::name:                     \
        return code;
        TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_CASE)
#undef TIDEWIRE_ERROR_CASE
    }
    return TIDEWIRE_ERROR_NONE;
}

namespace {

// A number given to two texts would make a host take one failure for another: the switch on
// the numbers does not compile then.
[[maybe_unused]] constexpr bool EveryCodeIsOwnedByOneText(int32_t code) {
    switch (code) {
        case TIDEWIRE_ERROR_NONE:
#define TIDEWIRE_ERROR_CASE(name, code, text) case code:
            TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_CASE)
#undef TIDEWIRE_ERROR_CASE
            return true;
        default:
            return false;
    }
}

}  // namespace

}  // namespace tidewire
