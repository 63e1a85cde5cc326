#include "fixture.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "json.h"

namespace fixture_host {
namespace {

using json::Value;
using Kind = json::Value::Kind;

// Indexed by ScriptAction.
constexpr const char* kScriptActionNames[] = {"Allow",    "Deny",          "Disconnect",
                                              "Stop",     "ReleaseServer", "ReplaceCommand",
                                              "DumpTree", "DumpUsers",     "SaveConfig"};

// Thrown while checking a fixture; carries a message naming the offending place.
class FixtureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Throw(const std::string& where, const std::string& what) {
  throw FixtureError(where + ": " + what);
}

const Value& Require(const Value& v, Kind kind, const std::string& where) {
  if (v.kind != kind) {
    Throw(where,
          std::string("expected ") + json::KindName(kind) + ", found " + json::KindName(v.kind));
  }
  return v;
}

// An object with only the known keys.
const Value& RequireObject(const Value& v, std::initializer_list<std::string_view> known,
                           const std::string& where) {
  for (const Value::Member& m : Require(v, Kind::Object, where).members) {
    if (std::find(known.begin(), known.end(), m.first) == known.end()) {
      Throw(where, "unknown key \"" + m.first + "\"");
    }
  }
  return v;
}

std::int32_t ToInt32(const Value& v, const std::string& where) {
  std::int64_t n;
  if (!v.AsInt64(&n)) {
    Throw(where, "expected an integer, found " +
                     (v.kind == Kind::Number ? v.text : json::KindName(v.kind)));
  }
  if (n < INT32_MIN || n > INT32_MAX) Throw(where, v.text + " does not fit in 32 bits");
  return static_cast<std::int32_t>(n);
}

// The place of an object's member in messages: where."key".
std::string MemberPlace(const std::string& where, std::string_view key) {
  return std::string(where).append(".\"").append(key).append("\"");
}

// The member `key` of an object as an int32, if it is there.
std::optional<std::int32_t> OptionalInt32(const Value& object, std::string_view key,
                                          const std::string& where) {
  const Value* v = object.Find(key);
  if (!v) return std::nullopt;
  return ToInt32(*v, MemberPlace(where, key));
}

// The member `key` of an object, checked to be of the kind; null when absent (or, when
// required, an error).
const Value* Member(const Value& object, std::string_view key, Kind kind, const std::string& where,
                    bool required = false) {
  const Value* v = object.Find(key);
  if (!v && required) Throw(where, std::string("\"").append(key).append("\" is required"));
  return v ? &Require(*v, kind, MemberPlace(where, key)) : nullptr;
}

std::int32_t ParseFlags(const Value& v, const std::string& where) {
  if (v.kind == Kind::Number) return ToInt32(v, where);
  if (v.kind != Kind::Array) Throw(where, "expected a number or a list of flag names");
  static constexpr std::pair<const char*, std::int32_t> kFlags[] = {
      {"\\Flagged", kivimap::Flagged},   {"\\Seen", kivimap::Seen},
      {"\\Answered", kivimap::Answered}, {"\\Deleted", kivimap::Deleted},
      {"\\Draft", kivimap::Draft},       {"\\Recent", kivimap::Recent},
  };
  std::int32_t flags = 0;
  for (const Value& item : v.items) {
    const std::string& name = Require(item, Kind::String, where).text;
    const auto* flag = std::find_if(std::begin(kFlags), std::end(kFlags), [&](const auto& f) {
      return name.size() == std::strlen(f.first) && strcasecmp(name.c_str(), f.first) == 0;
    });
    if (flag == std::end(kFlags)) Throw(where, "unknown flag \"" + name + "\"");
    flags |= flag->second;
  }
  return flags;
}

void ParseServer(const Value& v, Fixture* out) {
  for (const Value::Member& m : Require(v, Kind::Object, "\"server\"").members) {
    const std::string where = "\"server\".\"" + m.first + "\"";
    PropertySetting s;
    s.property = FindServerProperty(m.first);
    if (!s.property) Throw(where, "no such server property");
    if (!s.property->is_string()) {
      s.number = ToInt32(m.second, where);
    } else if (m.second.kind == Kind::Null) {
      s.is_null = true;
    } else {
      s.text = Require(m.second, Kind::String, where).text;
    }
    out->server.push_back(std::move(s));
  }
}

const EventInfo& RequireEvent(const std::string& name, const std::string& where) {
  const EventInfo* e = FindEvent(name);
  if (!e) Throw(where, "no event named \"" + name + "\"");
  return *e;
}

void ParseActions(const Value& v, Fixture* out) {
  for (const Value::Member& m : Require(v, Kind::Object, "\"actions\"").members) {
    const std::string where = "\"actions\".\"" + m.first + "\"";
    const EventInfo& e = RequireEvent(m.first, where);
    if (!e.has_action()) Throw(where, "this event has no Action");
    const std::string& action = Require(m.second, Kind::String, where).text;
    if (action != "Allow" && action != "Deny") {
      Throw(where, "expected \"Allow\" or \"Deny\", found \"" + action + "\"");
    }
    out->actions[e.id] = action == "Allow" ? kivimap::Allow : kivimap::Deny;
  }
}

// A path from the fixture: absolute, or relative to the fixture's folder.
std::string FixturePath(const std::string& given, const std::string& base_dir) {
  return !given.empty() && given[0] == '/' ? given : base_dir + given;
}

void ParseScript(const Value& v, const std::string& base_dir, Fixture* out) {
  const std::vector<Value>& items = Require(v, Kind::Array, "\"script\"").items;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string where = "\"script\"[" + std::to_string(i) + "]";
    RequireObject(items[i], {"on", "nth", "do", "text"}, where);
    if (!items[i].Find("on") || !items[i].Find("do")) {
      Throw(where, "\"on\" and \"do\" are required");
    }
    ScriptEntry entry;
    entry.on = &RequireEvent(Member(items[i], "on", Kind::String, where)->text, where + ".\"on\"");
    const std::string& act = Member(items[i], "do", Kind::String, where)->text;
    const auto* name = std::find(std::begin(kScriptActionNames), std::end(kScriptActionNames), act);
    if (name == std::end(kScriptActionNames)) {
      Throw(where + ".\"do\"", "unknown action \"" + act + "\"");
    }
    entry.action = static_cast<ScriptAction>(name - std::begin(kScriptActionNames));
    entry.nth = OptionalInt32(items[i], "nth", where).value_or(1);
    if (entry.nth < 1) Throw(where + ".\"nth\"", "counts from 1");
    const Value* text = items[i].Find("text");
    if (entry.action == ScriptAction::SaveConfig) {
      if (!text) Throw(where, "SaveConfig needs \"text\" (the file to write)");
      const std::string& file = Require(*text, Kind::String, where + ".\"text\"").text;
      if (file.empty()) Throw(where + ".\"text\"", "names no file");
      entry.text = FixturePath(file, base_dir);
    } else if (entry.action != ScriptAction::ReplaceCommand) {
      if (text) Throw(where, "\"text\" is only used by ReplaceCommand and SaveConfig");
    } else if (entry.on->id != kivimap::EventCommand) {
      Throw(where, "ReplaceCommand needs \"on\": \"Command\"");
    } else if (!text) {
      Throw(where, "ReplaceCommand needs \"text\"");
    } else {
      entry.text = Require(*text, Kind::String, where + ".\"text\"").text;
    }
    if ((entry.action == ScriptAction::Allow || entry.action == ScriptAction::Deny) &&
        !entry.on->has_action()) {
      Throw(where, "the event " + std::string(entry.on->name) + " has no Action");
    }
    out->script.push_back(std::move(entry));
  }
}

FixtureMessage ParseMessage(const Value& v, const std::string& base_dir, const std::string& where) {
  RequireObject(v, {"file", "start", "end", "flags", "uid"}, where);
  FixtureMessage m;
  m.file = Member(v, "file", Kind::String, where, true)->text;
  if (m.file.empty() || m.file[0] != '/') m.file = base_dir + m.file;
  struct stat st;
  if (stat(m.file.c_str(), &st) != 0) Throw(where, m.file + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Throw(where, m.file + " is not a regular file");
  m.start = OptionalInt32(v, "start", where);
  m.end = OptionalInt32(v, "end", where);
  if (const Value* flags = v.Find("flags")) m.flags = ParseFlags(*flags, where + ".\"flags\"");
  m.uid = OptionalInt32(v, "uid", where);
  return m;
}

std::vector<FixtureFolder> ParseFolders(const Value& v, const std::string& base_dir,
                                        const std::string& where) {
  std::vector<FixtureFolder> folders;
  const std::vector<Value>& items = Require(v, Kind::Array, where).items;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Value& item = items[i];
    const std::string here = where + "[" + std::to_string(i) + "]";
    RequireObject(item, {"name", "uid", "nextuid", "subscribed", "messages", "folders"}, here);
    FixtureFolder& f = folders.emplace_back();
    f.name = Member(item, "name", Kind::String, here, true)->text;
    f.uid = OptionalInt32(item, "uid", here);
    f.nextuid = OptionalInt32(item, "nextuid", here);
    if (const Value* x = Member(item, "subscribed", Kind::Bool, here)) f.subscribed = x->boolean;
    if (const Value* x = Member(item, "messages", Kind::Array, here)) {
      for (std::size_t j = 0; j < x->items.size(); ++j) {
        f.messages.push_back(
            ParseMessage(x->items[j], base_dir, here + ".\"messages\"[" + std::to_string(j) + "]"));
      }
    }
    if (const Value* x = item.Find("folders")) {
      f.folders = ParseFolders(*x, base_dir, here + ".\"folders\"");
    }
  }
  return folders;
}

// Creates the directory and any missing parents (as mkdir -p does).
void MakeDirectories(const std::string& path, const std::string& where) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      Throw(where, part + ": " + std::strerror(errno));
    }
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) Throw(where, path + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) Throw(where, path + " is not a directory");
}

