// The host-visible classes of kivimap. Properties are get_Name/put_Name members, methods return
// a Status; no exception crosses this boundary. Each interface is also reachable late-bound
// through IDispatch::Invoke with the dispatch ids noted beside its members.
//
// Getters that hand out an object or a Variant accept a null out-argument and then succeed
// without handing anything out.
#pragma once

#include <cstdint>

#include "kivimap/host_support.h"
#include "kivimap/object.h"
#include "kivimap/output_limits.h"
#include "kivimap/protocol_level.h"
#include "kivimap/variant.h"
#include "kivimap/wide_string.h"

namespace kivimap {

enum ImapUserStates : std::int32_t {
  StateNotConnected = 0,
  StateConnecting = 1,
  StateWaitingUsername = 2,
  StateWaitingPassword = 3,
  StateLoggedIn = 4,
};

enum ImapActions : std::int32_t {
  Deny = 0,   // "Deny execution of the action."
  Allow = 1,  // "Allow to execute action."
};

enum ImapMessageFlags : std::int32_t {
  Flagged = 1,
  Seen = 2,
  Answered = 4,
  Deleted = 8,
  Draft = 16,
  Recent = 32,
};

class IImapUser;
class IImapUsers;
class IImapFolder;
class IImapFolders;
class IImapMessage;
class IImapMessages;
class IImapMessageHeader;
class IImapMessageHeaders;

class IImapMessageHeader : public IDispatch {
 public:
  virtual Status get_Name(WideString* out) = 0;     // [1]
  virtual Status get_Value(WideString* out) = 0;    // [2]
  virtual Status ToString(WideString* out) = 0;     // [0] Name ": " Value
};

class IImapMessageHeaders : public IDispatch {
 public:
  // [0] by name (ASCII case-insensitive, a string or a reference to one) or by 0-based index
  // (any other variant, converted to a 16-bit integer).
  virtual Status get_Item(const Variant& index, Ref<IImapMessageHeader>* out) = 0;
  virtual Status get_Count(std::int16_t* out) = 0;  // [4]
  virtual Status ToString(WideString* out) = 0;     // [5] every field + CR LF
};

class IImapMessage : public IDispatch {
 public:
  virtual Status get_Body(WideString* out) = 0;                   // [0] the whole file
  virtual Status get_Tag(Variant* out) = 0;                       // [1]
  virtual Status put_Tag(const Variant& value) = 0;               // [1]
  virtual Status get_Size(std::int32_t* out) = 0;                 // [2]
  virtual Status get_Filename(WideString* out) = 0;               // [3]
  virtual Status put_Filename(const WideString& value) = 0;       // [3]
  virtual Status get_StartPosition(std::int32_t* out) = 0;        // [4]
  virtual Status put_StartPosition(std::int32_t value) = 0;       // [4]
  virtual Status get_EndPosition(std::int32_t* out) = 0;          // [5]
  virtual Status put_EndPosition(std::int32_t value) = 0;         // [5]
  virtual Status get_Index(std::int16_t* out) = 0;                // [6]
  virtual Status get_Flags(std::int32_t* out) = 0;                // [7] ImapMessageFlags bits
  virtual Status put_Flags(std::int32_t value) = 0;               // [7]
  virtual Status get_UID(std::int32_t* out) = 0;                  // [8]
  virtual Status put_UID(std::int32_t value) = 0;                 // [8]
  virtual Status get_Text(WideString* out) = 0;                   // [9] body without headers
  virtual Status get_Headers(Ref<IImapMessageHeaders>* out) = 0;  // [10]
  virtual Status get_Parts(Ref<IImapMessages>* out) = 0;          // [11] MIME parts
};

class IImapMessages : public IDispatch {
 public:
  virtual Status get_Item(std::int16_t index, Ref<IImapMessage>* out) = 0;  // [0]
  virtual Status get_Count(std::int16_t* out) = 0;                          // [1]
  // [2] message: an IImapMessage to list, or anything else (Empty) to create a new one.
  virtual Status Add(const Variant& message, Ref<IImapMessage>* out) = 0;
  virtual Status Remove(const Variant& message) = 0;  // [3] by index or by object
  virtual Status RemoveAll() = 0;                     // [4]
};

class IImapFolder : public IDispatch {
 public:
  virtual Status get_Name(WideString* out) = 0;                  // [1]
  virtual Status put_Name(const WideString& value) = 0;          // [1]
  virtual Status get_Messages(Ref<IImapMessages>* out) = 0;      // [2]
  virtual Status get_SubFolders(Ref<IImapFolders>* out) = 0;     // [3]
  virtual Status get_Tag(Variant* out) = 0;                      // [4]
  virtual Status put_Tag(const Variant& value) = 0;              // [4]
  virtual Status get_UID(std::int32_t* out) = 0;                 // [5] UIDVALIDITY
  virtual Status put_UID(std::int32_t value) = 0;                // [5]
  virtual Status get_Location(WideString* out) = 0;              // [6] free for the host
  virtual Status put_Location(const WideString& value) = 0;      // [6]
  virtual Status get_Subscribed(VariantBool* out) = 0;           // [7]
  virtual Status put_Subscribed(VariantBool value) = 0;          // [7]
  virtual Status get_Path(WideString* out) = 0;                  // [8] "/Parent/Name"
  virtual Status get_NextMessageUID(std::int32_t* out) = 0;      // [9]
  virtual Status put_NextMessageUID(std::int32_t value) = 0;     // [9]
};

class IImapFolders : public IDispatch {
 public:
  // [0] by 0-based index (I2/I4, or a reference to one) or by exact Name (a string).
  virtual Status get_Item(const Variant& id, Ref<IImapFolder>* out) = 0;
  virtual Status get_Count(std::int16_t* out) = 0;                          // [1]
  virtual Status Add(const WideString& name, Ref<IImapFolder>* out) = 0;    // [2]
  virtual Status Remove(const Variant& folder) = 0;  // [3] index, name or object
  virtual Status RemoveAll() = 0;                    // [4]
};

class IImapUser : public IDispatch {
 public:
  virtual Status get_Hostname(WideString* out) = 0;              // [1]
  virtual Status put_Hostname(const WideString& value) = 0;      // [1]
  virtual Status get_Username(WideString* out) = 0;              // [2]
  virtual Status put_Username(const WideString& value) = 0;      // [2]
  virtual Status get_Password(WideString* out) = 0;              // [3]
  virtual Status put_Password(const WideString& value) = 0;      // [3]
  virtual Status get_BytesUpload(std::int32_t* out) = 0;         // [4]
  virtual Status put_BytesUpload(std::int32_t value) = 0;        // [4]
  virtual Status get_BytesDownload(std::int32_t* out) = 0;       // [5]
  virtual Status put_BytesDownload(std::int32_t value) = 0;      // [5]
  virtual Status get_TimeConnected(Date* out) = 0;               // [6]
  virtual Status put_TimeConnected(Date value) = 0;              // [6]
  virtual Status get_Tag(Variant* out) = 0;                      // [7]
  virtual Status put_Tag(const Variant& value) = 0;              // [7]
  virtual Status get_State(std::int32_t* out) = 0;               // [8] ImapUserStates
  virtual Status get_Index(std::int16_t* out) = 0;               // [9]
  virtual Status get_Folders(Ref<IImapFolders>* out) = 0;        // [10]
  virtual Status putref_Folders(IImapFolders* value) = 0;        // [10]
  virtual Status Disconnect() = 0;                               // [11]
  virtual Status Send(const WideString& text) = 0;               // [12] no line end added
};

class IImapUsers : public IDispatch {
 public:
  virtual Status get_Item(std::int16_t index, Ref<IImapUser>* out) = 0;  // [0]
  virtual Status get_Count(std::int16_t* out) = 0;                       // [1]
};

class IkivImapServer : public IDispatch {
 public:
  virtual Status get_BindIP(WideString* out) = 0;                // [1]
  virtual Status put_BindIP(const WideString& value) = 0;        // [1]
  virtual Status get_GoodbyeMessage(WideString* out) = 0;        // [2]
  virtual Status put_GoodbyeMessage(const WideString& value) = 0;  // [2]
  virtual Status get_GreetingMessage(WideString* out) = 0;       // [3]
  virtual Status put_GreetingMessage(const WideString& value) = 0;  // [3]
  virtual Status get_Port(std::int32_t* out) = 0;                // [4]
  virtual Status put_Port(std::int32_t value) = 0;               // [4]
  virtual Status get_Timeout(std::int32_t* out) = 0;             // [5] seconds
  virtual Status put_Timeout(std::int32_t value) = 0;            // [5]
  virtual Status get_MyHostname(WideString* out) = 0;            // [6]
  virtual Status put_MyHostname(const WideString& value) = 0;    // [6]
  virtual Status get_MyIP(WideString* out) = 0;                  // [7]
  virtual Status put_MyIP(const WideString& value) = 0;          // [7]
  virtual Status get_Version(WideString* out) = 0;               // [8]
  virtual Status put_Version(const WideString& value) = 0;       // [8] ignored
  virtual Status get_Users(Ref<IImapUsers>* out) = 0;            // [9]
  virtual Status Start() = 0;                                    // [10]
  virtual Status Stop() = 0;                                     // [11]
  virtual Status get_DebugFile(WideString* out) = 0;             // [12]
  virtual Status put_DebugFile(const WideString& value) = 0;     // [12]

