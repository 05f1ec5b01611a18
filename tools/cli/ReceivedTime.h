// The time of a received record as ISO 8601, whatever the module family wrote.
#ifndef TIDEWIRE_TOOLS_CLI_RECEIVEDTIME_H
#define TIDEWIRE_TOOLS_CLI_RECEIVEDTIME_H

#include <optional>
#include <string>

namespace tidewire::cli {

// "yyyy-mm-ddThh:mm:ss" from the record's time stamp: "yyyy-mm-dd hh:mm:ss" (GSM modules, types
// 860 and 865), "yyyy/mm/dd hh:mm:ss" (type 870) or "yy/mm/dd,hh:mm:ss" (a module's own text
// mode). The modules give local time without a zone, so none is added. Nothing for another form.
std::optional<std::string> IsoTime(const std::string& timestamp);

}  // namespace tidewire::cli

#endif
