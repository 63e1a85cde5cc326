// Where the folder tree meets the user that owns it. The user object lives in this layer too, but
// folders and messages know it only through this small interface, so that they never depend on
// the connection or the server behind it.
#pragma once

#include "kivimap/interfaces.h"

namespace kivimap::store {

// Implemented by the user object.
class UserLink {
 public:
  // The server that accepted the user, or null (a host-created user, or the server is gone).
  virtual IkivImapServer* LinkedServer() = 0;

 protected:
  virtual ~UserLink() = default;
};

// Makes folders the root collection of owner: OwnerUser = owner, no ParentFolder.
// Does nothing when folders is not one of ours.
void SetRootCollectionOwner(IImapFolders* folders, IImapUser* owner);
// For putref Folders: the new collection takes over the OwnerUser and ParentFolder links of the
// collection it replaces.
void AdoptCollectionLinks(IImapFolders* new_root, IImapFolders* old_root);

}  // namespace kivimap::store
