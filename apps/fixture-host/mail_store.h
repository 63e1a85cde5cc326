// The host's own mail store, built once from the fixture's "folders", and the code that fills a
// user's object model from it on demand, the way a real host answers ListFolders and
// ListMessages. Every connection gets its own objects; what one connection changes (flags,
// subscriptions, folders created, deleted or moved, messages expunged or appended) is made in
// that connection's objects as a real host makes it inside the event, and copied back here, so a
// later connection sees it.
//
// The link from an object to its store entry is the object's Tag, the property the component
// leaves free for the host:
//  - a folder's Tag is an I4: the store folder's index * 4, plus kSubFoldersFilled and
//    kMessagesFilled once those collections were filled (each is filled once);
//  - a message's Tag is an I4: the store message's index (an appended message gets one when
//    CreateMessage is allowed, and joins its store folder's list once WriteMessage keeps it);
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
  // append_dir: where kept appended messages are written (ends with "/"), or empty for nowhere.
  explicit MailStore(const std::vector<FixtureFolder>& top, std::string append_dir = {});

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

  // What an allowed CreateFolder, DeleteFolder, MoveFolder, CopyMessage and DeleteMessage, an allowed
  // CreateMessage and a kept WriteMessage do, with the event's arguments (a null parent or
  // destination is the user's root). Each changes the store and the user's objects alike.
  void CreateFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                    const kivimap::WideString& name);
  void DeleteFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                    kivimap::IImapFolder* folder);
  // False, with nothing changed, when the move cannot be made: the destination is the folder
  // itself or inside it, or the folder or destination is not one of the store's.
  bool MoveFolder(kivimap::IImapUser* user, kivimap::IImapFolder* parent,
                  kivimap::IImapFolder* folder, kivimap::IImapFolder* destination,
                  const kivimap::WideString& name);
  void DeleteMessage(kivimap::IImapFolder* folder, kivimap::IImapMessage* message);
  // A copy of the message (same file, range and flags) with the destination's next UID.
  void CopyMessage(kivimap::IImapFolder* destination, kivimap::IImapMessage* message);
  void CreateMessage(kivimap::IImapFolder* folder, kivimap::IImapMessage* message);
  void WriteMessage(kivimap::IImapFolder* folder, kivimap::IImapMessage* message);

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
  // The store folder a folder object stands for.
  std::optional<std::size_t> FolderNode(kivimap::IImapFolder* folder) const;
  // The store message a message object stands for.
  std::optional<std::size_t> MessageIndex(kivimap::IImapMessage* message) const;
  // The list of sub-folders that holds the store folder (top_ for the root level).
  std::vector<std::size_t>* ListHolding(std::size_t node);
  bool Contains(std::size_t root, std::size_t node) const;  // node is root or below it
  // Makes the store folder appear in the user's collection that stands for `parent` (the root
  // collection when null): added alone when that collection was filled, else filled whole now.
  void Show(kivimap::IImapUser* user, kivimap::IImapFolder* parent, std::size_t node);
  // Copies the message's bytes into a new file in append_dir_; its name, or "" on failure.
  std::string KeepFile(kivimap::IImapMessage* message, std::int32_t folder_uid);

  std::vector<Folder> folders_;
  std::vector<FixtureMessage> messages_;
  std::vector<std::size_t> top_;
  std::string append_dir_;
};

}  // namespace fixture_host
