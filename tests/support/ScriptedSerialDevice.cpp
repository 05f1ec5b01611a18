#include "support/ScriptedSerialDevice.h"

#include <algorithm>

#include "platform/CSerialException.h"

using tidewire::CSerialException;
using tidewire::LineSettings;
using tidewire::SerialDevice;

std::pair<std::unique_ptr<SerialDevice>, ScriptedSerialDevice*> ScriptedSerialDevice::Make() {
    auto device = std::make_unique<ScriptedSerialDevice>();
    ScriptedSerialDevice* const raw = device.get();
    return {std::move(device), raw};
}

bool ScriptedSerialDevice::Fault::Strikes() {
    ++calls;
    if (at == 0) {
        return false;
    }
    return calls == at || (persistent && calls > at);
}

void ScriptedSerialDevice::Log(std::string event) {
    events_.push_back(std::move(event));
    changed_.notify_all();
}

void ScriptedSerialDevice::ThrowLogged(const char* kind, uint32_t errorCode) {
    Log(std::string(kind) + "-error:" + std::to_string(errorCode));
    throw CSerialException(errorCode);
}

void ScriptedSerialDevice::ThrowIfClosed() const {
    if (!open_) {
        // Not logged and not counted: nothing reached the line. A closed descriptor fails so.
        throw CSerialException(EBADF);
    }
}

void ScriptedSerialDevice::Open(const char* path, const LineSettings& settings) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    Close();
    if (openError_ != 0) {
        ThrowLogged("open", openError_);
    }
    open_ = true;
    path_ = path != nullptr ? path : "";
    settings_ = settings;
    Log("open:" + path_);
}

void ScriptedSerialDevice::Close() noexcept {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!open_) {
        return;
    }
    open_ = false;
    Log("close");
}

bool ScriptedSerialDevice::IsOpen() const noexcept {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return open_;
}

void ScriptedSerialDevice::SetImmediateReadTimeouts() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ThrowIfClosed();
    if (readTimeoutsError_ != 0) {
        ThrowLogged("timeouts", readTimeoutsError_);
    }
    Log("timeouts");
}

void ScriptedSerialDevice::CheckConfiguration() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ThrowIfClosed();
    if (configurationError_ != 0) {
        ThrowLogged("config", configurationError_);
    }
    Log("config");
}

uint32_t ScriptedSerialDevice::Read(uint8_t* buffer, uint32_t count) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!open_) {
        return 0;
    }
    if (readFault_.Strikes()) {
        ThrowLogged("read", readFault_.errorCode);
    }
    std::string delivered;
    if (!arrivals_.empty() && buffer != nullptr && count > 0) {
        std::string& front = arrivals_.front();
        const size_t take = std::min<size_t>(front.size(), count);
        delivered = front.substr(0, take);
        std::copy(delivered.begin(), delivered.end(), buffer);
        if (take == front.size()) {
            arrivals_.pop_front();
        } else {
            front.erase(0, take);
        }
    }
    Log("read:" + delivered);
    return static_cast<uint32_t>(delivered.size());
}

uint32_t ScriptedSerialDevice::Write(const uint8_t* buffer, uint32_t count) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!open_ || buffer == nullptr || count == 0) {
        return 0;
    }
    if (writeFault_.Strikes()) {
        ThrowLogged("write", writeFault_.errorCode);
    }
    const std::string written(reinterpret_cast<const char*>(buffer), count);
    writes_.push_back(written);
    Log("write:" + written);
    RespondTo(written);
    return count;
}

void ScriptedSerialDevice::RespondTo(const std::string& written) {
    // A responder may add rules while it runs, so the rule is copied out before it fires and
    // only the rules that existed when the block was written are tried.
    const size_t ruleCount = rules_.size();
    for (size_t i = 0; i < ruleCount; ++i) {
        Rule& rule = rules_[i];
        if (rule.spent || written.find(rule.trigger) == std::string::npos) {
            continue;
        }
        rule.spent = rule.once;
        const std::vector<std::string> chunks = rule.chunks;
        const Responder responder = rule.responder;
        if (responder) {
            responder(written, *this);
        } else {
            Arrive(chunks);
        }
        return;
    }
}

