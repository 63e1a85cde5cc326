// The server properties a fixture may set, each with its setter.
#pragma once

#include <cstdint>
#include <string_view>

#include "kivimap/kivimap.h"

namespace fixture_host {

struct ServerPropertyInfo {
  using IkivImapServer = kivimap::IkivImapServer;
  std::string_view name;
  // Exactly one of the two is set: the property's type.
  kivimap::Status (IkivImapServer::*set_string)(const kivimap::WideString&);
  kivimap::Status (IkivImapServer::*set_int32)(std::int32_t);

  bool is_string() const { return set_string != nullptr; }
};

// nullptr for a name that is no settable property (names are compared exactly).
const ServerPropertyInfo* FindServerProperty(std::string_view name);

}  // namespace fixture_host
