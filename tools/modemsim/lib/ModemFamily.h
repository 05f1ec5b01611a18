// A module family: the model text it answers to AT+GMM and the table of commands it knows.
// Families share the identification commands; each adds its own message commands.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AtCommandLine.h"
#include "DeliverPdu.h"
#include "ModemState.h"

namespace tidewire::sim {

// A message body the module waits for after its "> " prompt.
struct TextEntry {
    // RawUcs2: UCS-2 bytes, high byte first, taken in pairs and ended by the pair 00 1A (00 1B
    // cancels), so that a character such as U+4E1A, whose low byte is Ctrl-Z, stays in the text.
    enum class Kind { TextMode, PduMode, RawUcs2 };
    Kind kind = Kind::TextMode;
    std::string destination;  // text mode: the number, already decoded from the TE charset
    int pduLength = 0;        // PDU mode: the TPDU octets the host announced
};

struct CommandResult {
    enum class Kind { Ok, Error, CmsError, CmeError, Prompt };
    Kind kind = Kind::Ok;
    int code = 0;                    // for CmsError and CmeError
    std::vector<std::string> lines;  // information text, one entry per line
    TextEntry entry;                 // for Prompt

    static CommandResult Ok(std::vector<std::string> lines = {});
    static CommandResult Error();
    static CommandResult Cms(int code);
    static CommandResult Cme(int code);
    static CommandResult Prompt(TextEntry entry);
};

// Result codes of message commands, by their numbers.
namespace cms {
inline constexpr int kMeFailure = 300;
inline constexpr int kOperationNotAllowed = 302;
inline constexpr int kOperationNotSupported = 303;
inline constexpr int kInvalidPduParameter = 304;
inline constexpr int kInvalidTextParameter = 305;
inline constexpr int kSimNotInserted = 310;
inline constexpr int kInvalidMemoryIndex = 321;
inline constexpr int kMemoryFull = 322;
inline constexpr int kNoNetworkService = 331;
inline constexpr int kUnknownError = 500;
}  // namespace cms

namespace cme {
inline constexpr int kOperationNotAllowed = 3;
inline constexpr int kOperationNotSupported = 4;
inline constexpr int kSimNotInserted = 10;
inline constexpr int kInvalidCharacters = 25;
inline constexpr int kUnknown = 100;
}  // namespace cme

class ModemFamily {
  public:
    using Handler = std::function<CommandResult(ModemState&, const AtCommand&)>;

    virtual ~ModemFamily() = default;
    ModemFamily(const ModemFamily&) = delete;
    ModemFamily& operator=(const ModemFamily&) = delete;

    int Code() const { return code_; }
    const std::string& ModelText() const { return modelText_; }

    // Unknown commands are answered ERROR, as modules do.
    CommandResult Execute(ModemState& state, const AtCommand& command) const;
    // The body after the prompt, Ctrl-Z not included.
    virtual CommandResult FinishEntry(ModemState& state, const TextEntry& entry,
                                      std::string_view body) const;
    // What the module prints on its own when a message lands in its store ("" for nothing).
    virtual std::string NewMessageIndication(const ModemState& state, int index) const;

    // The store entries (DELIVER PDUs, one per part) for a message the network delivers.
    // Throws std::invalid_argument when this module cannot take the message.
    virtual std::vector<std::string> BuildDelivery(const IncomingMessage& message,
                                                   const DeliverOptions& options) const;
    // Why this module cannot take a PDU given by hand ("" when it can); checked says whether
    // the hex was already found to be a well-formed SMS-DELIVER.
    virtual std::string RefusePdu(std::string_view hex, bool checked) const;
    // Called when `needed` more messages do not fit the store; a module that recycles read
    // messages removes some here.
    virtual void MakeRoom(ModemState& state, int needed) const;
    // Takes an SMS-STATUS-REPORT (hex, service-centre part first) from the network, which the
    // caller has found the module in: stores it or indicates it, as the module's settings say.
    // Modules without status reports refuse.
    virtual InjectResult DeliverStatusReport(ModemState& state, const std::string& pduHex) const;

  protected:
    ModemFamily(int code, std::string modelText);
    void Route(const std::string& name, Handler handler);

  private:
    int code_;
    std::string modelText_;
    std::map<std::string, Handler> routes_;
};

// Throws std::invalid_argument for a family code other than 666, 870, 860 and 865.
std::unique_ptr<ModemFamily> MakeFamily(int code);

// Identification texts shared by the families.
inline constexpr std::string_view kManufacturer = "TIDEWIRE";
inline constexpr std::string_view kRevision = "TWM-R2.04.11 2024/03/18";
// The last digit is the Luhn check digit, as in a real IMEI.
inline constexpr std::string_view kImei = "861234567890127";
inline constexpr std::string_view kImsi = "460001234567890";

}  // namespace tidewire::sim
