// A fixture: what one run of the fixture host serves and how its event sink behaves.
// Loading checks everything up front, so a bad fixture fails before any server exists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "event_names.h"
#include "server_properties.h"

namespace fixture_host {

struct PropertySetting {
  const ServerPropertyInfo* property = nullptr;
  bool is_null = false;  // a string property set to JSON null (a null WideString)
  std::string text;      // UTF-8, for string properties
  std::int32_t number = 0;
};

enum class ScriptAction {
  Allow,
  Deny,
  Disconnect,
  Stop,
  ReleaseServer,
  ReplaceCommand,
  DumpTree,    // log the user's folder tree as the object model holds it now
  DumpUsers,   // log the server's Users collection
  SaveConfig,  // write the server's configuration in the text form to a file
};

struct ScriptEntry {
  const EventInfo* on = nullptr;
  std::int64_t nth = 1;  // counts firings of the event across all connections, from 1
  ScriptAction action = ScriptAction::Allow;
  std::string text;  // ReplaceCommand: the command; SaveConfig: the file (resolved)
};

struct FixtureMessage {
  std::string file;  // absolute, or relative to the working directory
  std::optional<std::int32_t> start;
  std::optional<std::int32_t> end;
  std::int32_t flags = 0;
  std::optional<std::int32_t> uid;
};

struct FixtureFolder {
  std::string name;
  std::optional<std::int32_t> uid;
  std::optional<std::int32_t> nextuid;
  bool subscribed = false;
  std::vector<FixtureMessage> messages;
  std::vector<FixtureFolder> folders;
};

struct Fixture {
  std::vector<PropertySetting> server;  // in file order
  bool sink = true;
  // Indexed by event id (1..18): the Action the sink leaves, when the fixture names one.
  std::optional<std::int32_t> actions[19];
  std::vector<ScriptEntry> script;
  std::vector<FixtureFolder> folders;
  // Where the files of appended messages the host keeps are written (ends with "/"); empty
  // when the fixture names none, and then an appended message lives only in its connection.
  std::string appenddir;
  // The text of the "config" file, loaded into the server before the "server" properties.
  std::optional<std::string> config;
  // "protocol": "modern" selects the modern protocol level; absent or "described": the default.
  kivimap::ProtocolLevel protocol = kivimap::ProtocolLevel::Described;
};

// Reads and checks a fixture file. Message files, "appenddir", "config" and the files of
// SaveConfig are resolved relative to the fixture's folder; message files must exist, the
// "config" file is read now, and "appenddir" is created when missing. On failure returns false
// with a message in *error.
bool LoadFixture(const std::string& path, Fixture* out, std::string* error);

const char* ScriptActionName(ScriptAction action);

}  // namespace fixture_host
