// The CDMA families 870, 860 and 865: their identification, set-up, sending, store reading and
// deletion commands. Their replies are laid out in tools/modemsim/README.md.
#pragma once

#include "ModemFamily.h"

namespace tidewire::sim {

// What the three families share: what a CDMA network can deliver to them.
class CdmaFamily : public ModemFamily {
  public:
    std::vector<std::string> BuildDelivery(const IncomingMessage& message,
                                           const DeliverOptions& options) const override;
    std::string RefusePdu(std::string_view hex, bool checked) const override;

  protected:
    using ModemFamily::ModemFamily;
};

// A CDMA module with a text-mode command set; its model text carries "199" but not
// "MODEL 199". It picks the body's encoding with AT+ZMSGL, takes the body after AT+CMGS
// (ASCII ended by Ctrl-Z, or raw UCS-2 ended by 00 1A) and lists and reads its store in text
// mode with the body, raw, on the line after each header.
class Family870 : public CdmaFamily {
  public:
    Family870();

    CommandResult FinishEntry(ModemState& state, const TextEntry& entry,
                              std::string_view body) const override;
    std::string NewMessageIndication(const ModemState& state, int index) const override;
};

// A CDMA module whose model text carries "MODEL 100"; set up with at$smstype and at$mtrpttype.
// It sends with at$smsmo0 ($SMSMOACK / $SMSMONAK), hands out its oldest message with
// at$smsmt0? (body hex in quotes) and deletes the message it handed out with at$delmt=0.
class Family860 : public CdmaFamily {
  public:
    Family860();
};

// A CDMA module whose model text carries "MODEL 199"; it needs no set-up. It sends with
// at$smsmo ($006, or another $0nn code), hands out its oldest unread message with
// at$smsmt=1? (body hex to the line end) and marks it read. It has no delete command: when
// the store is full a new message takes the place of the oldest read one.
class Family865 : public CdmaFamily {
  public:
    Family865();

    void MakeRoom(ModemState& state, int needed) const override;
};

}  // namespace tidewire::sim