std::string ParseAppendDir(const Value& v, const std::string& base_dir) {
  std::string dir = FixturePath(Require(v, Kind::String, "\"appenddir\"").text, base_dir);
  if (dir.empty()) dir.push_back('.');  // "" beside a fixture named without a folder
  MakeDirectories(dir, "\"appenddir\"");
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string ReadConfig(const Value& v, const std::string& base_dir) {
  const std::string path = FixturePath(Require(v, Kind::String, "\"config\"").text, base_dir);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) Throw("\"config\"", path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Throw("\"config\"", path + " is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) Throw("\"config\"", path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) Throw("\"config\"", path + ": read error");
  return text.str();
}

void ParseFixture(const Value& root, const std::string& base_dir, Fixture* out) {
  RequireObject(root,
                {"server", "sink", "actions", "script", "folders", "appenddir", "config",
                 "protocol"},
                "the fixture");
  if (const Value* v = root.Find("server")) ParseServer(*v, out);
  if (const Value* v = root.Find("sink")) out->sink = Require(*v, Kind::Bool, "\"sink\"").boolean;
  if (const Value* v = root.Find("actions")) ParseActions(*v, out);
  if (const Value* v = root.Find("script")) ParseScript(*v, base_dir, out);
  if (const Value* v = root.Find("folders")) {
    out->folders = ParseFolders(*v, base_dir, "\"folders\"");
  }
  if (const Value* v = root.Find("appenddir")) out->appenddir = ParseAppendDir(*v, base_dir);
  if (const Value* v = root.Find("config")) out->config = ReadConfig(*v, base_dir);
  if (const Value* v = root.Find("protocol")) {
    const std::string& level = Require(*v, Kind::String, "\"protocol\"").text;
    if (level == "modern") {
      out->protocol = kivimap::ProtocolLevel::Modern;
    } else if (level != "described") {
      Throw("\"protocol\"", "\"" + level + "\" is neither \"described\" nor \"modern\"");
    }
  }
}

}  // namespace

const char* ScriptActionName(ScriptAction action) {
  return kScriptActionNames[static_cast<int>(action)];
}

bool LoadFixture(const std::string& path, Fixture* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  json::Value root;
  std::string parse_error;
  if (!json::Parse(text.str(), &root, &parse_error)) {
    *error = path + ": " + parse_error;
    return false;
  }
  const std::string base_dir = path.substr(0, path.rfind('/') + 1);  // "" without a slash
  try {
    ParseFixture(root, base_dir, out);
  } catch (const FixtureError& e) {
    *error = path + ": " + e.what();
    return false;
  }
  return true;
}

}  // namespace fixture_host
