// ImapServerEvents: turns an event Invoke into a call of the matching virtual.
#include <array>
#include <exception>
#include <new>
#include <string_view>

#include "automation/dispatch_table.h"
#include "kivimap/events.h"

namespace kivimap {

namespace {

struct EventName {
  std::u16string_view name;
  DispId id;
  std::size_t arg_count;
};

constexpr std::array<EventName, 18> kEvents = {{
    {u"Connecting", EventConnecting, 2},
    {u"Command", EventCommand, 2},
    {u"Connected", EventConnected, 4},
    {u"Disconnected", EventDisconnected, 1},
    {u"StateChange", EventStateChange, 3},
    {u"ListFolders", EventListFolders, 2},
    {u"SubscribeFolder", EventSubscribeFolder, 2},
    {u"CreateFolder", EventCreateFolder, 4},
    {u"DeleteFolder", EventDeleteFolder, 4},
    {u"MoveFolder", EventMoveFolder, 6},
    {u"ListMessages", EventListMessages, 2},
    {u"ReadMessage", EventReadMessage, 3},
    {u"FlagChange", EventFlagChange, 5},
    {u"CopyMessage", EventCopyMessage, 5},
    {u"MoveMessage", EventMoveMessage, 5},
    {u"DeleteMessage", EventDeleteMessage, 4},
    {u"WriteMessage", EventWriteMessage, 4},
    {u"CreateMessage", EventCreateMessage, 4},
}};

// An object argument of interface T: a dispatch object (by value or by reference) that
// implements T, or nothing.
template <class T>
Status ObjectArg(const DispParams& p, std::size_t i, T** out) {
  IDispatch* obj = nullptr;
  const Status s = automation::ArgObject(p, i, &obj);
  if (s != StatusOk) return s;
  *out = nullptr;
  if (!obj) return StatusOk;
  *out = dynamic_cast<T*>(obj);
  return *out ? StatusOk : StatusInvalidArg;
}

// An in/out argument. By reference to the sender's variable, the handler writes straight into
// it; given by value, the handler gets a local copy; given as a reference to a Variant, the local
// is written back to that Variant afterwards.
template <class T>
class InOut {
 public:
  T* get() { return target_; }
  void WriteBack() {
    if (variant_) *variant_ = Variant(local_);
  }

