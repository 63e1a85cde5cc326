// The fixture host's event sink: logs every event, fills the object model from the mail store
// like a real host, applies the fixture's "actions" and "script", and then, when the event is
// allowed, makes the change it asks for (a folder created, deleted or moved, a message removed,
// created or kept) in the store and the object model.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <variant>

#include "event_log.h"
#include "fixture.h"
#include "kivimap/kivimap.h"
#include "mail_store.h"

namespace fixture_host {

// What the sink shares with the rest of the host: the one reference the host holds on the
// server. ReleaseServer empties it; from then on nothing may touch the server.
struct HostServer {
  kivimap::Ref<kivimap::IkivImapServer> server;
};

// One argument of an event as the sink received it: Action and Command by reference.
using EventArgument =
    std::variant<kivimap::IImapUser*, kivimap::IImapFolder*, kivimap::IImapMessage*, std::int32_t,
                 const kivimap::WideString*, kivimap::WideString*, std::int32_t*>;

class FixtureSink final : public kivimap::ImapServerEvents {
 public:
  FixtureSink(const Fixture& fixture, MailStore* store, EventLog* log, HostServer* host)
      : fixture_(fixture), store_(store), log_(log), host_(host) {}

  void OnConnecting(kivimap::IImapUser* user, std::int32_t* action) override;
  void OnCommand(kivimap::IImapUser* user, kivimap::WideString* command) override;
  void OnConnected(kivimap::IImapUser* user, const kivimap::WideString& username,
                   const kivimap::WideString& password, std::int32_t* action) override;
  void OnDisconnected(kivimap::IImapUser* user) override;
  void OnStateChange(kivimap::IImapUser* user, std::int32_t new_state,
                     std::int32_t old_state) override;
  void OnListFolders(kivimap::IImapUser* user, kivimap::IImapFolder* parent) override;
  void OnSubscribeFolder(kivimap::IImapUser* user, kivimap::IImapFolder* folder) override;
  void OnCreateFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                      const kivimap::WideString& name, std::int32_t* action) override;
  void OnDeleteFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                      kivimap::IImapFolder* folder, std::int32_t* action) override;
  void OnMoveFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                    kivimap::IImapFolder* folder, kivimap::IImapFolder* destination_folder,
                    const kivimap::WideString& destination_name, std::int32_t* action) override;
  void OnListMessages(kivimap::IImapUser* user, kivimap::IImapFolder* folder) override;
  void OnReadMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                     kivimap::IImapMessage* message) override;
  void OnFlagChange(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                    kivimap::IImapMessage* message, std::int32_t new_flags,
                    std::int32_t old_flags) override;
  void OnCopyMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                     kivimap::IImapMessage* message, kivimap::IImapFolder* destination,
                     std::int32_t* action) override;
  void OnMoveMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                     kivimap::IImapMessage* message, kivimap::IImapFolder* destination,
                     std::int32_t* action) override;
  void OnDeleteMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                       kivimap::IImapMessage* message, std::int32_t* action) override;
  void OnWriteMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                      kivimap::IImapMessage* message, std::int32_t* action) override;
  void OnCreateMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                       kivimap::IImapMessage* message, std::int32_t* action) override;

 private:
  ~FixtureSink() override = default;

  // Logs the event with its arguments (the first is the user), lets the store fill what the
  // event asks for, then counts the firing and applies the fixture's action for the event and
  // every script entry for this firing, in fixture order. Last, if the Action left is not Deny
  // and the host still holds the server, runs `allowed`, which may still refuse (set Deny).
  void Handle(kivimap::ImapServerEventId id, std::initializer_list<EventArgument> args,
              const std::function<void()>& fill_store = nullptr,
              const std::function<void(std::int32_t* action)>& allowed = nullptr);
  void Perform(const ScriptEntry& entry, std::int64_t nth, kivimap::IImapUser* user,
               std::int32_t* action, kivimap::WideString* command);
  void LogUsers();

  const Fixture& fixture_;
  MailStore* store_;
  EventLog* log_;
  HostServer* host_;
  std::int64_t firings_[19] = {};  // by event id
};

}  // namespace fixture_host