  // Event sinks (_IkivImapServerEvents): dispatch objects, called in slot order.
  // Advise fills the first empty slot; the cookie names the slot for Unadvise.
  virtual Status Advise(IDispatch* sink, std::uint32_t* cookie) = 0;
  virtual Status Unadvise(std::uint32_t cookie) = 0;

  // Property-change listeners and the modified flag used by persistence.
  virtual Status AdvisePropertyNotify(IPropertyNotifySink* sink, std::uint32_t* cookie) = 0;
  virtual Status UnadvisePropertyNotify(std::uint32_t cookie) = 0;
  virtual bool IsDirty() = 0;
  virtual void SetDirty(bool dirty) = 0;

  // C++ only (no dispatch id, not persisted).
  // The TCP port listened on since Start: the system's choice when Port is 0. 0 while stopped.
  virtual std::uint16_t ListeningPort() = 0;
  // How much output each connection may hold (OutputLimits); applies to every connection at
  // once. StatusInvalidArg when the limits are not ordered low < high <= hard.
  virtual Status SetOutputLimits(const OutputLimits& limits) = 0;
  virtual OutputLimits GetOutputLimits() = 0;
  // The protocol level (ProtocolLevel), Described unless set; applies to every command from
  // the next one on. StatusInvalidArg for a value that names no level.
  virtual Status SetProtocolLevel(ProtocolLevel level) = 0;
  virtual ProtocolLevel GetProtocolLevel() = 0;
};

// Factories: a new object with one reference held by *out.
Status CreateImapServer(Ref<IkivImapServer>* out);
Status CreateImapUser(Ref<IImapUser>* out);
Status CreateImapUsers(Ref<IImapUsers>* out);
Status CreateImapFolder(Ref<IImapFolder>* out);
Status CreateImapFolders(Ref<IImapFolders>* out);
Status CreateImapMessage(Ref<IImapMessage>* out);
Status CreateImapMessages(Ref<IImapMessages>* out);
Status CreateImapMessageHeader(Ref<IImapMessageHeader>* out);
Status CreateImapMessageHeaders(Ref<IImapMessageHeaders>* out);

}  // namespace kivimap
