// UserHost: the server that accepted a user, as the user sees it. The user reaches the
// dispatcher, the events and the server's settings only through this interface, implemented by
// the server object, so that this layer knows nothing of IMAP parsing or of the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kivimap/interfaces.h"
#include "kivimap/output_limits.h"
#include "transport/user_socket.h"

namespace kivimap::store {

class ImapUser;
class ImapUsers;

class UserHost {
 public:
  virtual IkivImapServer* Server() = 0;
  // The server's users collection.
  virtual ImapUsers& Users() = 0;

  // A line or literal chunk received on the user's connection, and the resumption of a command
  // it parked (see ConnectionOwner). Closed: the server, the user or its connection may be gone.
  virtual transport::CommandResult DispatchReceived(ImapUser& user, const char* data,
                                                    std::size_t n) = 0;
  virtual transport::CommandResult ResumeParked(ImapUser& user) = 0;

  // Events fired for the user. Each returns whether the server outlived the event; when it did
  // not, the caller touches neither the server nor anything the server owned.
  virtual bool FireStateChange(ImapUser& user, std::int32_t new_state, std::int32_t old_state) = 0;
  virtual bool FireDisconnected(ImapUser& user) = 0;

  // The server's Timeout property, in seconds.
  virtual std::int32_t Timeout() = 0;
  virtual OutputLimits ConnectionLimits() = 0;
  virtual bool DebugLogEnabled() = 0;
  virtual void DebugLog(std::string_view text) = 0;

 protected:
  virtual ~UserHost() = default;
};

}  // namespace kivimap::store
