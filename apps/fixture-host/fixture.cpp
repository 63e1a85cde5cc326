#include "fixture.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "json.h"

namespace fixture_host {
namespace {

using json::Value;

// Thrown while checking a fixture; carries a message naming the offending place.
class FixtureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Throw(const std::string& where, const std::string& what) {
  throw FixtureError(where + ": " + what);
}

void RequireKind(const Value& v, Value::Kind kind, const std::string& where) {
  if (v.kind() != kind) {
    Throw(where,
          std::string("expected ") + json::KindName(kind) + ", found " + json::KindName(v.kind()));
  }
}

void RejectUnknownKeys(const Value& obj, std::initializer_list<std::string_view> known,
                       const std::string& where) {
  for (const Value::Member& m : obj.members()) {
    bool found = false;
    for (std::string_view k : known) found = found || m.first == k;
    if (!found) Throw(where, "unknown key \"" + m.first + "\"");
  }
}

std::int32_t ToInt32(const Value& v, const std::string& where) {
  std::int64_t n;
  if (!v.AsInt64(&n))
    Throw(where,
          "expected an integer, found " + (v.is_number() ? v.text() : json::KindName(v.kind())));
  if (n < INT32_MIN || n > INT32_MAX) Throw(where, v.text() + " does not fit in 32 bits");
  return static_cast<std::int32_t>(n);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::int32_t ParseFlags(const Value& v, const std::string& where) {
  if (v.is_number()) return ToInt32(v, where);
  if (!v.is_array()) Throw(where, "expected a number or a list of flag names");
  static constexpr struct {
    std::string_view name;
    std::int32_t bit;
  } kFlags[] = {
      {"\\Flagged", kivimap::Flagged},   {"\\Seen", kivimap::Seen},
      {"\\Answered", kivimap::Answered}, {"\\Deleted", kivimap::Deleted},
      {"\\Draft", kivimap::Draft},       {"\\Recent", kivimap::Recent},
  };
  std::int32_t flags = 0;
  for (const Value& item : v.items()) {
    RequireKind(item, Value::Kind::String, where);
    bool found = false;
    for (const auto& f : kFlags) {
      if (EqualsIgnoringAsciiCase(item.text(), f.name)) {
        flags |= f.bit;
        found = true;
      }
    }
    if (!found) Throw(where, "unknown flag \"" + item.text() + "\"");
  }
  return flags;
}

void ParseServer(const Value& v, Fixture* out) {
  RequireKind(v, Value::Kind::Object, "\"server\"");
  for (const Value::Member& m : v.members()) {
    const std::string where = "\"server\".\"" + m.first + "\"";
    PropertySetting s;
    s.property = FindServerProperty(m.first);
    if (!s.property) Throw(where, "no such server property");
    if (s.property->type == ServerPropertyInfo::Type::String) {
      if (m.second.is_null()) {
        s.is_null = true;
      } else {
        RequireKind(m.second, Value::Kind::String, where);
        s.text = m.second.text();
      }
    } else {
      s.number = ToInt32(m.second, where);
    }
    out->server.push_back(std::move(s));
  }
}

std::int32_t ParseAllowDeny(const Value& v, const std::string& where) {
  RequireKind(v, Value::Kind::String, where);
  if (v.text() == "Allow") return kivimap::Allow;
  if (v.text() == "Deny") return kivimap::Deny;
  Throw(where, "expected \"Allow\" or \"Deny\", found \"" + v.text() + "\"");
}

const EventInfo& RequireEvent(const std::string& name, const std::string& where) {
  const EventInfo* e = FindEvent(name);
  if (!e) Throw(where, "no event named \"" + name + "\"");
  return *e;
}

void ParseActions(const Value& v, Fixture* out) {
  RequireKind(v, Value::Kind::Object, "\"actions\"");
  for (const Value::Member& m : v.members()) {
    const std::string where = "\"actions\".\"" + m.first + "\"";
    const EventInfo& e = RequireEvent(m.first, where);
    if (!e.has_action) Throw(where, "this event has no Action");
    out->actions[e.id] = ParseAllowDeny(m.second, where);
  }
}

ScriptAction ParseScriptAction(const std::string& name, const std::string& where) {
  static constexpr ScriptAction kAll[] = {
      ScriptAction::Allow,    ScriptAction::Deny,          ScriptAction::Disconnect,
      ScriptAction::Stop,     ScriptAction::ReleaseServer, ScriptAction::ReplaceCommand,
      ScriptAction::DumpTree, ScriptAction::DumpUsers,
  };
  for (ScriptAction a : kAll) {
    if (name == ScriptActionName(a)) return a;
  }
  Throw(where, "unknown action \"" + name + "\"");
}

void ParseScript(const Value& v, Fixture* out) {
  RequireKind(v, Value::Kind::Array, "\"script\"");
  for (std::size_t i = 0; i < v.items().size(); ++i) {
    const Value& item = v.items()[i];
    const std::string where = "\"script\"[" + std::to_string(i) + "]";
    RequireKind(item, Value::Kind::Object, where);
    RejectUnknownKeys(item, {"on", "nth", "do", "text"}, where);
    ScriptEntry entry;
    const Value* on = item.Find("on");
    const Value* act = item.Find("do");
    if (!on || !act) Throw(where, "\"on\" and \"do\" are required");
    RequireKind(*on, Value::Kind::String, where + ".\"on\"");
    entry.on = &RequireEvent(on->text(), where + ".\"on\"");
    RequireKind(*act, Value::Kind::String, where + ".\"do\"");
    entry.action = ParseScriptAction(act->text(), where + ".\"do\"");
    if (const Value* nth = item.Find("nth")) {
      entry.nth = ToInt32(*nth, where + ".\"nth\"");
      if (entry.nth < 1) Throw(where + ".\"nth\"", "counts from 1");
    }
    const Value* text = item.Find("text");
    if (entry.action == ScriptAction::ReplaceCommand) {
      if (entry.on->id != kivimap::EventCommand)
        Throw(where, "ReplaceCommand needs \"on\": \"Command\"");
      if (!text) Throw(where, "ReplaceCommand needs \"text\"");
      RequireKind(*text, Value::Kind::String, where + ".\"text\"");
      entry.text = text->text();
    } else if (text) {
      Throw(where, "\"text\" is only used by ReplaceCommand");
    }
    if ((entry.action == ScriptAction::Allow || entry.action == ScriptAction::Deny) &&
        !entry.on->has_action) {
      Throw(where, "the event " + std::string(entry.on->name) + " has no Action");
    }
    out->script.push_back(std::move(entry));
  }
}

std::string ResolvePath(const std::string& base_dir, const std::string& file) {
  if (!file.empty() && file[0] == '/') return file;
  return base_dir + file;
}

FixtureMessage ParseMessage(const Value& v, const std::string& base_dir, const std::string& where) {
  RequireKind(v, Value::Kind::Object, where);
  RejectUnknownKeys(v, {"file", "start", "end", "flags", "uid"}, where);
  FixtureMessage m;
  const Value* file = v.Find("file");
  if (!file) Throw(where, "\"file\" is required");
  RequireKind(*file, Value::Kind::String, where + ".\"file\"");
  m.file = ResolvePath(base_dir, file->text());
  struct stat st;
  if (stat(m.file.c_str(), &st) != 0) Throw(where, m.file + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Throw(where, m.file + " is not a regular file");
  if (const Value* x = v.Find("start")) m.start = ToInt32(*x, where + ".\"start\"");
  if (const Value* x = v.Find("end")) m.end = ToInt32(*x, where + ".\"end\"");
  if (const Value* x = v.Find("flags")) m.flags = ParseFlags(*x, where + ".\"flags\"");
  if (const Value* x = v.Find("uid")) m.uid = ToInt32(*x, where + ".\"uid\"");
  return m;
}

std::vector<FixtureFolder> ParseFolders(const Value& v, const std::string& base_dir,
                                        const std::string& where) {
  RequireKind(v, Value::Kind::Array, where);
  std::vector<FixtureFolder> folders;
  for (std::size_t i = 0; i < v.items().size(); ++i) {
    const Value& item = v.items()[i];
    const std::string here = where + "[" + std::to_string(i) + "]";
    RequireKind(item, Value::Kind::Object, here);
    RejectUnknownKeys(item, {"name", "uid", "nextuid", "subscribed", "messages", "folders"}, here);
    FixtureFolder f;
    const Value* name = item.Find("name");
    if (!name) Throw(here, "\"name\" is required");
    RequireKind(*name, Value::Kind::String, here + ".\"name\"");
    f.name = name->text();
    if (const Value* x = item.Find("uid")) f.uid = ToInt32(*x, here + ".\"uid\"");
    if (const Value* x = item.Find("nextuid")) f.nextuid = ToInt32(*x, here + ".\"nextuid\"");
    if (const Value* x = item.Find("subscribed")) {
      RequireKind(*x, Value::Kind::Bool, here + ".\"subscribed\"");
      f.subscribed = x->boolean();
    }
    if (const Value* x = item.Find("messages")) {
      RequireKind(*x, Value::Kind::Array, here + ".\"messages\"");
      for (std::size_t j = 0; j < x->items().size(); ++j) {
        f.messages.push_back(ParseMessage(x->items()[j], base_dir,
                                          here + ".\"messages\"[" + std::to_string(j) + "]"));
      }
    }
    if (const Value* x = item.Find("folders")) {
      f.folders = ParseFolders(*x, base_dir, here + ".\"folders\"");
    }
    folders.push_back(std::move(f));
  }
  return folders;
}

void ParseFixture(const Value& root, const std::string& base_dir, Fixture* out) {
  RequireKind(root, Value::Kind::Object, "the fixture");
  RejectUnknownKeys(root, {"server", "sink", "actions", "script", "folders"}, "the fixture");
  if (const Value* v = root.Find("server")) ParseServer(*v, out);
  if (const Value* v = root.Find("sink")) {
    RequireKind(*v, Value::Kind::Bool, "\"sink\"");
    out->sink = v->boolean();
  }
  if (const Value* v = root.Find("actions")) ParseActions(*v, out);
  if (const Value* v = root.Find("script")) ParseScript(*v, out);
  if (const Value* v = root.Find("folders"))
    out->folders = ParseFolders(*v, base_dir, "\"folders\"");
}

}  // namespace

const char* ScriptActionName(ScriptAction action) {
  switch (action) {
    case ScriptAction::Allow:
      return "Allow";
    case ScriptAction::Deny:
      return "Deny";
    case ScriptAction::Disconnect:
      return "Disconnect";
    case ScriptAction::Stop:
      return "Stop";
    case ScriptAction::ReleaseServer:
      return "ReleaseServer";
    case ScriptAction::ReplaceCommand:
      return "ReplaceCommand";
    case ScriptAction::DumpTree:
      return "DumpTree";
    case ScriptAction::DumpUsers:
      return "DumpUsers";
  }
  return "?";
}

bool LoadFixture(const std::string& path, Fixture* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  json::Value root;
  std::string parse_error;
  if (!json::Parse(buf.str(), &root, &parse_error)) {
    *error = path + ": " + parse_error;
    return false;
  }
  const std::size_t slash = path.rfind('/');
  const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  try {
    ParseFixture(root, base_dir, out);
  } catch (const FixtureError& e) {
    *error = path + ": " + e.what();
    return false;
  }
  return true;
}

}  // namespace fixture_host
