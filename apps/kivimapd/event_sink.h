// kivimapd's event sink: logs connections and logins, checks passwords, and carries out every
// event in the user's Maildir, keeping the server's object model in step with the disk.
//
// A refused login: the server itself completes every LOGIN, so the sink answers the command
// with "<tag> NO [AUTHENTICATIONFAILED] <command> failed" through the user's Send and ends the
// connection from inside Connected. Every refused change (an unsafe mailbox name, a folder
// that exists, a file that cannot be moved) leaves Action at Deny, which the client sees as
// NO, and logs why.
#pragma once

#include <cstdint>
#include <string>

#include "kivimap/kivimap.h"
#include "users_file.h"

namespace kivimapd {

class MaildirHost final : public kivimap::ImapServerEvents {
 public:
  // maildir_root holds one Maildir per user; users must outlive the sink.
  MaildirHost(std::string maildir_root, const UsersFile* users)
      : root_(std::move(maildir_root)), users_(users) {}

  void OnConnecting(kivimap::IImapUser* user, std::int32_t* action) override;
  void OnCommand(kivimap::IImapUser* user, kivimap::WideString* command) override;
  void OnConnected(kivimap::IImapUser* user, const kivimap::WideString& username,
                   const kivimap::WideString& password, std::int32_t* action) override;
  void OnDisconnected(kivimap::IImapUser* user) override;
  void OnListFolders(kivimap::IImapUser* user, kivimap::IImapFolder* parent) override;
  void OnSubscribeFolder(kivimap::IImapUser* user, kivimap::IImapFolder* folder) override;
  void OnCreateFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                      const kivimap::WideString& name, std::int32_t* action) override;
  void OnDeleteFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                      kivimap::IImapFolder* folder, std::int32_t* action) override;
  void OnMoveFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                    kivimap::IImapFolder* folder, kivimap::IImapFolder* destination_folder,
                    const kivimap::WideString& destination_name, std::int32_t* action) override;
  void OnListMessages(kivimap::IImapUser* user, kivimap::IImapFolder* folder) override;
  void OnReadMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                     kivimap::IImapMessage* message) override;
  void OnFlagChange(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                    kivimap::IImapMessage* message, std::int32_t new_flags,
                    std::int32_t old_flags) override;
  void OnCopyMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                     kivimap::IImapMessage* message, kivimap::IImapFolder* destination,
                     std::int32_t* action) override;
  void OnDeleteMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                       kivimap::IImapMessage* message, std::int32_t* action) override;
  void OnWriteMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                      kivimap::IImapMessage* message, std::int32_t* action) override;
  void OnCreateMessage(kivimap::IImapUser* user, kivimap::IImapFolder* folder,
                       kivimap::IImapMessage* message, std::int32_t* action) override;

 private:
  ~MaildirHost() override = default;

  std::string root_;
  const UsersFile* users_;
  std::uint64_t connections_ = 0;
};

}  // namespace kivimapd
