#include "fixture_sink.h"

#include <string_view>

#include "json_writer.h"

namespace fixture_host {

using kivimap::IImapFolder;
using kivimap::IImapMessage;
using kivimap::IImapUser;
using kivimap::ImapServerEventId;
using kivimap::WideString;

namespace {

void WriteUser(IImapUser* user, JsonWriter* w) {
  if (!user) {
    w->Null();
    return;
  }
  WideString hostname, username;
  user->get_Hostname(&hostname);
  user->get_Username(&username);
  w->BeginObject().Key("Hostname").Wide(hostname).Key("Username").Wide(username).EndObject();
}

// One line of the events log: {"event": NAME, ...arguments by their event-table names}.
class EventLine {
 public:
  EventLine(EventLog* log, ImapServerEventId id) : log_(log->is_open() ? log : nullptr) {
    if (log_) w_.BeginObject().Key("event").Utf8(EventById(id).name);
  }
  EventLine& User(IImapUser* user) {
    if (log_) {
      w_.Key("User");
      WriteUser(user, &w_);
    }
    return *this;
  }
  EventLine& Folder(std::string_view key, IImapFolder* folder) {
    if (!log_) return *this;
    w_.Key(key);
    WideString path;
    if (folder && kivimap::Succeeded(folder->get_Path(&path))) {
      w_.Wide(path);
    } else {
      w_.Null();
    }
    return *this;
  }
  EventLine& Message(IImapMessage* message) {
    if (!log_) return *this;
    w_.Key("Message");
    std::int32_t uid = 0;
    if (message && kivimap::Succeeded(message->get_UID(&uid))) {
      w_.Int(uid);
    } else {
      w_.Null();
    }
    return *this;
  }
  EventLine& Int(std::string_view key, std::int32_t value) {
    if (log_) w_.Key(key).Int(value);
    return *this;
  }
  EventLine& Text(std::string_view key, const WideString& value) {
    if (log_) w_.Key(key).Wide(value);
    return *this;
  }
  EventLine& Action(const std::int32_t* action) {
    if (log_) w_.Key("Action").Int(action ? *action : 0);
    return *this;
  }
  void Write() {
    if (!log_) return;
    w_.EndObject();
    log_->WriteLine(w_.str());
  }

 private:
  EventLog* log_;
  JsonWriter w_;
};

}  // namespace

void FixtureSink::React(ImapServerEventId id, IImapUser* user, std::int32_t* action,
                        WideString* command) {
  const std::int64_t nth = ++firings_[id];
  if (action && fixture_.actions[id]) *action = *fixture_.actions[id];
  for (const ScriptEntry& entry : fixture_.script) {
    if (entry.on->id == id && entry.nth == nth) Perform(entry, nth, user, action, command);
  }
}

void FixtureSink::Perform(const ScriptEntry& entry, std::int64_t nth, IImapUser* user,
                          std::int32_t* action, WideString* command) {
  kivimap::Status status = kivimap::StatusOk;
  switch (entry.action) {
    case ScriptAction::Allow:
      if (action) *action = kivimap::Allow;
      break;
    case ScriptAction::Deny:
      if (action) *action = kivimap::Deny;
      break;
    case ScriptAction::Disconnect:
      if (user) status = user->Disconnect();
      break;
    case ScriptAction::Stop:
      if (host_->server) status = host_->server->Stop();
      break;
    case ScriptAction::ReleaseServer:
      // The component holds its own reference for the duration of the event; the server ends
      // when the event returns. The host never touches it again.
      host_->server.Reset();
      break;
    case ScriptAction::ReplaceCommand:
      if (command) *command = kivimap::ToWide(entry.text);
      break;
    case ScriptAction::DumpTree:
      LogTree(user);
      break;
    case ScriptAction::DumpUsers:
      LogUsers();
      break;
  }
  if (log_->is_open()) {
    JsonWriter w;
    w.BeginObject().Key("event").Utf8("Script").Key("on").Utf8(entry.on->name);
    w.Key("nth").Int(nth).Key("do").Utf8(ScriptActionName(entry.action));
    w.Key("Status").Int(status).EndObject();
    log_->WriteLine(w.str());
  }
}

void FixtureSink::LogTree(IImapUser* user) {
  if (!log_->is_open()) return;
  JsonWriter w;
  w.BeginObject().Key("event").Utf8("Tree").Key("User");
  WriteUser(user, &w);
  w.Key("folders");
  MailStore::WriteTree(user, &w);
  w.EndObject();
  log_->WriteLine(w.str());
}

void FixtureSink::LogUsers() {
  if (!log_->is_open()) return;
  JsonWriter w;
  w.BeginObject().Key("event").Utf8("Users");
  kivimap::Ref<kivimap::IImapUsers> users;
  if (!host_->server || kivimap::Failed(host_->server->get_Users(&users)) || !users) {
    w.Key("Count").Null().EndObject();
    log_->WriteLine(w.str());
    return;
  }
  std::int16_t count = 0;
  users->get_Count(&count);
  w.Key("Count").Int(count).Key("Users").BeginArray();
  for (std::int16_t i = 0; i < count; ++i) {
    kivimap::Ref<IImapUser> user;
    if (kivimap::Failed(users->get_Item(i, &user)) || !user) continue;
    std::int16_t index = -1;
    const kivimap::Status index_status = user->get_Index(&index);
    w.BeginObject();
    WideString hostname, username;
    user->get_Hostname(&hostname);
    user->get_Username(&username);
    w.Key("Hostname").Wide(hostname).Key("Username").Wide(username);
    w.Key("Index");
    if (kivimap::Succeeded(index_status)) {
      w.Int(index);
    } else {
      w.Null();
    }
    w.EndObject();
  }
  w.EndArray().EndObject();
  log_->WriteLine(w.str());
}

void FixtureSink::OnConnecting(IImapUser* user, std::int32_t* action) {
  EventLine(log_, kivimap::EventConnecting).User(user).Action(action).Write();
  React(kivimap::EventConnecting, user, action, nullptr);
}

void FixtureSink::OnCommand(IImapUser* user, WideString* command) {
  EventLine(log_, kivimap::EventCommand).User(user).Text("Command", *command).Write();
  React(kivimap::EventCommand, user, nullptr, command);
}

void FixtureSink::OnConnected(IImapUser* user, const WideString& username,
                              const WideString& password, std::int32_t* action) {
  EventLine(log_, kivimap::EventConnected)
      .User(user)
      .Text("Username", username)
      .Text("Password", password)
      .Action(action)
      .Write();
  React(kivimap::EventConnected, user, action, nullptr);
}

void FixtureSink::OnDisconnected(IImapUser* user) {
  EventLine(log_, kivimap::EventDisconnected).User(user).Write();
  React(kivimap::EventDisconnected, user, nullptr, nullptr);
}

void FixtureSink::OnStateChange(IImapUser* user, std::int32_t new_state, std::int32_t old_state) {
  EventLine(log_, kivimap::EventStateChange)
      .User(user)
      .Int("NewState", new_state)
      .Int("OldState", old_state)
      .Write();
  React(kivimap::EventStateChange, user, nullptr, nullptr);
}

void FixtureSink::OnListFolders(IImapUser* user, IImapFolder* parent) {
  EventLine(log_, kivimap::EventListFolders).User(user).Folder("ParentFolder", parent).Write();
  if (parent) {
    store_->FillSubFolders(parent);
  } else {
    store_->FillRoot(user);
  }
  React(kivimap::EventListFolders, user, nullptr, nullptr);
}

void FixtureSink::OnSubscribeFolder(IImapUser* user, IImapFolder* folder) {
  EventLine(log_, kivimap::EventSubscribeFolder).User(user).Folder("Folder", folder).Write();
  store_->SubscriptionChanged(folder);
  React(kivimap::EventSubscribeFolder, user, nullptr, nullptr);
}

void FixtureSink::OnCreateFolder(IImapUser* user, IImapFolder* parent, const WideString& name,
                                 std::int32_t* action) {
  EventLine(log_, kivimap::EventCreateFolder)
      .User(user)
      .Folder("ParentFolder", parent)
      .Text("Name", name)
      .Action(action)
      .Write();
  React(kivimap::EventCreateFolder, user, action, nullptr);
}

void FixtureSink::OnDeleteFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                                 std::int32_t* action) {
  EventLine(log_, kivimap::EventDeleteFolder)
      .User(user)
      .Folder("ParentFolder", parent)
      .Folder("Folder", folder)
      .Action(action)
      .Write();
  React(kivimap::EventDeleteFolder, user, action, nullptr);
}

