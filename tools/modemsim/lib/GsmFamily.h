// Family 666: a GSM module with the standard message commands, in PDU and text mode.
#pragma once

#include "ModemFamily.h"

namespace tidewire::sim {

class GsmFamily : public ModemFamily {
  public:
    GsmFamily();

    CommandResult FinishEntry(ModemState& state, const TextEntry& entry,
                              std::string_view body) const override;
    std::string NewMessageIndication(const ModemState& state, int index) const override;
    InjectResult DeliverStatusReport(ModemState& state, const std::string& pduHex) const override;

  private:
    static CommandResult FinishPduMessage(ModemState& state, const TextEntry& entry,
                                          std::string_view body);
    static CommandResult FinishTextMessage(ModemState& state, const TextEntry& entry,
                                           std::string_view body);
};

}  // namespace tidewire::sim
