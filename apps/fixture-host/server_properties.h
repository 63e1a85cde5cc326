// The server properties a fixture may set, each with its setter.
#pragma once

#include <cstdint>
#include <string_view>

#include "kivimap/kivimap.h"

namespace fixture_host {

struct ServerPropertyInfo {
  enum class Type { String, Int32 };
  std::string_view name;
  Type type;
  // Exactly one of the two is set, matching type.
  kivimap::Status (*set_string)(kivimap::IkivImapServer*, const kivimap::WideString&);
  kivimap::Status (*set_int32)(kivimap::IkivImapServer*, std::int32_t);
};

// nullptr for a name that is no settable property (names are compared exactly).
const ServerPropertyInfo* FindServerProperty(std::string_view name);

}  // namespace fixture_host