 protected:
  T local_{};
  T* target_ = &local_;
  Variant* variant_ = nullptr;
};

class IntInOut : public InOut<std::int32_t> {
 public:
  Status Bind(DispParams& p, std::size_t i) {
    Variant& v = p.Arg(i);
    if (v.IsByRef() && v.type() == VarType::I4 && v.i4_ref()) {
      target_ = v.i4_ref();
      return StatusOk;
    }
    if (v.IsByRef() && v.type() == VarType::Variant && v.variant_ref()) variant_ = v.variant_ref();
    return ToInt32(v, &local_);
  }
};

class StringInOut : public InOut<WideString> {
 public:
  Status Bind(DispParams& p, std::size_t i) {
    Variant& v = p.Arg(i);
    if (v.IsByRef() && v.type() == VarType::BStr && v.bstr_ref()) {
      target_ = v.bstr_ref();
      return StatusOk;
    }
    if (v.IsByRef() && v.type() == VarType::Variant && v.variant_ref()) variant_ = v.variant_ref();
    return automation::ArgString(p, i, &local_);
  }
};

// Unpacks the arguments of one event and calls its handler.
Status Dispatch(ImapServerEvents& sink, DispId id, DispParams& p) {
  using automation::ArgInt32;
  using automation::ArgString;
  IImapUser* user = nullptr;
  Status s = ObjectArg(p, 0, &user);
  if (s != StatusOk) return s;

  // Most events continue with Folder, Message.
  IImapFolder* folder = nullptr;
  IImapMessage* message = nullptr;
  auto folder_message = [&]() {
    Status r = ObjectArg(p, 1, &folder);
    return r == StatusOk ? ObjectArg(p, 2, &message) : r;
  };

  switch (id) {
    case EventConnecting: {
      IntInOut action;
      if ((s = action.Bind(p, 1)) != StatusOk) return s;
      sink.OnConnecting(user, action.get());
      action.WriteBack();
      return StatusOk;
    }
    case EventCommand: {
      StringInOut command;
      if ((s = command.Bind(p, 1)) != StatusOk) return s;
      sink.OnCommand(user, command.get());
      command.WriteBack();
      return StatusOk;
    }
    case EventConnected: {
      WideString username, password;
      IntInOut action;
      if ((s = ArgString(p, 1, &username)) != StatusOk) return s;
      if ((s = ArgString(p, 2, &password)) != StatusOk) return s;
      if ((s = action.Bind(p, 3)) != StatusOk) return s;
      sink.OnConnected(user, username, password, action.get());
      action.WriteBack();
      return StatusOk;
    }
    case EventDisconnected:
      sink.OnDisconnected(user);
      return StatusOk;
    case EventStateChange: {
      std::int32_t new_state = 0, old_state = 0;
      if ((s = ArgInt32(p, 1, &new_state)) != StatusOk) return s;
      if ((s = ArgInt32(p, 2, &old_state)) != StatusOk) return s;
      sink.OnStateChange(user, new_state, old_state);
      return StatusOk;
    }
    case EventListFolders:
    case EventSubscribeFolder:
    case EventListMessages:
      if ((s = ObjectArg(p, 1, &folder)) != StatusOk) return s;
      if (id == EventListFolders) sink.OnListFolders(user, folder);
      if (id == EventSubscribeFolder) sink.OnSubscribeFolder(user, folder);
      if (id == EventListMessages) sink.OnListMessages(user, folder);
      return StatusOk;
    case EventCreateFolder: {
      WideString name;
      IntInOut action;
      if ((s = ObjectArg(p, 1, &folder)) != StatusOk) return s;
      if ((s = ArgString(p, 2, &name)) != StatusOk) return s;
      if ((s = action.Bind(p, 3)) != StatusOk) return s;
      sink.OnCreateFolder(user, folder, name, action.get());
      action.WriteBack();
      return StatusOk;
    }
    case EventDeleteFolder: {
      IImapFolder* target = nullptr;
      IntInOut action;
      if ((s = ObjectArg(p, 1, &folder)) != StatusOk) return s;
      if ((s = ObjectArg(p, 2, &target)) != StatusOk) return s;
      if ((s = action.Bind(p, 3)) != StatusOk) return s;
      sink.OnDeleteFolder(user, folder, target, action.get());
      action.WriteBack();
      return StatusOk;
    }
    case EventMoveFolder: {
      IImapFolder* target = nullptr;
      IImapFolder* destination = nullptr;
      WideString destination_name;
      IntInOut action;
      if ((s = ObjectArg(p, 1, &folder)) != StatusOk) return s;
      if ((s = ObjectArg(p, 2, &target)) != StatusOk) return s;
      if ((s = ObjectArg(p, 3, &destination)) != StatusOk) return s;
      if ((s = ArgString(p, 4, &destination_name)) != StatusOk) return s;
      if ((s = action.Bind(p, 5)) != StatusOk) return s;
      sink.OnMoveFolder(user, folder, target, destination, destination_name, action.get());
      action.WriteBack();
      return StatusOk;
    }
    case EventReadMessage:
      if ((s = folder_message()) != StatusOk) return s;
      sink.OnReadMessage(user, folder, message);
      return StatusOk;
    case EventFlagChange: {
      std::int32_t new_flags = 0, old_flags = 0;
      if ((s = folder_message()) != StatusOk) return s;
      if ((s = ArgInt32(p, 3, &new_flags)) != StatusOk) return s;
      if ((s = ArgInt32(p, 4, &old_flags)) != StatusOk) return s;
      sink.OnFlagChange(user, folder, message, new_flags, old_flags);
      return StatusOk;
    }
    case EventCopyMessage:
    case EventMoveMessage: {
      IImapFolder* destination = nullptr;
      IntInOut action;
      if ((s = folder_message()) != StatusOk) return s;
      if ((s = ObjectArg(p, 3, &destination)) != StatusOk) return s;
      if ((s = action.Bind(p, 4)) != StatusOk) return s;
      if (id == EventCopyMessage) {
        sink.OnCopyMessage(user, folder, message, destination, action.get());
      } else {
        sink.OnMoveMessage(user, folder, message, destination, action.get());
      }
      action.WriteBack();
      return StatusOk;
    }
    case EventDeleteMessage:
    case EventWriteMessage:
    case EventCreateMessage: {
      IntInOut action;
      if ((s = folder_message()) != StatusOk) return s;
      if ((s = action.Bind(p, 3)) != StatusOk) return s;
      if (id == EventDeleteMessage) sink.OnDeleteMessage(user, folder, message, action.get());
      if (id == EventWriteMessage) sink.OnWriteMessage(user, folder, message, action.get());
      if (id == EventCreateMessage) sink.OnCreateMessage(user, folder, message, action.get());
      action.WriteBack();
      return StatusOk;
    }
    default:
      return StatusMemberNotFound;
  }
}

}  // namespace

std::uint32_t ImapServerEvents::AddRef() { return ++refs_; }

std::uint32_t ImapServerEvents::Release() {
  const std::uint32_t n = --refs_;
  if (n == 0) delete this;
  return n;
}

Status ImapServerEvents::GetIDsOfNames(std::u16string_view name, DispId* id) {
  if (!id) return StatusPointer;
  for (const auto& e : kEvents) {
    if (automation::NameEqualsNoCase(e.name, name)) {
      *id = e.id;
      return StatusOk;
    }
  }
  return StatusUnknownName;
}

Status ImapServerEvents::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  const EventName* event = nullptr;
  for (const auto& e : kEvents) {
    if (e.id == id) event = &e;
  }
  if (!event || (kind & DispatchMethod) == 0) return StatusMemberNotFound;
  if (params.count() != event->arg_count) return StatusBadParamCount;
  try {
    const Status s = Dispatch(*this, id, params);
    if (s == StatusOk) automation::SetResult(result, Variant());
    return s;
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  } catch (...) {
    // A handler's exception must not unwind through the server that fired the event.
    return StatusFail;
  }
}

}  // namespace kivimap
