// ServerContext: what the protocol engine needs of the server that accepted a connection. The
// server object implements it; the engine never sees the server's class.
#pragma once

#include <cstdint>
#include <string_view>

#include "kivimap/interfaces.h"
#include "store/user.h"

namespace kivimap::imap {

class ServerContext {
 public:
  // One wrapper per event the engine fires. Each returns true when both the server and the user
  // outlived the event (the host may release the server, stop it or drop the user inside any
  // event); on false the caller sends nothing more, touches neither, and reports stop.
  virtual bool FireCommand(store::ImapUser& user, WideString* command) = 0;
  virtual bool FireConnected(store::ImapUser& user, const WideString& username,
                             const WideString& password, std::int32_t* action) = 0;
  virtual bool FireListFolders(store::ImapUser& user, IImapFolder* parent) = 0;
  virtual bool FireSubscribeFolder(store::ImapUser& user, IImapFolder* folder) = 0;
  virtual bool FireCreateFolder(store::ImapUser& user, IImapFolder* parent, const WideString& name,
                                std::int32_t* action) = 0;
  virtual bool FireDeleteFolder(store::ImapUser& user, IImapFolder* parent, IImapFolder* folder,
                                std::int32_t* action) = 0;
  virtual bool FireMoveFolder(store::ImapUser& user, IImapFolder* parent, IImapFolder* folder,
                              IImapFolder* destination, const WideString& destination_name,
                              std::int32_t* action) = 0;
  virtual bool FireListMessages(store::ImapUser& user, IImapFolder* folder) = 0;
  virtual bool FireReadMessage(store::ImapUser& user, IImapFolder* folder,
                               IImapMessage* message) = 0;
  virtual bool FireFlagChange(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                              std::int32_t new_flags, std::int32_t old_flags) = 0;
  virtual bool FireCopyMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                               IImapFolder* destination, std::int32_t* action) = 0;
  virtual bool FireDeleteMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                                 std::int32_t* action) = 0;
  virtual bool FireWriteMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                                std::int32_t* action) = 0;
  virtual bool FireCreateMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                                 std::int32_t* action) = 0;

  // False while no event sink is connected: an event would then change nothing.
  virtual bool HasEventSinks() = 0;
  // The host chose the modern protocol level (kivimap/protocol_level.h).
  virtual bool ModernProtocol() = 0;

  virtual WideString GoodbyeMessage() = 0;
  virtual bool DebugLogEnabled() = 0;
  // Appends text up to its first NUL to the debug log.
  virtual void DebugLog(std::string_view text) = 0;

 protected:
  virtual ~ServerContext() = default;
};

}  // namespace kivimap::imap
