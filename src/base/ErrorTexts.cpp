#include "base/ErrorTexts.h"

namespace tidewire {

const char* ErrorTextUtf8(ErrorText error) {
    switch (error) {
#define TIDEWIRE_ERROR_CASE(name, text) \
    case ErrorText::name:               \
        return text;
        TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_CASE)
#undef TIDEWIRE_ERROR_CASE
    }
    return "";
}

}  // namespace tidewire
