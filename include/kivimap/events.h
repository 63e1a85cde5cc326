// _IkivImapServerEvents: what the server tells and asks its host. Sinks are dispatch objects
// connected with IkivImapServer::Advise; each event is an Invoke with the id below and the
// arguments in the listed order (laid out last first in DispParams). Action and Command arrive
// by reference: a sink may change them, and the next sink sees the change.
//
// C++ hosts derive from ImapServerEvents and override the events they care about.
#pragma once

#include <cstdint>

#include "kivimap/interfaces.h"

namespace kivimap {

enum ImapServerEventId : DispId {
  EventConnecting = 1,       // User, Action
  EventCommand = 2,          // User, Command
  EventConnected = 3,        // User, Username, Password, Action
  EventDisconnected = 4,     // User
  EventStateChange = 5,      // User, NewState, OldState
  EventListFolders = 6,      // User, ParentFolder
  EventSubscribeFolder = 7,  // User, Folder
  EventCreateFolder = 8,     // User, ParentFolder, Name, Action
  EventDeleteFolder = 9,     // User, ParentFolder, Folder, Action
  EventMoveFolder = 10,      // User, ParentFolder, Folder, DestinationFolder, DestinationName, Action
  EventListMessages = 11,    // User, Folder
  EventReadMessage = 12,     // User, Folder, Message
  EventFlagChange = 13,      // User, Folder, Message, NewFlags, OldFlags
  EventCopyMessage = 14,     // User, Folder, Message, Destination, Action
  EventMoveMessage = 15,     // User, Folder, Message, Destination, Action (never fired)
  EventDeleteMessage = 16,   // User, Folder, Message, Action
  EventWriteMessage = 17,    // User, Folder, Message, Action
  EventCreateMessage = 18,   // User, Folder, Message, Action
};

// Typed sink base: unpacks Invoke into one virtual per event. Object arguments may be null
// (a null folder is the root). *Action holds an ImapActions value; *Command the command line.
// Reference-counted like every object here: create with new, hand to Advise, keep a Ref.
class ImapServerEvents : public IDispatch {
 public:
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  virtual void OnConnecting(IImapUser* /*User*/, std::int32_t* /*Action*/) {}
  virtual void OnCommand(IImapUser* /*User*/, WideString* /*Command*/) {}
  virtual void OnConnected(IImapUser* /*User*/, const WideString& /*Username*/,
                           const WideString& /*Password*/, std::int32_t* /*Action*/) {}
  virtual void OnDisconnected(IImapUser* /*User*/) {}
  virtual void OnStateChange(IImapUser* /*User*/, std::int32_t /*NewState*/,
                             std::int32_t /*OldState*/) {}
  virtual void OnListFolders(IImapUser* /*User*/, IImapFolder* /*ParentFolder*/) {}
  virtual void OnSubscribeFolder(IImapUser* /*User*/, IImapFolder* /*Folder*/) {}
  virtual void OnCreateFolder(IImapUser* /*User*/, IImapFolder* /*ParentFolder*/,
                              const WideString& /*Name*/, std::int32_t* /*Action*/) {}
  virtual void OnDeleteFolder(IImapUser* /*User*/, IImapFolder* /*ParentFolder*/,
                              IImapFolder* /*Folder*/, std::int32_t* /*Action*/) {}
  virtual void OnMoveFolder(IImapUser* /*User*/, IImapFolder* /*ParentFolder*/,
                            IImapFolder* /*Folder*/, IImapFolder* /*DestinationFolder*/,
                            const WideString& /*DestinationName*/, std::int32_t* /*Action*/) {}
  virtual void OnListMessages(IImapUser* /*User*/, IImapFolder* /*Folder*/) {}
  virtual void OnReadMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                             IImapMessage* /*Message*/) {}
  virtual void OnFlagChange(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                            IImapMessage* /*Message*/, std::int32_t /*NewFlags*/,
                            std::int32_t /*OldFlags*/) {}
  virtual void OnCopyMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                             IImapMessage* /*Message*/, IImapFolder* /*Destination*/,
                             std::int32_t* /*Action*/) {}
  virtual void OnMoveMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                             IImapMessage* /*Message*/, IImapFolder* /*Destination*/,
                             std::int32_t* /*Action*/) {}
  virtual void OnDeleteMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                               IImapMessage* /*Message*/, std::int32_t* /*Action*/) {}
  virtual void OnWriteMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                              IImapMessage* /*Message*/, std::int32_t* /*Action*/) {}
  virtual void OnCreateMessage(IImapUser* /*User*/, IImapFolder* /*Folder*/,
                               IImapMessage* /*Message*/, std::int32_t* /*Action*/) {}

 protected:
  ~ImapServerEvents() override = default;

 private:
  std::uint32_t refs_ = 0;
};

}  // namespace kivimap
