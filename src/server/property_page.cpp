// The General property page: five fields between a person and the servers the page edits.
#include "kivimap/property_page.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "automation/guarded.h"

namespace kivimap {

namespace {

constexpr std::size_t kGreeting = 0, kGoodbye = 1, kBindIP = 2, kPort = 3, kTimeout = 4;

}  // namespace

int kivImapServerPropPageGeneral::IndexOf(int id) {
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (kFields[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

void kivImapServerPropPageGeneral::SetChanged(bool changed) {
  if (changed_ == changed) return;
  changed_ = changed;
  if (site_) site_->OnStatusChange(changed);
}

Status kivImapServerPropPageGeneral::SetObjects(std::span<IkivImapServer* const> servers) {
  for (IkivImapServer* server : servers) {
    if (!server) return StatusPointer;
  }
  return automation::Guarded([&] {
    std::vector<Ref<IkivImapServer>> held(servers.begin(), servers.end());
    servers_ = std::move(held);
    return StatusOk;
  });
}

Status kivImapServerPropPageGeneral::Activate() {
  if (servers_.empty()) return StatusOk;
  return automation::Guarded([&] {
    IkivImapServer& server = *servers_.front();
    WideString greeting, goodbye, bind_ip;
    std::int32_t port = 0, timeout = 0;
    for (const Status s :
         {server.get_GreetingMessage(&greeting), server.get_GoodbyeMessage(&goodbye),
          server.get_BindIP(&bind_ip), server.get_Port(&port), server.get_Timeout(&timeout)}) {
      if (Failed(s)) return s;
    }
    std::array<std::string, kFields.size()> fields;
    fields[kGreeting] = greeting.ToNarrow();
    fields[kGoodbye] = goodbye.ToNarrow();
    fields[kBindIP] = bind_ip.ToNarrow();
    fields[kPort] = std::to_string(static_cast<std::uint32_t>(port));
    fields[kTimeout] = std::to_string(static_cast<std::uint32_t>(timeout));
    fields_ = std::move(fields);
    SetChanged(false);
    return StatusOk;
  });
}

Status kivImapServerPropPageGeneral::Apply() {
  const Status status = automation::Guarded([&] {
    const WideString greeting = ToWide(fields_[kGreeting]);
    const WideString goodbye = ToWide(fields_[kGoodbye]);
    const WideString bind_ip = ToWide(fields_[kBindIP]);
    const std::int32_t port = LeadingInteger(fields_[kPort]);
    const std::int32_t timeout = LeadingInteger(fields_[kTimeout]);
    for (const Ref<IkivImapServer>& server : servers_) {
      server->put_GreetingMessage(greeting);
      server->put_GoodbyeMessage(goodbye);
      server->put_BindIP(bind_ip);
      server->put_Port(port);
      server->put_Timeout(timeout);
    }
    return StatusOk;
  });
  if (Failed(status)) return status;
  changed_ = false;
  if (site_) site_->OnStatusChange(false);
  return StatusOk;
}

std::string kivImapServerPropPageGeneral::Field(int id) const {
  const int index = IndexOf(id);
  return index < 0 ? std::string() : fields_[static_cast<std::size_t>(index)];
}

Status kivImapServerPropPageGeneral::SetField(int id, std::string_view text) {
  const int index = IndexOf(id);
  if (index < 0) return StatusInvalidArg;
  const Status s = automation::Guarded([&] {
    fields_[static_cast<std::size_t>(index)].assign(text);
    return StatusOk;
  });
  if (Succeeded(s)) SetChanged(true);
  return s;
}

std::int32_t kivImapServerPropPageGeneral::LeadingInteger(std::string_view text) {
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHighest = std::numeric_limits<std::uint32_t>::max();
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // Past the range the value stays at its end; stop growing before int64 could overflow.
    magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), kHighest + 1);
  }
  const std::int64_t value =
      negative ? std::max(-magnitude, kLowest) : std::min(magnitude, kHighest);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace kivimap
