#include "api/ModuleInfo.h"

#include <cstring>

#include "base/BoundedCopy.h"

namespace tidewire {

void ModuleInfo::Reset() {
    family_.store(0);
    receivePolls_.store(0);
    std::lock_guard<std::mutex> hold(lock_);
    std::memset(model_, 0, sizeof model_);
}

void ModuleInfo::KeepModel(const char (&model)[kModelTextSize]) {
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(model_, model, sizeof model_);
}

int32_t ModuleInfo::Get(char* model, int32_t length) {
    if (model != nullptr && length > 0) {
        std::lock_guard<std::mutex> hold(lock_);
        BoundedCopy(model, static_cast<size_t>(length), model_);
    }
    return family_.load();
}

}  // namespace tidewire
