// An event sink for tests: records every event it receives and runs what a test asks of it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kivimap/kivimap.h"

namespace kivimap::testing {

class RecordingSink : public ImapServerEvents {
 public:
  // "Connecting", "Command a1 NOOP", "Connected user pass", "Disconnected",
  // "StateChange 2 1", "ListFolders root".
  std::vector<std::string> log;

  std::function<void(IImapUser*, std::int32_t*)> on_connecting;
  std::function<void(IImapUser*, WideString*)> on_command;
  std::function<void(IImapUser*, std::int32_t*)> on_connected;
  std::function<void(IImapUser*)> on_disconnected;
  std::function<void(IImapUser*)> on_state_change;
  std::function<void(IImapUser*)> on_list_folders;

  void OnConnecting(IImapUser* user, std::int32_t* action) override {
    log.push_back("Connecting " + std::to_string(*action));
    if (on_connecting) on_connecting(user, action);
  }
  void OnCommand(IImapUser* user, WideString* command) override {
    log.push_back("Command " + command->ToNarrow());
    if (on_command) on_command(user, command);
  }
  void OnConnected(IImapUser* user, const WideString& username, const WideString& password,
                   std::int32_t* action) override {
    log.push_back("Connected " + username.ToNarrow() + " " + password.ToNarrow() + " " +
                  std::to_string(*action));
    if (on_connected) on_connected(user, action);
  }
  void OnDisconnected(IImapUser* user) override {
    log.push_back("Disconnected");
    if (on_disconnected) on_disconnected(user);
  }
  void OnStateChange(IImapUser* user, std::int32_t new_state, std::int32_t old_state) override {
    log.push_back("StateChange " + std::to_string(new_state) + " " + std::to_string(old_state));
    if (on_state_change) on_state_change(user);
  }
  void OnListFolders(IImapUser* user, IImapFolder* parent) override {
    log.push_back(parent ? "ListFolders folder" : "ListFolders root");
    if (on_list_folders) on_list_folders(user);
  }

  // The entries that start with prefix.
  std::vector<std::string> Entries(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : log) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
};

}  // namespace kivimap::testing
