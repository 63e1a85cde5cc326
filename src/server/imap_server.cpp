#include "server/imap_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "automation/error_report.h"
#include "automation/guarded.h"
#include "server/debug_log.h"
#include "server/host_info.h"

namespace kivimap::server {

namespace {

// Connections that may wait to be accepted. A burst of clients connecting at once (a mail client
// opening several connections, a benchmark opening a thousand) must not stall on a full queue.
constexpr int kListenBacklog = SOMAXCONN;

constexpr char16_t kAlreadyStarted[] = u"Server already started. Use Stop first.";
constexpr char16_t kBadBindIP[] = u"An invalid argument was supplied in BindIP property.";
constexpr char16_t kCouldNotBind[] = u"Could not bind socket.";
constexpr char16_t kNoEventLoop[] = u"Could not create the event loop.";

using automation::CopyOut;
using automation::Guarded;

}  // namespace

CkivImapServer::CkivImapServer() : users_(new store::ImapUsers) {
  const std::string host_name = LocalHostName();
  my_hostname_ = ToWide(host_name);
  my_ip_ = ToWide(FirstIPv4Address(host_name));
}

Status CkivImapServer::Refuse(std::uint32_t code, const char16_t* message) {
  return automation::ReportError(code, WideString(message), WideString(kErrorSource));
}

// --- properties ---

Status CkivImapServer::get_BindIP(WideString* out) { return CopyOut(bind_ip_, out); }

Status CkivImapServer::put_BindIP(const WideString& value) {
  if (started_) return Refuse(kErrorAlreadyStarted, kAlreadyStarted);
  return Guarded([&] {
    bind_ip_ = value;
    notifier_.Changed(1);
    return StatusOk;
  });
}

Status CkivImapServer::get_GoodbyeMessage(WideString* out) {
  return CopyOut(goodbye_message_, out);
}

Status CkivImapServer::put_GoodbyeMessage(const WideString& value) {
  return Guarded([&] {
    goodbye_message_ = value;
    notifier_.Changed(2);
    return StatusOk;
  });
}

Status CkivImapServer::get_GreetingMessage(WideString* out) {
  return CopyOut(greeting_message_, out);
}

Status CkivImapServer::put_GreetingMessage(const WideString& value) {
  return Guarded([&] {
    greeting_message_ = value;
    notifier_.Changed(3);
    return StatusOk;
  });
}

Status CkivImapServer::get_Port(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = port_;
  return StatusOk;
}

Status CkivImapServer::put_Port(std::int32_t value) {
  if (started_) return Refuse(kErrorAlreadyStarted, kAlreadyStarted);
  port_ = value;
  return Guarded([&] {
    notifier_.Changed(4);
    return StatusOk;
  });
}

Status CkivImapServer::get_Timeout(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = timeout_;
  return StatusOk;
}

Status CkivImapServer::put_Timeout(std::int32_t value) {
  timeout_ = value;
  return Guarded([&] {
    notifier_.Changed(5);
    return StatusOk;
  });
}

Status CkivImapServer::get_MyHostname(WideString* out) { return CopyOut(my_hostname_, out); }

Status CkivImapServer::put_MyHostname(const WideString& value) {
  return Guarded([&] {
    my_hostname_ = value;
    return StatusOk;
  });
}

Status CkivImapServer::get_MyIP(WideString* out) { return CopyOut(my_ip_, out); }

Status CkivImapServer::put_MyIP(const WideString& value) {
  return Guarded([&] {
    my_ip_ = value;
    return StatusOk;
  });
}

Status CkivImapServer::get_Version(WideString* out) {
  if (!out) return StatusPointer;
  return Guarded([&] {
    *out = WideString(kVersion);
    return StatusOk;
  });
}

Status CkivImapServer::put_Version(const WideString& /*value*/) { return StatusOk; }

Status CkivImapServer::get_Users(Ref<IImapUsers>* out) {
  if (out) *out = Ref<IImapUsers>(users_.get());
  return StatusOk;
}

Status CkivImapServer::get_DebugFile(WideString* out) { return CopyOut(debug_file_, out); }

Status CkivImapServer::put_DebugFile(const WideString& value) {
  return Guarded([&] {
    debug_file_ = value;
    if (!debug_file_.empty()) AppendToDebugLog(debug_file_, kDebugSessionStart);
    return StatusOk;
  });
}

void CkivImapServer::DebugLog(std::string_view text) { AppendToDebugLog(debug_file_, text); }

// --- sinks and listeners ---

Status CkivImapServer::Advise(IDispatch* sink, std::uint32_t* cookie) {
  return events_.Advise(sink, cookie);
}

Status CkivImapServer::Unadvise(std::uint32_t cookie) { return events_.Unadvise(cookie); }

Status CkivImapServer::AdvisePropertyNotify(IPropertyNotifySink* sink, std::uint32_t* cookie) {
  return notifier_.Advise(sink, cookie);
}

Status CkivImapServer::UnadvisePropertyNotify(std::uint32_t cookie) {
  return notifier_.Unadvise(cookie);
}

// --- Start and Stop ---

Status CkivImapServer::Start() {
  try {
    return StartListening();
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  } catch (const std::system_error& error) {
    // No loop or no descriptor for it: the server does not listen, and says why.
    listener_.reset();
    return Refuse(static_cast<std::uint32_t>(error.code().value() & 0xFFFF), kNoEventLoop);
  } catch (...) {
    listener_.reset();
    return StatusFail;
  }
}

Status CkivImapServer::StartListening() {
  {
    if (started_) return Refuse(kErrorAlreadyStarted, kAlreadyStarted);
    listener_.reset();
    // The first Start chooses the loop: the thread's own. Connections are served on it for the
    // server's whole life, whichever thread calls later.
    if (!loop_) loop_ = EventLoop::SharedForThisThread();
    listener_ = std::make_unique<transport::CkivListenSocket>(
        static_cast<transport::ListenOwner*>(this), loop_);

    in_addr_t address = htonl(INADDR_ANY);
    if (!bind_ip_.empty()) {
      address = ::inet_addr(bind_ip_.ToNarrow().c_str());
      if (address == INADDR_NONE) return Refuse(kErrorBadBindIP, kBadBindIP);
    }
    const auto port = htons(static_cast<std::uint16_t>(port_ & 0xFFFF));
    if (const int error = listener_->Bind(address, port); error != 0) {
      return Refuse(static_cast<std::uint32_t>(error), kCouldNotBind);
    }
    // A listen that fails after a good bind is reported the same way: the server does not
    // listen, and the host must not be told that it does.
    if (const int error = listener_->Listen(kListenBacklog); error != 0) {
      return Refuse(static_cast<std::uint32_t>(error), kCouldNotBind);
    }
    started_ = true;
    return StatusOk;
  }
}

Status CkivImapServer::Stop() {
  listener_.reset();
  // Users the host holds keep their connections (the host may still talk to them); the server
  // remembers them so that their connections end when it does.
  std::erase_if(released_, [](const automation::WeakRef<store::ImapUser>& u) { return !u; });
  users_->ForEachUser([this](store::ImapUser& user) {
    if (user.RefCount() <= 1 || !user.connection()) return;
    try {
      released_.emplace_back(&user);
    } catch (const std::bad_alloc&) {
      user.CloseConnectionQuietly();
    }
  });
  users_->RemoveAll();
  started_ = false;
  return StatusOk;
}

CkivImapServer::~CkivImapServer() {
  Stop();
  for (const auto& user : released_) {
    if (store::ImapUser* u = user.get()) u->CloseConnectionQuietly();
  }
}

std::uint16_t CkivImapServer::ListeningPort() {
  return started_ && listener_ ? listener_->LocalPort() : 0;
}

Status CkivImapServer::SetProtocolLevel(ProtocolLevel level) {
  if (level != ProtocolLevel::Described && level != ProtocolLevel::Modern) return StatusInvalidArg;
  protocol_level_ = level;
  return StatusOk;
}

Status CkivImapServer::SetOutputLimits(const OutputLimits& limits) {
  if (!limits.valid()) return StatusInvalidArg;
  limits_ = limits;
  return StatusOk;
}

}  // namespace kivimap::server

namespace kivimap {

Status CreateImapServer(Ref<IkivImapServer>* out) {
  return automation::HandOut(out, [] { return new server::CkivImapServer; });
}

}  // namespace kivimap
