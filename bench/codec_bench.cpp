// The PDU codec beside libgammu's on the same inputs, in one binary and one run: encoding an
// SMS-SUBMIT, and decoding SMS-DELIVER PDUs of every alphabet with and without a user-data
// header. Both sides do the whole job a modem exchange needs: host text (UTF-8) in, PDU hex
// out, and PDU hex in, host text out. The heap calls made per PDU are counted on both sides.
#include <benchmark/benchmark.h>

extern "C" {
#include <gammu.h>
}

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DeliverPdu.h"
#include "codec/Pdu.h"

namespace {

using tidewire::PduMessage;
using tidewire::bench::Format;
using tidewire::bench::HeapCalls;

constexpr const char* kServiceCentre = "8613800100500";
constexpr const char* kDestination = "8613912345678";
// 41 characters of mixed Chinese and ASCII: a typical notification.
constexpr const char* kSubmitText = "您的验证码是 482913，五分钟内有效。Tidewire test message 01";

struct DeliverKind {
    const char* name;
    tidewire::sim::TextCoding coding;
    bool header;
};

const DeliverKind kKinds[] = {
    {"gsm7", tidewire::sim::TextCoding::Gsm7, false},
    {"gsm7_udh", tidewire::sim::TextCoding::Gsm7, true},
    {"ucs2", tidewire::sim::TextCoding::Ucs2, false},
    {"ucs2_udh", tidewire::sim::TextCoding::Ucs2, true},
    {"8bit", tidewire::sim::TextCoding::EightBit, false},
    {"8bit_udh", tidewire::sim::TextCoding::EightBit, true},
};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

// The DELIVER PDU of one kind: a single-part message of nearly full length, or the first part
// of a concatenated one, which carries the header.
std::string DeliverPduOf(const DeliverKind& kind) {
    tidewire::sim::IncomingMessage message;
    message.sender = "+8613912345678";
    message.coding = kind.coding;
    message.timestamp = tidewire::sim::Timestamp{2024, 5, 17, 9, 30, 12, 32};
    const std::string ascii =
        "Meeting moved to 15:30 in room 4B, bring the quarterly figures and the signed "
        "contract. Reply YES to confirm or call the office before noon today please. ";
    const std::string chinese = "会议改到下午三点半，在四楼会议室，请带上季度数据和签好的合同。";
    std::string text;
    if (kind.coding == tidewire::sim::TextCoding::Ucs2) {
        text = chinese;  // 31 characters, one part
        if (kind.header) {
            text += chinese + chinese;
        }
    } else {
        text = ascii.substr(0, kind.coding == tidewire::sim::TextCoding::Gsm7 ? 150 : 130);
        if (kind.header) {
            text = ascii + ascii;
        }
    }
    message.textUtf8 = text;
    const std::vector<std::string> pdus = tidewire::sim::BuildDeliverPdus(message);
    return pdus.front();
}

std::vector<std::string>& DeliverPdus() {
    static std::vector<std::string> pdus;
    return pdus;
}

// --- This library ----------------------------------------------------------------------------

void OursEncodeSubmit(benchmark::State& state) {
    PduMessage message;
    std::memset(&message, 0, sizeof message);
    std::snprintf(message.smsc, sizeof message.smsc, "%s", kServiceCentre);
    std::snprintf(message.number, sizeof message.number, "%s", kDestination);
    message.pid = 0;
    message.dcs = 0x08;
    std::snprintf(message.text, sizeof message.text, "%s", kSubmitText);
    char out[512];
    const uint64_t heapBefore = HeapCalls();
    for (auto _ : state) {
        const size_t written = tidewire::EncodeSubmitPdu(message, out, sizeof out);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(out);
    }
    state.counters["heap_per_pdu"] =
        static_cast<double>(HeapCalls() - heapBefore) / static_cast<double>(state.iterations());
}

void OursDecodeDeliver(benchmark::State& state) {
    const std::string& pdu = DeliverPdus()[static_cast<size_t>(state.range(0))];
    PduMessage message;
    const uint64_t heapBefore = HeapCalls();
    for (auto _ : state) {
        const int units = tidewire::DecodeDeliverPdu(pdu.data(), pdu.size(), message);
        benchmark::DoNotOptimize(units);
        benchmark::DoNotOptimize(message);
    }
    state.counters["heap_per_pdu"] =
        static_cast<double>(HeapCalls() - heapBefore) / static_cast<double>(state.iterations());
}

// --- libgammu --------------------------------------------------------------------------------

// GSM_EncodeSMSFrame writes each field at the offset a layout names. This layout puts them in
// the order of a PDU as AT+CMGS takes it, for numbers of 13 digits: service centre (length,
// type, 7 octets), first octet, message reference, destination (length, type, 7 octets), PID,
// DCS, validity period, user-data length, user data.
GSM_SMSMessageLayout PduSubmitLayout() {
    GSM_SMSMessageLayout layout;
    layout.SMSCNumber = 0;
    layout.firstbyte = 9;
    layout.TPMR = 10;
    layout.Number = 11;
    layout.TPPID = 20;
    layout.TPDCS = 21;
    layout.TPVP = 22;
    layout.TPUDL = 23;
    layout.Text = 24;
    layout.DateTime = 255;
    layout.SMSCTime = 255;
    layout.TPStatus = 255;
    return layout;
}

void PrepareGammuSubmit(GSM_SMSMessage& sms) {
    GSM_SetDefaultSMSData(&sms);
    sms.PDU = SMS_Submit;
    sms.Coding = SMS_Coding_Unicode_No_Compression;
    sms.Class = -1;
    sms.MessageReference = 0;
    sms.SMSC.Location = 0;
    sms.SMSC.Validity.Format = SMS_Validity_RelativeFormat;
    sms.SMSC.Validity.Relative = SMS_VALID_Max_Time;
    const std::string smsc = std::string("+") + kServiceCentre;
    const std::string number = std::string("+") + kDestination;
    EncodeUnicode(sms.SMSC.Number, smsc.c_str(), smsc.size());
    EncodeUnicode(sms.Number, number.c_str(), number.size());
}

// The submit frame as hex, or "" when libgammu refused it. Text conversion from host text is
// part of the work, as it is for this library's encoder.
size_t GammuEncodeSubmit(GSM_SMSMessage& sms, const GSM_SMSMessageLayout& layout, char* hex) {
    unsigned char frame[400];
    int length = 0;
    DecodeUTF8(sms.Text, kSubmitText, std::strlen(kSubmitText));
    sms.Length = static_cast<int>(UnicodeLength(sms.Text));
    if (GSM_EncodeSMSFrame(GSM_GetGlobalDebug(), &sms, frame, layout, &length, TRUE) != ERR_NONE) {
        return 0;
    }
    EncodeHexBin(hex, frame, static_cast<size_t>(length));
    return static_cast<size_t>(length) * 2;
}

void GammuEncodeSubmitBench(benchmark::State& state) {
    static GSM_SMSMessage sms;
    PrepareGammuSubmit(sms);
    const GSM_SMSMessageLayout layout = PduSubmitLayout();
    char hex[1024];
    const uint64_t heapBefore = HeapCalls();
    for (auto _ : state) {
        const size_t written = GammuEncodeSubmit(sms, layout, hex);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(hex);
    }
    state.counters["heap_per_pdu"] =
        static_cast<double>(HeapCalls() - heapBefore) / static_cast<double>(state.iterations());
}

// Hex to octets, the PDU decoded, and its text converted to host text (UTF-8): what this
// library's decoder hands back.
bool GammuDecodeDeliver(const std::string& pdu, GSM_SMSMessage& sms, char* text) {
    unsigned char frame[200];
    if (pdu.size() / 2 > sizeof frame ||
        !DecodeHexBin(frame, reinterpret_cast<const unsigned char*>(pdu.data()), pdu.size())) {
        return false;
    }
    if (GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms, frame, pdu.size() / 2, nullptr, TRUE) !=
        ERR_NONE) {
        return false;
    }
    if (sms.Coding == SMS_Coding_8bit) {
        std::memcpy(text, sms.Text, static_cast<size_t>(sms.Length));
        text[sms.Length] = '\0';
    } else {
        EncodeUTF8(text, sms.Text);
    }
    return true;
}

