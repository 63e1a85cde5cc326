#include "store/user.h"

#include <unistd.h>

#include <array>
#include <ctime>
#include <limits>
#include <new>
#include <utility>

#include "automation/guarded.h"
#include "store/users.h"

namespace kivimap::store {

namespace {

constexpr std::array<int, 12> kDaysBeforeMonth = {0,   31,  59,  90,  120, 151,
                                                  181, 212, 243, 273, 304, 334};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

Date AutomationDate(int year, int month, int day, int hour, int minute, int second) {
  long days = long{year} * 365 + year / 4 - year / 100 + year / 400;
  if (month >= 1 && month <= 12) days += kDaysBeforeMonth[static_cast<std::size_t>(month - 1)];
  days += day;
  if (month <= 2 && IsLeapYear(year)) days -= 1;
  days -= 693959;
  const double time_of_day = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days < 0 ? static_cast<double>(days) - time_of_day
                  : static_cast<double>(days) + time_of_day;
}

Date LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return AutomationDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

std::uint32_t IdleIntervalFromTimeout(std::int32_t timeout_seconds) {
  if (timeout_seconds <= 0) return 0;
  const std::int64_t ms = std::int64_t{timeout_seconds} * 1000;
  constexpr std::int64_t kMax = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(ms > kMax ? kMax : ms);
}

ImapUser::ImapUser() : time_connected_(LocalTimeNow()) {
  Ref<IImapFolders> folders;
  const Status s = CreateImapFolders(&folders);
  if (s == StatusOutOfMemory) throw std::bad_alloc();
  folders_ = std::move(folders);
  if (folders_) SetRootCollectionOwner(folders_.get(), this);
}

ImapUser::~ImapUser() {
  protocol_.reset();
  // Closes the socket and drops unsent output; no event fires and nothing more is sent.
  connection_.reset();
  folders_.Reset();
}

// --- IImapUser ---

Status ImapUser::get_Hostname(WideString* out) { return automation::CopyOut(hostname_, out); }
Status ImapUser::put_Hostname(const WideString& value) {
  return automation::CopyIn(value, &hostname_);
}
Status ImapUser::get_Username(WideString* out) { return automation::CopyOut(username_, out); }
Status ImapUser::put_Username(const WideString& value) {
  return automation::CopyIn(value, &username_);
}
Status ImapUser::get_Password(WideString* out) { return automation::CopyOut(password_, out); }
Status ImapUser::put_Password(const WideString& value) {
  return automation::CopyIn(value, &password_);
}

Status ImapUser::get_BytesUpload(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int32_t>(connection_ ? connection_->bytes_upload() : bytes_upload_);
  return StatusOk;
}

Status ImapUser::put_BytesUpload(std::int32_t value) {
  if (connection_) {
    connection_->set_bytes_upload(static_cast<std::uint32_t>(value));
  } else {
    bytes_upload_ = static_cast<std::uint32_t>(value);
  }
  return StatusOk;
}

Status ImapUser::get_BytesDownload(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int32_t>(connection_ ? connection_->bytes_download() : bytes_download_);
  return StatusOk;
}

Status ImapUser::put_BytesDownload(std::int32_t value) {
  if (connection_) {
    connection_->set_bytes_download(static_cast<std::uint32_t>(value));
  } else {
    bytes_download_ = static_cast<std::uint32_t>(value);
  }
  return StatusOk;
}

Status ImapUser::get_TimeConnected(Date* out) {
  if (!out) return StatusPointer;
  *out = time_connected_;
  return StatusOk;
}

Status ImapUser::put_TimeConnected(Date value) {
  time_connected_ = value;
  return StatusOk;
}

Status ImapUser::get_Tag(Variant* out) {
  if (!out) return StatusOk;
  return automation::CopyOut(tag_, out);
}

Status ImapUser::put_Tag(const Variant& value) {
  return automation::Guarded([&] {
    // A reference to the caller's variable would dangle: keep the value it points at.
    Variant copy = value.Deref();
    std::swap(tag_, copy);
    return StatusOk;  // the old value is released here, after the new one is in place
  });
}

Status ImapUser::get_State(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = state_;
  return StatusOk;
}

Status ImapUser::get_Index(std::int16_t* out) {
  if (!out) return StatusPointer;
  UserHost* host = host_.get();
  if (!host) return StatusInvalidArg;
  const auto position = host->Users().PositionOf(this);
  if (!position) return StatusInvalidArg;
  *out = static_cast<std::int16_t>(*position);
  return StatusOk;
}

Status ImapUser::get_Folders(Ref<IImapFolders>* out) {
  if (out) *out = folders_;
  return StatusOk;
}

Status ImapUser::putref_Folders(IImapFolders* value) {
  if (!value) return StatusOk;
  const Status adopted = automation::Guarded([&] {
    AdoptCollectionLinks(value, folders_.get());
    return StatusOk;
  });
  if (adopted != StatusOk) return adopted;
  Ref<IImapFolders> old = std::exchange(folders_, Ref<IImapFolders>(value));
  return StatusOk;
}

Status ImapUser::Disconnect() {
  UserHost* host = host_.get();
  if (!host) {
    // No server to tell: nothing fires, but a connection that outlived its server still ends,
    // rather than staying open after the host was told it was disconnected.
    if (connection_) {
      connection_->DiscardNotifications();
      connection_->CloseSocket();
      DropConnection();
    }
    return StatusOk;
  }
  // A host that disconnects the user from inside its own Disconnected event would otherwise
  // recurse without end.
  if (firing_disconnected_) return StatusOk;
  disconnected_by_host_ = true;
  Ref<ImapUser> keep(this);
  if (connection_) {
    connection_->DiscardNotifications();
    connection_->CloseSocket();
    connection_->DiscardNotifications();
    DropConnection();
  }
  firing_disconnected_ = true;
  const bool server_survives = host->FireDisconnected(*this);
  firing_disconnected_ = false;
  if (!server_survives) return StatusFail;
  if (UserHost* still = host_.get()) still->Users().Remove(this);
  return StatusOk;
}

Status ImapUser::Send(const WideString& text) {
  try {
    SendResponse(text.ToNarrow());
  } catch (...) {
    // Send reports success whatever happens to the text; the connection ends instead.
    if (connection_) connection_->Abort("connection closed: no memory for its output");
  }
  return StatusOk;
}

IkivImapServer* ImapUser::LinkedServer() {
  UserHost* host = host_.get();
  return host ? host->Server() : nullptr;
}

// --- engine side ---

bool ImapUser::AttachSocket(int fd, std::shared_ptr<EventLoop> loop) {
  try {
    connection_ = std::make_unique<transport::CkivUserSocket>(
        static_cast<transport::ConnectionOwner*>(this), std::move(loop));
  } catch (...) {
    ::close(fd);
    return false;
  }
  connection_->AttachSocket(fd);
  if (connection_->Subscribe(transport::CkivWinSocket::kConnectionMask)) return true;
  connection_.reset();
  return false;
}

void ImapUser::CloseConnectionQuietly() {
  if (!connection_) return;
  connection_->DiscardNotifications();
  DropConnection();
}

void ImapUser::QueueResponse(std::string_view text) {
  if (connection_) connection_->QueueResponse(text);
}

void ImapUser::QueueBytes(const char* data, std::size_t n) {
  if (connection_) connection_->QueueBytes(data, n);
}

void ImapUser::SendResponse(std::string_view text) {
  if (connection_) connection_->SendResponse(text);
}

void ImapUser::QueueFile(std::shared_ptr<transport::SharedFile> file, std::uint64_t offset,
                         std::uint64_t length) {
  if (connection_) connection_->QueueFile(std::move(file), offset, length);
}

void ImapUser::DropConnection() {
  if (!connection_) return;
  bytes_upload_ = connection_->bytes_upload();
  bytes_download_ = connection_->bytes_download();
  connection_->CloseSocket();
  connection_.reset();
}

// --- ConnectionOwner ---

transport::CommandResult ImapUser::OnConnectionData(const char* data, std::size_t n) {
  UserHost* host = host_.get();
  if (!host) {
    // Nothing can ever serve a connection that outlived its server: it ends now.
    CloseConnectionQuietly();
    return transport::CommandResult::Closed;
  }
  return host->DispatchReceived(*this, data, n);
}

transport::CommandResult ImapUser::OnConnectionResume() {
  UserHost* host = host_.get();
  if (!host) {
    CloseConnectionQuietly();
    return transport::CommandResult::Closed;
  }
  return host->ResumeParked(*this);
}

void ImapUser::OnConnectionAllSent() {
  if (state_ != StateConnecting) return;
  connection_->StartIdleTimer();
  const std::int32_t old_state = state_;
  state_ = StateWaitingUsername;
  if (UserHost* host = host_.get()) host->FireStateChange(*this, state_, old_state);
}

void ImapUser::OnConnectionClosed() {
  Ref<ImapUser> keep(this);
  UserHost* host = host_.get();
  if (connection_) {
    connection_->DiscardNotifications();
    DropConnection();
  }
  // With the server gone there is nobody to tell, but the socket is closed all the same.
  if (!host) return;
  firing_disconnected_ = true;
  const bool server_survives = host->FireDisconnected(*this);
  firing_disconnected_ = false;
  if (!server_survives) return;
  if (UserHost* still = host_.get()) still->Users().Remove(this);
}

void ImapUser::OnConnectionIdle() {
  Ref<ImapUser> keep(this);
  SendResponse(kTimeoutLine);
  if (UserHost* host = host_.get()) host->Users().Remove(this);
  // The line is on its way; a user the host still holds must not keep the socket open with the
  // timer firing again and again.
  DropConnection();
}

OutputLimits ImapUser::Limits() {
  UserHost* host = host_.get();
  return host ? host->ConnectionLimits() : OutputLimits{};
}

std::uint32_t ImapUser::IdleIntervalMs() {
  UserHost* host = host_.get();
  return host ? IdleIntervalFromTimeout(host->Timeout()) : 0;
}

bool ImapUser::DebugLogEnabled() {
  UserHost* host = host_.get();
  return host && host->DebugLogEnabled();
}

void ImapUser::DebugLog(std::string_view text) {
  if (UserHost* host = host_.get()) host->DebugLog(text);
}

}  // namespace kivimap::store

namespace kivimap {

Status CreateImapUser(Ref<IImapUser>* out) {
  return automation::HandOut(out, [] { return new store::ImapUser; });
}

}  // namespace kivimap
