#include "event_names.h"

#include <algorithm>

namespace fixture_host {
namespace {

using namespace kivimap;

// In dispatch-id order.
constexpr EventInfo kEvents[] = {
    {EventConnecting, "Connecting", {"User", "Action"}},
    {EventCommand, "Command", {"User", "Command"}},
    {EventConnected, "Connected", {"User", "Username", "Password", "Action"}},
    {EventDisconnected, "Disconnected", {"User"}},
    {EventStateChange, "StateChange", {"User", "NewState", "OldState"}},
    {EventListFolders, "ListFolders", {"User", "ParentFolder"}},
    {EventSubscribeFolder, "SubscribeFolder", {"User", "Folder"}},
    {EventCreateFolder, "CreateFolder", {"User", "ParentFolder", "Name", "Action"}},
    {EventDeleteFolder, "DeleteFolder", {"User", "ParentFolder", "Folder", "Action"}},
    {EventMoveFolder,
     "MoveFolder",
     {"User", "ParentFolder", "Folder", "DestinationFolder", "DestinationName", "Action"}},
    {EventListMessages, "ListMessages", {"User", "Folder"}},
    {EventReadMessage, "ReadMessage", {"User", "Folder", "Message"}},
    {EventFlagChange, "FlagChange", {"User", "Folder", "Message", "NewFlags", "OldFlags"}},
    {EventCopyMessage, "CopyMessage", {"User", "Folder", "Message", "Destination", "Action"}},
    {EventMoveMessage, "MoveMessage", {"User", "Folder", "Message", "Destination", "Action"}},
    {EventDeleteMessage, "DeleteMessage", {"User", "Folder", "Message", "Action"}},
    {EventWriteMessage, "WriteMessage", {"User", "Folder", "Message", "Action"}},
    {EventCreateMessage, "CreateMessage", {"User", "Folder", "Message", "Action"}},
};

}  // namespace

bool EventInfo::has_action() const {
  return std::find(arguments.begin(), arguments.end(), "Action") != arguments.end();
}

const EventInfo* FindEvent(std::string_view name) {
  for (const EventInfo& e : kEvents) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

const EventInfo& EventById(ImapServerEventId id) {
  return kEvents[static_cast<std::size_t>(id) - 1];  // ids run 1..18 in table order
}

}  // namespace fixture_host
