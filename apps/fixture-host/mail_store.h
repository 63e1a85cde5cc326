// The host's own mail store, built once from the fixture's "folders", and the code that fills a
// user's object model from it on demand, the way a real host answers ListFolders and
// ListMessages. Every connection gets its own objects; what one connection changes (flags,
// subscriptions) is copied back here, so a later connection sees it.
//
// The link from an object to its store entry is the object's Tag, the property the component
// leaves free for the host:
//  - a folder's Tag is an I4: the store folder's index * 4, plus kSubFoldersFilled and
//    kMessagesFilled once those collections were filled (each is filled once);
//  - a message's Tag is an I4: the store message's index;
//  - a user's Tag is the I4 1 once its root collection was filled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fixture.h"
#include "json_writer.h"
#include "kivimap/kivimap.h"

namespace fixture_host {

class MailStore {
 public:
  explicit MailStore(const std::vector<FixtureFolder>& top);

  // ListFolders with a null parent: fills the user's root collection, once per user.
  void FillRoot(kivimap::IImapUser* user);
  // ListFolders with a folder: fills its SubFolders, once per folder object.
  void FillSubFolders(kivimap::IImapFolder* folder);
  // ListMessages: fills the folder's Messages, once per folder object.
  void FillMessages(kivimap::IImapFolder* folder);
  // FlagChange: the message's new flags become the stored ones.
  void FlagsChanged(kivimap::IImapMessage* message, std::int32_t new_flags);
  // SubscribeFolder: the folder's Subscribed property becomes the stored one.
  void SubscriptionChanged(kivimap::IImapFolder* folder);

  // Writes the user's current object-model tree as {"folders": [...]}'s value (an array).
  static void WriteTree(kivimap::IImapUser* user, JsonWriter* out);

 private:
  struct Folder {
    std::string name;
    std::optional<std::int32_t> uid;
    std::optional<std::int32_t> nextuid;
    bool subscribed = false;
    std::vector<std::size_t> messages;  // indexes into messages_
    std::vector<std::size_t> children;  // indexes into folders_
  };

  std::size_t AddFolder(const FixtureFolder& entry);
  void FillCollection(kivimap::IImapFolders* collection, const std::vector<std::size_t>& nodes);
  // The Tag of a folder object that stands for a store folder (index * 4 plus its fill bits).
  std::optional<std::int32_t> FolderTag(kivimap::IImapFolder* folder) const;

  std::vector<Folder> folders_;
  std::vector<FixtureMessage> messages_;
  std::vector<std::size_t> top_;
};

}  // namespace fixture_host
