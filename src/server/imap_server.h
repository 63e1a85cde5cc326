// CkivImapServer: the server object a host creates. It holds the configuration, listens,
// accepts connections as users, fires the host's events, and serves the protocol engine and the
// users through the small interfaces they declare.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "automation/connection_point.h"
#include "automation/dispatch_object.h"
#include "automation/property_notify.h"
#include "imap/server_context.h"
#include "kivimap/interfaces.h"
#include "store/user_host.h"
#include "store/users.h"
#include "transport/listen_socket.h"

namespace kivimap::server {

inline constexpr char16_t kVersion[] = u"1.0.0.7";
inline constexpr char16_t kDefaultGreeting[] = u"Quillon Imap server version 1.0.0.7";
inline constexpr char16_t kErrorSource[] = u"Quillon.kivImapServer.1";

// Error codes of refused calls (the status is 0x800A0000 plus the code).
inline constexpr std::uint32_t kErrorAlreadyStarted = 30000;
inline constexpr std::uint32_t kErrorBadBindIP = 30001;

class CkivImapServer final : public automation::DispatchObject<IkivImapServer>,
                             public store::UserHost,
                             public imap::ServerContext,
                             private transport::ListenOwner {
 public:
  // Takes the defaults and learns the local host name and address. Throws std::bad_alloc.
  CkivImapServer();
  ~CkivImapServer() override;

  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // IkivImapServer
  Status get_BindIP(WideString* out) override;
  Status put_BindIP(const WideString& value) override;
  Status get_GoodbyeMessage(WideString* out) override;
  Status put_GoodbyeMessage(const WideString& value) override;
  Status get_GreetingMessage(WideString* out) override;
  Status put_GreetingMessage(const WideString& value) override;
  Status get_Port(std::int32_t* out) override;
  Status put_Port(std::int32_t value) override;
  Status get_Timeout(std::int32_t* out) override;
  Status put_Timeout(std::int32_t value) override;
  Status get_MyHostname(WideString* out) override;
  Status put_MyHostname(const WideString& value) override;
  Status get_MyIP(WideString* out) override;
  Status put_MyIP(const WideString& value) override;
  Status get_Version(WideString* out) override;
  Status put_Version(const WideString& value) override;
  Status get_Users(Ref<IImapUsers>* out) override;
  Status Start() override;
  Status Stop() override;
  Status get_DebugFile(WideString* out) override;
  Status put_DebugFile(const WideString& value) override;
  Status Advise(IDispatch* sink, std::uint32_t* cookie) override;
  Status Unadvise(std::uint32_t cookie) override;
  Status AdvisePropertyNotify(IPropertyNotifySink* sink, std::uint32_t* cookie) override;
  Status UnadvisePropertyNotify(std::uint32_t cookie) override;
  bool IsDirty() override { return notifier_.dirty(); }
  void SetDirty(bool dirty) override { notifier_.set_dirty(dirty); }

  std::uint16_t ListeningPort() override;
  Status SetOutputLimits(const OutputLimits& limits) override;
  OutputLimits GetOutputLimits() override { return limits_; }
  Status SetProtocolLevel(ProtocolLevel level) override;
  ProtocolLevel GetProtocolLevel() override { return protocol_level_; }

  bool started() const { return started_; }

  // The events. Each wrapper fires its event to every sink and returns whether the server
  // survived it (someone besides the firing code still holds it). Those that take a user and
  // serve the protocol engine also return false when the user did not survive.
  bool FireConnecting(store::ImapUser& user, std::int32_t* action);
  bool FireCommand(store::ImapUser& user, WideString* command) override;
  bool FireConnected(store::ImapUser& user, const WideString& username, const WideString& password,
                     std::int32_t* action) override;
  bool FireDisconnected(store::ImapUser& user) override;
  bool FireStateChange(store::ImapUser& user, std::int32_t new_state,
                       std::int32_t old_state) override;
  bool FireListFolders(store::ImapUser& user, IImapFolder* parent) override;
  bool FireSubscribeFolder(store::ImapUser& user, IImapFolder* folder) override;
  bool FireCreateFolder(store::ImapUser& user, IImapFolder* parent, const WideString& name,
                        std::int32_t* action) override;
  bool FireDeleteFolder(store::ImapUser& user, IImapFolder* parent, IImapFolder* folder,
                        std::int32_t* action) override;
  bool FireMoveFolder(store::ImapUser& user, IImapFolder* parent, IImapFolder* folder,
                      IImapFolder* destination, const WideString& destination_name,
                      std::int32_t* action) override;
  bool FireListMessages(store::ImapUser& user, IImapFolder* folder) override;
  bool FireReadMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message) override;
  bool FireFlagChange(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                      std::int32_t new_flags, std::int32_t old_flags) override;
  bool FireCopyMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                       IImapFolder* destination, std::int32_t* action) override;
  bool FireDeleteMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                         std::int32_t* action) override;
  bool FireWriteMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                        std::int32_t* action) override;
  bool FireCreateMessage(store::ImapUser& user, IImapFolder* folder, IImapMessage* message,
                         std::int32_t* action) override;

  // store::UserHost and imap::ServerContext
  IkivImapServer* Server() override { return this; }
  store::ImapUsers& Users() override { return *users_; }
  transport::CommandResult DispatchReceived(store::ImapUser& user, const char* data,
                                            std::size_t n) override;
  transport::CommandResult ResumeParked(store::ImapUser& user) override;
  std::int32_t Timeout() override { return timeout_; }
  OutputLimits ConnectionLimits() override { return limits_; }
  bool HasEventSinks() override { return !events_.empty(); }
  bool ModernProtocol() override { return protocol_level_ == ProtocolLevel::Modern; }
  WideString GoodbyeMessage() override { return goodbye_message_; }
  bool DebugLogEnabled() override { return !debug_file_.empty(); }
  void DebugLog(std::string_view text) override;

 private:
  // The accept procedure, for at most kAcceptBatch waiting connections per round.
  void OnAcceptReady() override;
  void AcceptOne(int fd, std::uint32_t peer);
  static constexpr int kAcceptBatch = 32;

  // Fires one event with its arguments (Variants, in natural order) to every sink, holding the
  // server meanwhile, and tells whether anyone else still holds it. Every reference the
  // arguments took is released before the count is read and before this returns.
  template <class... Args>
  bool ServerSurvives(DispId id, Args&&... args);
  // ServerSurvives, and the user outlived the event with its connection open (a host that
  // disconnects the user inside an event of its own command ends that command).
  template <class... Args>
  bool BothSurvive(store::ImapUser& user, DispId id, Args&&... args);

  Status Refuse(std::uint32_t code, const char16_t* message);
  Status StartListening();

  WideString bind_ip_ = WideString::Empty();
  std::int32_t port_ = 143;
  WideString greeting_message_{kDefaultGreeting};
  WideString goodbye_message_{kDefaultGreeting};
  std::int32_t timeout_ = 120;
  WideString debug_file_ = WideString::Empty();
  WideString my_hostname_ = WideString::Empty();
  WideString my_ip_ = WideString::Empty();
  bool started_ = false;
  OutputLimits limits_;
  ProtocolLevel protocol_level_ = ProtocolLevel::Described;
  // The loop the server listens and serves its connections on, from its first Start on.
  std::shared_ptr<EventLoop> loop_;
  std::unique_ptr<transport::CkivListenSocket> listener_;
  // Users that Stop let go while the host still held them: their connections live on (as
  // described), but end with the server.
  std::vector<automation::WeakRef<store::ImapUser>> released_;
  Ref<store::ImapUsers> users_;
  automation::ConnectionPoint events_;
  automation::PropertyNotifier notifier_;
};

}  // namespace kivimap::server
