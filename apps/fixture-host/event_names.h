// The events of the server by name, as fixtures and the events log spell them.
#pragma once

#include <string_view>

#include "kivimap/events.h"

namespace fixture_host {

struct EventInfo {
  kivimap::ImapServerEventId id;
  std::string_view name;
  bool has_action;  // the event passes Action by reference
};

// Every event, in dispatch-id order.
const EventInfo* AllEvents(std::size_t* count);
// nullptr for a name that is no event (names are compared exactly).
const EventInfo* FindEvent(std::string_view name);
const EventInfo& EventById(kivimap::ImapServerEventId id);

}  // namespace fixture_host
