// What kivimapd knows of one connection: who it is, the user's Maildir once logged in, the
// command being run, and the folder selected. It lives in the user object's Tag (the property
// the server leaves to the host), so it ends with the user whichever way the connection ends.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kivimap/kivimap.h"
#include "maildir.h"

namespace kivimapd {

class Session final : public kivimap::IDispatch {
 public:
  Session(std::uint64_t id, std::string peer) : id_(id), peer_(std::move(peer)) {}

  // The session kept in the user's Tag; null for a user without one.
  static kivimap::Ref<Session> Of(kivimap::IImapUser* user);

  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override;
  kivimap::Status GetIDsOfNames(std::u16string_view, kivimap::DispId*) override {
    return kivimap::StatusUnknownName;
  }
  kivimap::Status Invoke(kivimap::DispId, kivimap::InvokeFlags, kivimap::DispParams&,
                         kivimap::Variant*) override {
    return kivimap::StatusMemberNotFound;
  }

  // "#12 127.0.0.1" before login, "#12 demo" after: how log lines name the connection.
  std::string Label() const;
  const std::string& peer() const { return peer_; }

  void LoggedIn(const std::string& name, const std::string& maildir);
  bool logged_in() const { return maildir_.has_value(); }
  const UserMaildir& maildir() const { return *maildir_; }

  // Told of every command line: keeps its tag and name ("UID COPY" as "COPY").
  void CommandStarted(const std::string& line);
  const std::string& tag() const { return tag_; }
  const std::string& command() const { return command_; }
  bool selecting() const { return command_ == "SELECT" || command_ == "EXAMINE"; }

  // The folders on disk and the subscriptions, read once per command; Changed() after this
  // session changed either.
  const std::vector<Levels>& Folders();
  const std::set<std::string>& Subscriptions();
  void Changed() { view_serial_ = 0; }

  kivimap::Ref<kivimap::IImapFolder> selected;

 private:
  ~Session() override;
  void Refresh();

  std::uint32_t refs_ = 0;
  std::uint64_t id_;
  std::string peer_;
  std::string user_;
  std::optional<UserMaildir> maildir_;
  std::string tag_;
  std::string command_;
  std::uint64_t serial_ = 1;
  std::uint64_t view_serial_ = 0;
  std::vector<Levels> folders_;
  std::set<std::string> subscriptions_;
};

}  // namespace kivimapd
