// What a host may learn about the module of the latest start-up and about its worker: the model
// text the module gave, its family once the worker has set it up, and how many times the worker
// has read its store. Written by the start-up and the worker, read by any host thread.
#ifndef TIDEWIRE_API_MODULEINFO_H
#define TIDEWIRE_API_MODULEINFO_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "family/FamilyTable.h"

namespace tidewire {

class ModuleInfo {
  public:
    ModuleInfo() = default;
    ModuleInfo(const ModuleInfo&) = delete;
    ModuleInfo& operator=(const ModuleInfo&) = delete;

    // A start-up begins: nothing is known of its module yet.
    void Reset();
    // The model text the start-up's identification gave.
    void KeepModel(const char (&model)[kModelTextSize]);
    // The worker has set the module up: Get gives its family from now on, also after a stop,
    // until the next start-up.
    void MarkSetUp(int32_t family) { family_.store(family); }
    // The worker has read the module's store once more; what it found is queued already.
    void CountReceivePoll() { receivePolls_.fetch_add(1); }

    // Copies the model text into model (NUL-terminated, cut to fit; nothing for a null buffer
    // or a length below 1). Returns the family once the worker has set the module up, else 0.
    int32_t Get(char* model, int32_t length);
    int32_t ReceivePolls() const { return receivePolls_.load(); }

  private:
    std::mutex lock_;
    char model_[kModelTextSize] = {};
    std::atomic<int32_t> family_{0};
    std::atomic<int32_t> receivePolls_{0};
};

}  // namespace tidewire

#endif
