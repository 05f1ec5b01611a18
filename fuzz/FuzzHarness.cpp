#include "FuzzHarness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "family/FamilyTable.h"

namespace tidewire {
namespace fuzz {

namespace {

// Bounds the pieces of one reply: no dialogue polls more often than this, and a piece list that
// grows with the repeat count would only slow the run down.
constexpr size_t kMostPieces = 64;

constexpr size_t kRepeats[] = {1, 1, 16, 300};

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

ModemScript::ModemScript(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    const uint8_t layout = data[0];
    size_t at = 1;
    const size_t sizeCount = layout & 7U;
    repeat_ = kRepeats[(layout >> 3) & 3U];
    options_ = layout >> 5;
    while (sizes_.size() < sizeCount && at < size) {
        sizes_.push_back(data[at++]);
    }
    std::string reply;
    for (; at < size; ++at) {
        const char c = static_cast<char>(data[at]);
        if (c == kReplySeparator) {
            replies_.push_back(std::move(reply));
            reply.clear();
        } else {
            reply.push_back(c);
        }
    }
    replies_.push_back(std::move(reply));
}

std::string ModemScript::Reply(size_t n) const {
    if (n >= replies_.size()) {
        return std::string();
    }
    std::string whole;
    whole.reserve(replies_[n].size() * repeat_);
    for (size_t i = 0; i < repeat_; ++i) {
        whole += replies_[n];
    }
    return whole;
}

std::vector<std::string> ModemScript::Pieces(size_t n) const {
    const std::string whole = Reply(n);
    std::vector<std::string> pieces;
    if (sizes_.empty()) {
        if (!whole.empty()) {
            pieces.push_back(whole);
        }
        return pieces;
    }
    size_t at = 0;
    size_t next = 0;
    while (at < whole.size()) {
        const uint8_t size = sizes_[next++ % sizes_.size()];
        if (pieces.size() + 1 == kMostPieces || size == 255) {
            pieces.push_back(whole.substr(at));
            break;
        }
        pieces.push_back(whole.substr(at, size));
        at += size;
    }
    return pieces;
}

namespace {

const ModuleFamily& FamilyOrTrap(int32_t code) {
    const ModuleFamily* family = FamilyWithCode(code, Edition::Current);
    Require(family != nullptr, "no such family");
    return *family;
}

}  // namespace

ScriptedFamily::ScriptedFamily(int32_t family)
    : session{channel, *this, *this, Edition::Current}, family_(FamilyOrTrap(family)) {
    auto made = ScriptedSerialDevice::Make();
    modem = made.second;
    channel.Port().SetDevice(std::move(made.first));
    channel.SetSleepFunction([](uint32_t) {});
    channel.Port().OpenPath("/dev/scripted", LineSettings{});
}

bool ScriptedFamily::TakeRecord(ReceivedMessage& record) {
    std::memset(&record, 0xA5, sizeof record);
    if (records_.empty()) {
        return false;
    }
    std::memcpy(&record, &records_.front(), sizeof record);
    records_.pop_front();
    return true;
}

namespace {

void CheckField(const char* field, size_t width, const char* what) {
    const char* nul = static_cast<const char*>(std::memchr(field, '\0', width));
    Require(nul != nullptr, what);
    for (const char* p = nul; p < field + width; ++p) {
        Require(*p == '\0', what);
    }
}

}  // namespace

void CheckRecord(const ReceivedMessage& record) {
    CheckField(record.text, sizeof record.text, "record text not terminated and zero-padded");
    CheckField(record.sender, sizeof record.sender, "record sender not terminated and zero-padded");
    CheckField(record.timestamp, sizeof record.timestamp,
               "record timestamp not terminated and zero-padded");
}

long IndexOfCommand(const std::string& written, const char* prefix) {
    const size_t prefixLength = std::strlen(prefix);
    Require(written.compare(0, prefixLength, prefix) == 0, "command without its prefix");
    Require(written.size() > prefixLength + 1 && written.back() == '\r',
            "indexed command not ended by CR");
    long index = 0;
    for (size_t i = prefixLength; i + 1 < written.size(); ++i) {
        const char c = written[i];
        Require(c >= '0' && c <= '9', "index of a command not all digits");
        Require(index < 100000000000L, "index of a command absurdly long");
        index = index * 10 + (c - '0');
    }
    return index;
}

std::string UpperCased(const std::string& text) {
    std::string upper(text);
    for (char& c : upper) {
        c = Upper(c);
    }
    return upper;
}

std::set<long> ListedIndexes(const std::string& listing, const char* header) {
    const std::string upper = UpperCased(listing);
    std::set<long> indexes;
    for (size_t at = upper.find(header); at != std::string::npos; at = upper.find(header, at + 1)) {
        size_t p = at + std::strlen(header);
        while (p < upper.size() && upper[p] == ' ') {
            ++p;
        }
        long value = 0;
        size_t digits = 0;
        while (p < upper.size() && upper[p] >= '0' && upper[p] <= '9' && digits < 12) {
            value = value * 10 + (upper[p] - '0');
            ++p;
            ++digits;
        }
        if (digits > 0 && p < upper.size() && upper[p] == ',') {
            indexes.insert(value);
        }
    }
    return indexes;
}

}  // namespace fuzz
}  // namespace tidewire