void FixtureSink::OnMoveFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                               IImapFolder* destination_folder, const WideString& destination_name,
                               std::int32_t* action) {
  EventLine(log_, kivimap::EventMoveFolder)
      .User(user)
      .Folder("ParentFolder", parent)
      .Folder("Folder", folder)
      .Folder("DestinationFolder", destination_folder)
      .Text("DestinationName", destination_name)
      .Action(action)
      .Write();
  React(kivimap::EventMoveFolder, user, action, nullptr);
}

void FixtureSink::OnListMessages(IImapUser* user, IImapFolder* folder) {
  EventLine(log_, kivimap::EventListMessages).User(user).Folder("Folder", folder).Write();
  store_->FillMessages(folder);
  React(kivimap::EventListMessages, user, nullptr, nullptr);
}

void FixtureSink::OnReadMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message) {
  EventLine(log_, kivimap::EventReadMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Write();
  React(kivimap::EventReadMessage, user, nullptr, nullptr);
}

void FixtureSink::OnFlagChange(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                               std::int32_t new_flags, std::int32_t old_flags) {
  EventLine(log_, kivimap::EventFlagChange)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Int("NewFlags", new_flags)
      .Int("OldFlags", old_flags)
      .Write();
  store_->FlagsChanged(message, new_flags);
  React(kivimap::EventFlagChange, user, nullptr, nullptr);
}

void FixtureSink::OnCopyMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                IImapFolder* destination, std::int32_t* action) {
  EventLine(log_, kivimap::EventCopyMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Folder("Destination", destination)
      .Action(action)
      .Write();
  React(kivimap::EventCopyMessage, user, action, nullptr);
}

void FixtureSink::OnMoveMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                IImapFolder* destination, std::int32_t* action) {
  EventLine(log_, kivimap::EventMoveMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Folder("Destination", destination)
      .Action(action)
      .Write();
  React(kivimap::EventMoveMessage, user, action, nullptr);
}

void FixtureSink::OnDeleteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  EventLine(log_, kivimap::EventDeleteMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Action(action)
      .Write();
  React(kivimap::EventDeleteMessage, user, action, nullptr);
}

void FixtureSink::OnWriteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                 std::int32_t* action) {
  EventLine(log_, kivimap::EventWriteMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Action(action)
      .Write();
  React(kivimap::EventWriteMessage, user, action, nullptr);
}

void FixtureSink::OnCreateMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  EventLine(log_, kivimap::EventCreateMessage)
      .User(user)
      .Folder("Folder", folder)
      .Message(message)
      .Action(action)
      .Write();
  React(kivimap::EventCreateMessage, user, action, nullptr);
}

}  // namespace fixture_host