void GammuDecodeDeliverBench(benchmark::State& state) {
    const std::string& pdu = DeliverPdus()[static_cast<size_t>(state.range(0))];
    static GSM_SMSMessage sms;
    char text[2048];
    const uint64_t heapBefore = HeapCalls();
    for (auto _ : state) {
        const bool decoded = GammuDecodeDeliver(pdu, sms, text);
        benchmark::DoNotOptimize(decoded);
        benchmark::DoNotOptimize(text);
    }
    state.counters["heap_per_pdu"] =
        static_cast<double>(HeapCalls() - heapBefore) / static_cast<double>(state.iterations());
}

// Both encoders must build the same PDU from the same message, and both decoders read the
// same text from every PDU, or the comparison would be between different jobs.
bool SameWork() {
    bool same = true;
    PduMessage message;
    std::memset(&message, 0, sizeof message);
    std::snprintf(message.smsc, sizeof message.smsc, "%s", kServiceCentre);
    std::snprintf(message.number, sizeof message.number, "%s", kDestination);
    message.dcs = 0x08;
    std::snprintf(message.text, sizeof message.text, "%s", kSubmitText);
    char ours[512];
    const size_t oursLength = tidewire::EncodeSubmitPdu(message, ours, sizeof ours);
    static GSM_SMSMessage sms;
    PrepareGammuSubmit(sms);
    char peer[1024];
    const size_t peerLength = GammuEncodeSubmit(sms, PduSubmitLayout(), peer);
    if (oursLength == 0 || oursLength != peerLength || std::memcmp(ours, peer, oursLength) != 0) {
        std::printf("submit PDUs differ:\n  ours   %.*s\n  gammu  %.*s\n",
                    static_cast<int>(oursLength), ours, static_cast<int>(peerLength), peer);
        same = false;
    }
    for (int kind = 0; kind < kKindCount; ++kind) {
        const std::string& pdu = DeliverPdus()[static_cast<size_t>(kind)];
        PduMessage decoded;
        const int units = tidewire::DecodeDeliverPdu(pdu.data(), pdu.size(), decoded);
        char text[2048] = {};
        const bool peerDecoded = GammuDecodeDeliver(pdu, sms, text);
        if (units <= 0 || !peerDecoded || std::strcmp(decoded.text, text) != 0) {
            std::printf("%s: decoders differ (ours %d units \"%s\", gammu %s \"%s\")\n",
                        kKinds[kind].name, units, decoded.text, peerDecoded ? "ok" : "refused",
                        text);
            same = false;
        }
    }
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    // Host text is UTF-8 on both sides.
    std::setlocale(LC_ALL, "C.UTF-8");
    for (const DeliverKind& kind : kKinds) {
        DeliverPdus().push_back(DeliverPduOf(kind));
    }
    const bool same = SameWork();

    benchmark::RegisterBenchmark("codec/ours/encode_submit_ucs2", OursEncodeSubmit);
    benchmark::RegisterBenchmark("codec/gammu/encode_submit_ucs2", GammuEncodeSubmitBench);
    for (int kind = 0; kind < kKindCount; ++kind) {
        const std::string suffix = std::string("decode_deliver_") + kKinds[kind].name;
        benchmark::RegisterBenchmark(("codec/ours/" + suffix).c_str(), OursDecodeDeliver)
            ->Arg(kind);
        benchmark::RegisterBenchmark(("codec/gammu/" + suffix).c_str(), GammuDecodeDeliverBench)
            ->Arg(kind);
    }
    tidewire::bench::KeepingReporter reporter;
    tidewire::bench::RunAll(argc, argv, reporter);

    tidewire::bench::BudgetTable table("codec against libgammu (ratio = gammu ns / ours ns)");
    table.Line("same PDUs and texts from both codecs", same ? "yes" : "no", "yes", same);
    std::vector<std::string> kinds = {"encode_submit_ucs2"};
    for (const DeliverKind& kind : kKinds) {
        kinds.push_back(std::string("decode_deliver_") + kind.name);
    }
    for (size_t i = 0; i < kinds.size(); ++i) {
        const std::string arg = i == 0 ? "" : "/" + std::to_string(i - 1);
        const std::string oursName = "codec/ours/" + kinds[i] + arg;
        const std::string peerName = "codec/gammu/" + kinds[i] + arg;
        const double ours = reporter.NanosPerIteration(oursName);
        const double peer = reporter.NanosPerIteration(peerName);
        if (ours <= 0 || peer <= 0) {
            continue;  // filtered out on the command line
        }
        const double ratio = peer / ours;
        table.Line(kinds[i] + " speed vs gammu",
                   Format("%.2fx", ratio) + Format(" (%.0f ns", ours) + Format("/%.0f ns)", peer),
                   ">= 2.00x", ratio >= 2.0);
        const double heap = reporter.Counter(oursName, "heap_per_pdu");
        table.Line(kinds[i] + " heap calls per PDU",
                   Format("%.3f", heap) +
                       Format(" (gammu %.3f)", reporter.Counter(peerName, "heap_per_pdu")),
                   "0", heap == 0.0);
    }
    return table.Finish() == 0 ? 0 : 1;
}