void ScriptedSerialDevice::PurgeInput() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ThrowIfClosed();
    if (purgeFault_.Strikes()) {
        ThrowLogged("purge-in", purgeFault_.errorCode);
    }
    arrivals_.clear();
    Log("purge-in");
}

void ScriptedSerialDevice::PurgeOutput() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ThrowIfClosed();
    if (purgeFault_.Strikes()) {
        ThrowLogged("purge-out", purgeFault_.errorCode);
    }
    Log("purge-out");
}

void ScriptedSerialDevice::Arrive(std::vector<std::string> chunksPerPoll) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (std::string& chunk : chunksPerPoll) {
        arrivals_.push_back(std::move(chunk));
    }
    changed_.notify_all();
}

void ScriptedSerialDevice::AddRule(std::string trigger, std::vector<std::string> chunks,
                                   Responder responder, bool once) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    Rule rule;
    rule.trigger = std::move(trigger);
    rule.chunks = std::move(chunks);
    rule.responder = std::move(responder);
    rule.once = once;
    rules_.push_back(std::move(rule));
}

void ScriptedSerialDevice::OnWrite(std::string trigger, std::vector<std::string> chunksPerPoll) {
    AddRule(std::move(trigger), std::move(chunksPerPoll), nullptr, false);
}

void ScriptedSerialDevice::OnWriteOnce(std::string trigger,
                                       std::vector<std::string> chunksPerPoll) {
    AddRule(std::move(trigger), std::move(chunksPerPoll), nullptr, true);
}

void ScriptedSerialDevice::OnWrite(std::string trigger, Responder responder) {
    AddRule(std::move(trigger), {}, std::move(responder), false);
}

void ScriptedSerialDevice::OnWriteOnce(std::string trigger, Responder responder) {
    AddRule(std::move(trigger), {}, std::move(responder), true);
}

void ScriptedSerialDevice::OnWrite(Responder responder) {
    AddRule(std::string(), {}, std::move(responder), false);
}

void ScriptedSerialDevice::FailReadAt(uint32_t n, bool persistent, uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    readFault_ = Fault{n, persistent, errorCode, 0};
}

void ScriptedSerialDevice::FailWriteAt(uint32_t n, bool persistent, uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    writeFault_ = Fault{n, persistent, errorCode, 0};
}

void ScriptedSerialDevice::FailPurgeAt(uint32_t n, bool persistent, uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    purgeFault_ = Fault{n, persistent, errorCode, 0};
}

void ScriptedSerialDevice::FailOpen(uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    openError_ = errorCode;
}

void ScriptedSerialDevice::FailConfiguration(uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    configurationError_ = errorCode;
}

void ScriptedSerialDevice::FailReadTimeouts(uint32_t errorCode) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    readTimeoutsError_ = errorCode;
}

std::vector<std::string> ScriptedSerialDevice::Events() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return events_;
}

std::vector<std::string> ScriptedSerialDevice::Writes() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return writes_;
}

std::string ScriptedSerialDevice::WrittenText() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    std::string text;
    for (const std::string& block : writes_) {
        text += block;
    }
    return text;
}

size_t ScriptedSerialDevice::ReadCount() const {
    return Count("read");
}

size_t ScriptedSerialDevice::Count(const std::string& kind) const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const std::string prefix = kind + ":";
    return static_cast<size_t>(
        std::count_if(events_.begin(), events_.end(), [&](const std::string& event) {
            return event == kind || event.compare(0, prefix.size(), prefix) == 0;
        }));
}

size_t ScriptedSerialDevice::PendingArrivals() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return arrivals_.size();
}

std::string ScriptedSerialDevice::OpenedPath() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return path_;
}

LineSettings ScriptedSerialDevice::OpenedSettings() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return settings_;
}

void ScriptedSerialDevice::ClearEvents() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    events_.clear();
    writes_.clear();
}

bool ScriptedSerialDevice::WaitUntil(const std::function<bool()>& condition,
                                     std::chrono::milliseconds timeout) {
    std::unique_lock<std::recursive_mutex> hold(lock_);
    return changed_.wait_for(hold, timeout, condition);
}
