#include "server/host_info.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace kivimap::server {

std::string LocalHostName() {
  char name[1024] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return std::string(name);
}

std::string FirstIPv4Address(const std::string& host_name) {
  if (host_name.empty()) return std::string();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &found) != 0 || !found) {
    return std::string();
  }
  std::string dotted;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) dotted = text;
    break;
  }
  ::freeaddrinfo(found);
  return dotted;
}

}  // namespace kivimap::server
