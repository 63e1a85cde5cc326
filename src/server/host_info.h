// What the server learns about the machine it runs on when it is created.
#pragma once

#include <string>

namespace kivimap::server {

// The local host name, or "" when it cannot be read.
std::string LocalHostName();
// The first IPv4 address the name resolves to, in dotted decimal, or "".
std::string FirstIPv4Address(const std::string& host_name);

}  // namespace kivimap::server
