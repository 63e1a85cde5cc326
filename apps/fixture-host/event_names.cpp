#include "event_names.h"

#include <array>

namespace fixture_host {
namespace {

using namespace kivimap;

constexpr std::array<EventInfo, 18> kEvents = {{
    {EventConnecting, "Connecting", true},
    {EventCommand, "Command", false},
    {EventConnected, "Connected", true},
    {EventDisconnected, "Disconnected", false},
    {EventStateChange, "StateChange", false},
    {EventListFolders, "ListFolders", false},
    {EventSubscribeFolder, "SubscribeFolder", false},
    {EventCreateFolder, "CreateFolder", true},
    {EventDeleteFolder, "DeleteFolder", true},
    {EventMoveFolder, "MoveFolder", true},
    {EventListMessages, "ListMessages", false},
    {EventReadMessage, "ReadMessage", false},
    {EventFlagChange, "FlagChange", false},
    {EventCopyMessage, "CopyMessage", true},
    {EventMoveMessage, "MoveMessage", true},
    {EventDeleteMessage, "DeleteMessage", true},
    {EventWriteMessage, "WriteMessage", true},
    {EventCreateMessage, "CreateMessage", true},
}};

}  // namespace

const EventInfo* AllEvents(std::size_t* count) {
  *count = kEvents.size();
  return kEvents.data();
}

const EventInfo* FindEvent(std::string_view name) {
  for (const EventInfo& e : kEvents) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

const EventInfo& EventById(ImapServerEventId id) {
  // Ids run 1..18 in table order.
  return kEvents[static_cast<std::size_t>(id) - 1];
}

}  // namespace fixture_host
