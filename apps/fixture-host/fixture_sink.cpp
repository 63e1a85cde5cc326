#include "fixture_sink.h"

#include <fstream>
#include <string>
#include <string_view>

#include "json_writer.h"

namespace fixture_host {

using kivimap::IImapFolder;
using kivimap::IImapMessage;
using kivimap::IImapUser;
using kivimap::ImapServerEventId;
using kivimap::WideString;

namespace {

void WriteUserMembers(IImapUser* user, JsonWriter& w) {
  WideString hostname, username;
  user->get_Hostname(&hostname);
  user->get_Username(&username);
  w.Key("Hostname").Wide(hostname).Key("Username").Wide(username);
}

// Writes one event argument as the events log shows it: a user as its host and user names, a
// folder as its Path, a message as its UID (null for none), Action as the number it holds.
struct ArgumentWriter {
  JsonWriter& w;
  void operator()(IImapUser* user) const {
    if (!user) {
      w.Null();
      return;
    }
    w.BeginObject();
    WriteUserMembers(user, w);
    w.EndObject();
  }
  void operator()(IImapFolder* folder) const {
    WideString path;
    if (folder && kivimap::Succeeded(folder->get_Path(&path))) {
      w.Wide(path);
    } else {
      w.Null();
    }
  }
  void operator()(IImapMessage* message) const {
    std::int32_t uid = 0;
    if (message && kivimap::Succeeded(message->get_UID(&uid))) {
      w.Int(uid);
    } else {
      w.Null();
    }
  }
  void operator()(std::int32_t value) const { w.Int(value); }
  void operator()(const std::int32_t* action) const { w.Int(action ? *action : 0); }
  void operator()(const WideString* text) const { w.Wide(*text); }
};

// The argument of type T (a pointer), or null when the event has none.
template <class T>
T FindArgument(std::initializer_list<EventArgument> args) {
  for (const EventArgument& arg : args) {
    if (const T* p = std::get_if<T>(&arg)) return *p;
  }
  return nullptr;
}

// Writes the server's configuration in the text form to the file: the save's status, or a general
// failure when the file cannot be written.
kivimap::Status SaveConfigFile(kivimap::IkivImapServer* server, const std::string& path) {
  std::string text;
  const kivimap::Status status = kivimap::SaveConfigText(server, &text);
  if (kivimap::Failed(status)) return status;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? kivimap::StatusOk : kivimap::StatusFail;
}

}  // namespace

void FixtureSink::Handle(ImapServerEventId id, std::initializer_list<EventArgument> args,
                         const std::function<void()>& fill_store,
                         const std::function<void(std::int32_t* action)>& allowed) {
  const EventInfo& event = EventById(id);
  log_->Write(event.name, [&](JsonWriter& w) {
    auto name = event.arguments.begin();
    for (const EventArgument& arg : args) {
      w.Key(*name++);
      std::visit(ArgumentWriter{w}, arg);
    }
  });
  if (fill_store) fill_store();

  IImapUser* user = FindArgument<IImapUser*>(args);
  std::int32_t* action = FindArgument<std::int32_t*>(args);
  WideString* command = FindArgument<WideString*>(args);
  const std::int64_t nth = ++firings_[id];
  if (action && fixture_.actions[id]) *action = *fixture_.actions[id];
  for (const ScriptEntry& entry : fixture_.script) {
    if (entry.on->id == id && entry.nth == nth) Perform(entry, nth, user, action, command);
  }
  // A released server is never touched again, nor the objects it handed out.
  if (allowed && action && *action != kivimap::Deny && host_->server) allowed(action);
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
      log_->Write("Tree", [&](JsonWriter& w) {
        ArgumentWriter{w.Key("User")}(user);
        MailStore::WriteTree(user, &w.Key("folders"));
      });
      break;
    case ScriptAction::DumpUsers:
      LogUsers();
      break;
    case ScriptAction::SaveConfig:
      if (host_->server) status = SaveConfigFile(host_->server.get(), entry.text);
      break;
  }
  log_->Write("Script", [&](JsonWriter& w) {
    w.Key("on").Utf8(entry.on->name).Key("nth").Int(nth);
    w.Key("do").Utf8(ScriptActionName(entry.action)).Key("Status").Int(status);
  });
}

