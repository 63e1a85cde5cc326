// The events of the server, one wrapper each (MoveMessage is declared but never fired).
#include <utility>

#include "kivimap/events.h"
#include "server/imap_server.h"

namespace kivimap::server {

namespace {

Variant Object(IDispatch* object) { return Variant(object); }
Variant Object(store::ImapUser& user) { return Variant(static_cast<IDispatch*>(&user)); }

}  // namespace

template <class... Args>
bool CkivImapServer::ServerSurvives(DispId id, Args&&... args) {
  // Built in place: the callers' temporaries are moved from and hold no reference afterwards.
  std::vector<Variant> list;
  list.reserve(sizeof...(args));
  (list.emplace_back(std::forward<Args>(args)), ...);
  AddRef();
  events_.Fire(id, list);
  list.clear();
  const std::uint32_t count = RefCount();
  Release();
  return count > 1;
}

template <class... Args>
bool CkivImapServer::BothSurvive(store::ImapUser& user, DispId id, Args&&... args) {
  const automation::Liveness user_alive(&user);
  const bool server_survives = ServerSurvives(id, std::forward<Args>(args)...);
  return server_survives && user_alive.alive() && user.connection() != nullptr;
}

bool CkivImapServer::FireConnecting(store::ImapUser& user, std::int32_t* action) {
  return ServerSurvives(EventConnecting, Object(user), Variant::ByRef(action));
}

bool CkivImapServer::FireCommand(store::ImapUser& user, WideString* command) {
  return BothSurvive(user, EventCommand, Object(user), Variant::ByRef(command));
}

bool CkivImapServer::FireConnected(store::ImapUser& user, const WideString& username,
                                   const WideString& password, std::int32_t* action) {
  return BothSurvive(user, EventConnected, Object(user), Variant(username), Variant(password),
                     Variant::ByRef(action));
}

bool CkivImapServer::FireDisconnected(store::ImapUser& user) {
  return ServerSurvives(EventDisconnected, Object(user));
}

bool CkivImapServer::FireStateChange(store::ImapUser& user, std::int32_t new_state,
                                     std::int32_t old_state) {
  return ServerSurvives(EventStateChange, Object(user), Variant(new_state), Variant(old_state));
}

bool CkivImapServer::FireListFolders(store::ImapUser& user, IImapFolder* parent) {
  return BothSurvive(user, EventListFolders, Object(user), Object(parent));
}

bool CkivImapServer::FireSubscribeFolder(store::ImapUser& user, IImapFolder* folder) {
  return BothSurvive(user, EventSubscribeFolder, Object(user), Object(folder));
}

bool CkivImapServer::FireCreateFolder(store::ImapUser& user, IImapFolder* parent,
                                      const WideString& name, std::int32_t* action) {
  return BothSurvive(user, EventCreateFolder, Object(user), Object(parent), Variant(name),
                     Variant::ByRef(action));
}

bool CkivImapServer::FireDeleteFolder(store::ImapUser& user, IImapFolder* parent,
                                      IImapFolder* folder, std::int32_t* action) {
  return BothSurvive(user, EventDeleteFolder, Object(user), Object(parent), Object(folder),
                     Variant::ByRef(action));
}

bool CkivImapServer::FireMoveFolder(store::ImapUser& user, IImapFolder* parent, IImapFolder* folder,
                                    IImapFolder* destination, const WideString& destination_name,
                                    std::int32_t* action) {
  return BothSurvive(user, EventMoveFolder, Object(user), Object(parent), Object(folder),
                     Object(destination), Variant(destination_name), Variant::ByRef(action));
}

bool CkivImapServer::FireListMessages(store::ImapUser& user, IImapFolder* folder) {
  return BothSurvive(user, EventListMessages, Object(user), Object(folder));
}

bool CkivImapServer::FireReadMessage(store::ImapUser& user, IImapFolder* folder,
                                     IImapMessage* message) {
  return BothSurvive(user, EventReadMessage, Object(user), Object(folder), Object(message));
}

bool CkivImapServer::FireFlagChange(store::ImapUser& user, IImapFolder* folder,
                                    IImapMessage* message, std::int32_t new_flags,
                                    std::int32_t old_flags) {
  return BothSurvive(user, EventFlagChange, Object(user), Object(folder), Object(message),
                     Variant(new_flags), Variant(old_flags));
}

bool CkivImapServer::FireCopyMessage(store::ImapUser& user, IImapFolder* folder,
                                     IImapMessage* message, IImapFolder* destination,
                                     std::int32_t* action) {
  return BothSurvive(user, EventCopyMessage, Object(user), Object(folder), Object(message),
                     Object(destination), Variant::ByRef(action));
}

bool CkivImapServer::FireDeleteMessage(store::ImapUser& user, IImapFolder* folder,
                                       IImapMessage* message, std::int32_t* action) {
  return BothSurvive(user, EventDeleteMessage, Object(user), Object(folder), Object(message),
                     Variant::ByRef(action));
}

bool CkivImapServer::FireWriteMessage(store::ImapUser& user, IImapFolder* folder,
                                      IImapMessage* message, std::int32_t* action) {
  return BothSurvive(user, EventWriteMessage, Object(user), Object(folder), Object(message),
                     Variant::ByRef(action));
}

bool CkivImapServer::FireCreateMessage(store::ImapUser& user, IImapFolder* folder,
                                       IImapMessage* message, std::int32_t* action) {
  return BothSurvive(user, EventCreateMessage, Object(user), Object(folder), Object(message),
                     Variant::ByRef(action));
}

}  // namespace kivimap::server
