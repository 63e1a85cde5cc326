// The events of the server by name, as fixtures and the events log spell them.
#pragma once

#include <array>
#include <string_view>

#include "kivimap/events.h"

namespace fixture_host {

struct EventInfo {
  kivimap::ImapServerEventId id;
  std::string_view name;
  // The event's arguments in order, by the names the events log gives them; unused ones empty.
  std::array<std::string_view, 6> arguments;

  bool has_action() const;  // the event passes Action by reference
};

// nullptr for a name that is no event (names are compared exactly).
const EventInfo* FindEvent(std::string_view name);
const EventInfo& EventById(kivimap::ImapServerEventId id);

}  // namespace fixture_host
