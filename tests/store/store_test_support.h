// Shared by the store tests: a temporary directory with real files, readers for a message's
// text and parts, and a stand-in for the server a user links to.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/messages.h"
#include "store/user.h"
#include "store/user_host.h"
#include "store/users.h"

namespace kivimap::store::testing {

inline WideString W(std::string_view narrow) { return ToWide(narrow); }
inline std::string N(const WideString& wide) { return wide.ToNarrow(); }

// A directory of its own for each test, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivstoreXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes the bytes exactly (binary) and returns the file's path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = File(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Ref<ImapMessage> MessageOn(const std::string& path) {
  Ref<ImapMessage> message = ImapMessage::Create();
  EXPECT_EQ(message->put_Filename(W(path)), StatusOk);
  return message;
}

inline std::string TextOf(IImapMessage* message) {
  WideString text;
  EXPECT_EQ(message->get_Text(&text), StatusOk);
  return N(text);
}

inline ImapMessages& PartsOf(ImapMessage& message) {
  Ref<IImapMessages> parts;
  EXPECT_EQ(message.get_Parts(&parts), StatusOk);
  return *ImapMessages::FromInterface(parts.get());
}

// A server that does nothing but exist: users link to it, and through them folders and messages.
class StubServer final : public automation::DispatchObject<IkivImapServer>, public UserHost {
 public:
  IkivImapServer* Server() override { return this; }
  ImapUsers& Users() override { return *users_; }
  transport::CommandResult DispatchReceived(ImapUser&, const char*, std::size_t) override {
    return transport::CommandResult::Done;
  }
  transport::CommandResult ResumeParked(ImapUser&) override {
    return transport::CommandResult::Done;
  }
  OutputLimits ConnectionLimits() override { return {}; }
  bool FireStateChange(ImapUser&, std::int32_t, std::int32_t) override { return true; }
  bool FireDisconnected(ImapUser&) override { return true; }
  std::int32_t Timeout() override { return 0; }
  bool DebugLogEnabled() override { return false; }
  void DebugLog(std::string_view) override {}

  static constexpr Status kNo = StatusNotImplemented;
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return kNo; }
  Status Invoke(DispId, InvokeFlags, DispParams&, Variant*) override { return kNo; }
  Status get_BindIP(WideString*) override { return kNo; }
  Status put_BindIP(const WideString&) override { return kNo; }
  Status get_GoodbyeMessage(WideString*) override { return kNo; }
  Status put_GoodbyeMessage(const WideString&) override { return kNo; }
  Status get_GreetingMessage(WideString*) override { return kNo; }
  Status put_GreetingMessage(const WideString&) override { return kNo; }
  Status get_Port(std::int32_t*) override { return kNo; }
  Status put_Port(std::int32_t) override { return kNo; }
  Status get_Timeout(std::int32_t*) override { return kNo; }
  Status put_Timeout(std::int32_t) override { return kNo; }
  Status get_MyHostname(WideString*) override { return kNo; }
  Status put_MyHostname(const WideString&) override { return kNo; }
  Status get_MyIP(WideString*) override { return kNo; }
  Status put_MyIP(const WideString&) override { return kNo; }
  Status get_Version(WideString*) override { return kNo; }
  Status put_Version(const WideString&) override { return kNo; }
  Status get_Users(Ref<IImapUsers>*) override { return kNo; }
  Status Start() override { return kNo; }
  Status Stop() override { return kNo; }
  Status get_DebugFile(WideString*) override { return kNo; }
  Status put_DebugFile(const WideString&) override { return kNo; }
  Status Advise(IDispatch*, std::uint32_t*) override { return kNo; }
  Status Unadvise(std::uint32_t) override { return kNo; }
  Status AdvisePropertyNotify(IPropertyNotifySink*, std::uint32_t*) override { return kNo; }
  Status UnadvisePropertyNotify(std::uint32_t) override { return kNo; }
  bool IsDirty() override { return false; }
  void SetDirty(bool) override {}
  std::uint16_t ListeningPort() override { return 0; }
  Status SetOutputLimits(const OutputLimits&) override { return kNo; }
  OutputLimits GetOutputLimits() override { return {}; }
  Status SetProtocolLevel(ProtocolLevel) override { return kNo; }
  ProtocolLevel GetProtocolLevel() override { return ProtocolLevel::Described; }

 private:
  Ref<ImapUsers> users_{new ImapUsers};
};

}  // namespace kivimap::store::testing
