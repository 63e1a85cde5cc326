// Shared by the store tests: a temporary directory with real files, and stand-ins for the
// user and server objects that the store only links to.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/owner_link.h"

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

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A server object that does nothing; the store only keeps non-owning links to it.
class StubServer final : public automation::DispatchObject<IkivImapServer> {
 public:
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusNotImplemented; }
  Status Invoke(DispId, InvokeFlags, DispParams&, Variant*) override {
    return StatusNotImplemented;
  }
  Status get_BindIP(WideString*) override { return StatusNotImplemented; }
  Status put_BindIP(const WideString&) override { return StatusNotImplemented; }
  Status get_GoodbyeMessage(WideString*) override { return StatusNotImplemented; }
  Status put_GoodbyeMessage(const WideString&) override { return StatusNotImplemented; }
  Status get_GreetingMessage(WideString*) override { return StatusNotImplemented; }
  Status put_GreetingMessage(const WideString&) override { return StatusNotImplemented; }
  Status get_Port(std::int32_t*) override { return StatusNotImplemented; }
  Status put_Port(std::int32_t) override { return StatusNotImplemented; }
  Status get_Timeout(std::int32_t*) override { return StatusNotImplemented; }
  Status put_Timeout(std::int32_t) override { return StatusNotImplemented; }
  Status get_MyHostname(WideString*) override { return StatusNotImplemented; }
  Status put_MyHostname(const WideString&) override { return StatusNotImplemented; }
  Status get_MyIP(WideString*) override { return StatusNotImplemented; }
  Status put_MyIP(const WideString&) override { return StatusNotImplemented; }
  Status get_Version(WideString*) override { return StatusNotImplemented; }
  Status put_Version(const WideString&) override { return StatusNotImplemented; }
  Status get_Users(Ref<IImapUsers>*) override { return StatusNotImplemented; }
  Status Start() override { return StatusNotImplemented; }
  Status Stop() override { return StatusNotImplemented; }
  Status get_DebugFile(WideString*) override { return StatusNotImplemented; }
  Status put_DebugFile(const WideString&) override { return StatusNotImplemented; }
  Status Advise(IDispatch*, std::uint32_t*) override { return StatusNotImplemented; }
  Status Unadvise(std::uint32_t) override { return StatusNotImplemented; }
  Status AdvisePropertyNotify(IPropertyNotifySink*, std::uint32_t*) override {
    return StatusNotImplemented;
  }
  Status UnadvisePropertyNotify(std::uint32_t) override { return StatusNotImplemented; }
  bool IsDirty() override { return false; }
  void SetDirty(bool) override {}
};

// A user that names its server the way the real user object does, through UserLink.
class StubUser final : public automation::DispatchObject<IImapUser>, public UserLink {
 public:
  explicit StubUser(IkivImapServer* server) : server_(server) {}
  IkivImapServer* LinkedServer() override { return server_.get(); }

  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusNotImplemented; }
  Status Invoke(DispId, InvokeFlags, DispParams&, Variant*) override {
    return StatusNotImplemented;
  }
  Status get_Hostname(WideString*) override { return StatusNotImplemented; }
  Status put_Hostname(const WideString&) override { return StatusNotImplemented; }
  Status get_Username(WideString*) override { return StatusNotImplemented; }
  Status put_Username(const WideString&) override { return StatusNotImplemented; }
  Status get_Password(WideString*) override { return StatusNotImplemented; }
  Status put_Password(const WideString&) override { return StatusNotImplemented; }
  Status get_BytesUpload(std::int32_t*) override { return StatusNotImplemented; }
  Status put_BytesUpload(std::int32_t) override { return StatusNotImplemented; }
  Status get_BytesDownload(std::int32_t*) override { return StatusNotImplemented; }
  Status put_BytesDownload(std::int32_t) override { return StatusNotImplemented; }
  Status get_TimeConnected(Date*) override { return StatusNotImplemented; }
  Status put_TimeConnected(Date) override { return StatusNotImplemented; }
  Status get_Tag(Variant*) override { return StatusNotImplemented; }
  Status put_Tag(const Variant&) override { return StatusNotImplemented; }
  Status get_State(std::int32_t*) override { return StatusNotImplemented; }
  Status get_Index(std::int16_t*) override { return StatusNotImplemented; }
  Status get_Folders(Ref<IImapFolders>*) override { return StatusNotImplemented; }
  Status putref_Folders(IImapFolders*) override { return StatusNotImplemented; }
  Status Disconnect() override { return StatusNotImplemented; }
  Status Send(const WideString&) override { return StatusNotImplemented; }

 private:
  automation::WeakRef<IkivImapServer> server_;
};

}  // namespace kivimap::store::testing
