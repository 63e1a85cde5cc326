#include "store/owner_link.h"

#include "store/folders.h"

namespace kivimap::store {

void SetRootCollectionOwner(IImapFolders* folders, IImapUser* owner) {
  ImapFolders* root = ImapFolders::FromInterface(folders);
  if (!root) return;
  root->SetOwnerUser(owner);
  root->SetParentFolder(nullptr);
}

void AdoptCollectionLinks(IImapFolders* new_root, IImapFolders* old_root) {
  ImapFolders* adopter = ImapFolders::FromInterface(new_root);
  const ImapFolders* previous = ImapFolders::FromInterface(old_root);
  if (!adopter || !previous || adopter == previous) return;
  adopter->SetOwnerUser(previous->OwnerUser());
  adopter->SetParentFolder(previous->ParentFolder());
}

}  // namespace kivimap::store