void FixtureSink::LogUsers() {
  log_->Write("Users", [&](JsonWriter& w) {
    kivimap::Ref<kivimap::IImapUsers> users;
    if (!host_->server || kivimap::Failed(host_->server->get_Users(&users)) || !users) {
      w.Key("Count").Null();
      return;
    }
    std::int16_t count = 0;
    users->get_Count(&count);
    w.Key("Count").Int(count).Key("Users").BeginArray();
    for (std::int16_t i = 0; i < count; ++i) {
      kivimap::Ref<IImapUser> user;
      if (kivimap::Failed(users->get_Item(i, &user)) || !user) continue;
      std::int16_t index = -1;
      w.BeginObject();
      WriteUserMembers(user.get(), w);
      if (kivimap::Succeeded(user->get_Index(&index))) {
        w.Key("Index").Int(index);
      } else {
        w.Key("Index").Null();
      }
      w.EndObject();
    }
    w.EndArray();
  });
}

void FixtureSink::OnConnecting(IImapUser* user, std::int32_t* action) {
  Handle(kivimap::EventConnecting, {user, action});
}

void FixtureSink::OnCommand(IImapUser* user, WideString* command) {
  Handle(kivimap::EventCommand, {user, command});
}

void FixtureSink::OnConnected(IImapUser* user, const WideString& username,
                              const WideString& password, std::int32_t* action) {
  Handle(kivimap::EventConnected, {user, &username, &password, action});
}

void FixtureSink::OnDisconnected(IImapUser* user) { Handle(kivimap::EventDisconnected, {user}); }

void FixtureSink::OnStateChange(IImapUser* user, std::int32_t new_state, std::int32_t old_state) {
  Handle(kivimap::EventStateChange, {user, new_state, old_state});
}

void FixtureSink::OnListFolders(IImapUser* user, IImapFolder* parent) {
  Handle(kivimap::EventListFolders, {user, parent}, [&] {
    if (parent) {
      store_->FillSubFolders(parent);
    } else {
      store_->FillRoot(user);
    }
  });
}

void FixtureSink::OnSubscribeFolder(IImapUser* user, IImapFolder* folder) {
  Handle(kivimap::EventSubscribeFolder, {user, folder},
         [&] { store_->SubscriptionChanged(folder); });
}

void FixtureSink::OnCreateFolder(IImapUser* user, IImapFolder* parent, const WideString& name,
                                 std::int32_t* action) {
  Handle(kivimap::EventCreateFolder, {user, parent, &name, action}, nullptr,
         [&](std::int32_t*) { store_->CreateFolder(user, parent, name); });
}

void FixtureSink::OnDeleteFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                                 std::int32_t* action) {
  Handle(kivimap::EventDeleteFolder, {user, parent, folder, action}, nullptr,
         [&](std::int32_t*) { store_->DeleteFolder(user, parent, folder); });
}

void FixtureSink::OnMoveFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                               IImapFolder* destination_folder, const WideString& destination_name,
                               std::int32_t* action) {
  Handle(kivimap::EventMoveFolder,
         {user, parent, folder, destination_folder, &destination_name, action}, nullptr,
         [&](std::int32_t* allowed) {
           // A real host refuses what it cannot do, such as moving a folder into itself.
           if (!store_->MoveFolder(user, parent, folder, destination_folder, destination_name)) {
             *allowed = kivimap::Deny;
           }
         });
}

void FixtureSink::OnListMessages(IImapUser* user, IImapFolder* folder) {
  Handle(kivimap::EventListMessages, {user, folder}, [&] { store_->FillMessages(folder); });
}

void FixtureSink::OnReadMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message) {
  Handle(kivimap::EventReadMessage, {user, folder, message});
}

void FixtureSink::OnFlagChange(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                               std::int32_t new_flags, std::int32_t old_flags) {
  Handle(kivimap::EventFlagChange, {user, folder, message, new_flags, old_flags},
         [&] { store_->FlagsChanged(message, new_flags); });
}

void FixtureSink::OnCopyMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                IImapFolder* destination, std::int32_t* action) {
  Handle(kivimap::EventCopyMessage, {user, folder, message, destination, action}, nullptr,
         [&](std::int32_t*) { store_->CopyMessage(destination, message); });
}

void FixtureSink::OnMoveMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                IImapFolder* destination, std::int32_t* action) {
  Handle(kivimap::EventMoveMessage, {user, folder, message, destination, action});
}

void FixtureSink::OnDeleteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  Handle(kivimap::EventDeleteMessage, {user, folder, message, action}, nullptr,
         [&](std::int32_t*) { store_->DeleteMessage(folder, message); });
}

void FixtureSink::OnWriteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                 std::int32_t* action) {
  Handle(kivimap::EventWriteMessage, {user, folder, message, action}, nullptr,
         [&](std::int32_t*) { store_->WriteMessage(folder, message); });
}

void FixtureSink::OnCreateMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  Handle(kivimap::EventCreateMessage, {user, folder, message, action}, nullptr,
         [&](std::int32_t*) { store_->CreateMessage(folder, message); });
}

}  // namespace fixture_host
