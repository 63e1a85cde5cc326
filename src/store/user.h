// ImapUser: one connected client as the host sees it, and the holder of its connection, its
// folder tree and its protocol record.
//
// The server that accepted the user is a non-owning link (it reads as null once the server is
// gone). The connection belongs to the user alone: it is destroyed by the close step, by
// Disconnect, by the idle timeout, or with the user.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/owner_link.h"
#include "store/protocol_record.h"
#include "store/user_host.h"
#include "transport/user_socket.h"

namespace kivimap::store {

class ImapUser final : public automation::DispatchObject<IImapUser>,
                       public UserLink,
                       private transport::ConnectionOwner {
 public:
  static constexpr char kTimeoutLine[] = "* BAD timeout value exceeded... bye...\r\n";

  // State StateConnecting, TimeConnected now, an empty root folder collection, no connection.
  // Throws std::bad_alloc.
  ImapUser();
  ~ImapUser() override;

  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // IImapUser
  Status get_Hostname(WideString* out) override;
  Status put_Hostname(const WideString& value) override;
  Status get_Username(WideString* out) override;
  Status put_Username(const WideString& value) override;
  Status get_Password(WideString* out) override;
  Status put_Password(const WideString& value) override;
  Status get_BytesUpload(std::int32_t* out) override;
  Status put_BytesUpload(std::int32_t value) override;
  Status get_BytesDownload(std::int32_t* out) override;
  Status put_BytesDownload(std::int32_t value) override;
  Status get_TimeConnected(Date* out) override;
  Status put_TimeConnected(Date value) override;
  Status get_Tag(Variant* out) override;
  Status put_Tag(const Variant& value) override;
  Status get_State(std::int32_t* out) override;
  Status get_Index(std::int16_t* out) override;
  Status get_Folders(Ref<IImapFolders>* out) override;
  Status putref_Folders(IImapFolders* value) override;
  Status Disconnect() override;
  Status Send(const WideString& text) override;

  // UserLink
  IkivImapServer* LinkedServer() override;

  // The accepting server; the link clears itself when the server ends.
  void SetHost(UserHost* host) { host_.Reset(host); }
  UserHost* host() const { return host_.get(); }

  // Gives an accepted socket to a new connection on the loop and subscribes it. False when the
  // loop cannot watch it or memory is short; the socket is closed then, whatever happened.
  bool AttachSocket(int fd, std::shared_ptr<EventLoop> loop);
  // Closes the connection without any event, as when the server that could serve it is gone.
  void CloseConnectionQuietly();
  transport::CkivUserSocket* connection() const { return connection_.get(); }
  // Whether the host called Disconnect while the user had a server.
  bool disconnected_by_host() const { return disconnected_by_host_; }

  // The protocol engine's record of this connection (null until the engine made one).
  ProtocolRecord* protocol_record() const { return protocol_.get(); }
  void set_protocol_record(std::unique_ptr<ProtocolRecord> record) {
    protocol_ = std::move(record);
  }
  std::int32_t state() const { return state_; }
  const WideString& username() const { return username_; }
  const WideString& password() const { return password_; }

  // Where the server's users collection keeps this user; maintained by ImapUsers alone, so that
  // removing a user does not search the collection.
  std::size_t users_slot = static_cast<std::size_t>(-1);

  // The send path; without a connection the text is dropped.
  void QueueResponse(std::string_view text);
  void QueueBytes(const char* data, std::size_t n);
  void SendResponse(std::string_view text);
  void QueueFile(std::shared_ptr<transport::SharedFile> file, std::uint64_t offset,
                 std::uint64_t length);

 private:
  // ConnectionOwner
  transport::CommandResult OnConnectionData(const char* data, std::size_t n) override;
  transport::CommandResult OnConnectionResume() override;
  void OnConnectionAllSent() override;
  void OnConnectionClosed() override;
  void OnConnectionIdle() override;
  std::uint32_t IdleIntervalMs() override;
  OutputLimits Limits() override;
  bool DebugLogEnabled() override;
  void DebugLog(std::string_view text) override;

  // Closes the socket and destroys the connection, keeping its byte counters.
  void DropConnection();

  WideString hostname_ = WideString::Empty();
  WideString username_ = WideString::Empty();
  WideString password_ = WideString::Empty();
  Date time_connected_ = 0;
  Variant tag_;
  std::int32_t state_ = StateConnecting;
  Ref<IImapFolders> folders_;
  std::unique_ptr<transport::CkivUserSocket> connection_;
  std::unique_ptr<ProtocolRecord> protocol_;
  automation::WeakRef<UserHost> host_;
  // The counters of a connection that is gone, or of a user that never had one.
  std::uint32_t bytes_upload_ = 0;
  std::uint32_t bytes_download_ = 0;
  bool firing_disconnected_ = false;
  bool disconnected_by_host_ = false;
};

// An automation date (days since 30 December 1899) of a local calendar time, to the second.
Date AutomationDate(int year, int month, int day, int hour, int minute, int second);
// The local time now as an automation date, to the second.
Date LocalTimeNow();
// The idle timer's interval for a Timeout in seconds: 0 (no timer) for Timeout <= 0, and at
// most the largest 32-bit count of milliseconds.
std::uint32_t IdleIntervalFromTimeout(std::int32_t timeout_seconds);

}  // namespace kivimap::store
