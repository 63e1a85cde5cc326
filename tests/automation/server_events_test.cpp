#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/connection_point.h"
#include "automation/dispatch_object.h"
#include "kivimap/events.h"

namespace kivimap {
namespace {

// Just enough of a folder to be passed as an event argument.
class FakeFolder : public automation::DispatchObject<IImapFolder> {
 public:
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusUnknownName; }
  Status Invoke(DispId, InvokeFlags, DispParams&, Variant*) override {
    return StatusMemberNotFound;
  }
  Status get_Name(WideString*) override { return StatusNotImplemented; }
  Status put_Name(const WideString&) override { return StatusNotImplemented; }
  Status get_Messages(Ref<IImapMessages>*) override { return StatusNotImplemented; }
  Status get_SubFolders(Ref<IImapFolders>*) override { return StatusNotImplemented; }
  Status get_Tag(Variant*) override { return StatusNotImplemented; }
  Status put_Tag(const Variant&) override { return StatusNotImplemented; }
  Status get_UID(std::int32_t*) override { return StatusNotImplemented; }
  Status put_UID(std::int32_t) override { return StatusNotImplemented; }
  Status get_Location(WideString*) override { return StatusNotImplemented; }
  Status put_Location(const WideString&) override { return StatusNotImplemented; }
  Status get_Subscribed(VariantBool*) override { return StatusNotImplemented; }
  Status put_Subscribed(VariantBool) override { return StatusNotImplemented; }
  Status get_Path(WideString*) override { return StatusNotImplemented; }
  Status get_NextMessageUID(std::int32_t*) override { return StatusNotImplemented; }
  Status put_NextMessageUID(std::int32_t) override { return StatusNotImplemented; }
};

class RecordingEvents : public ImapServerEvents {
 public:
  std::vector<std::string> log;
  std::int32_t answer = Allow;

  void OnConnecting(IImapUser* user, std::int32_t* action) override {
    log.push_back("Connecting " + std::to_string(user == nullptr) + " " + std::to_string(*action));
    *action = answer;
  }
  void OnCommand(IImapUser*, WideString* command) override {
    log.push_back("Command " + command->ToNarrow());
    *command = WideString(u"a NOOP");
  }
  void OnConnected(IImapUser*, const WideString& username, const WideString& password,
                   std::int32_t* action) override {
    log.push_back("Connected " + username.ToNarrow() + " " + password.ToNarrow() + " " +
                  std::to_string(*action));
  }
  void OnStateChange(IImapUser*, std::int32_t new_state, std::int32_t old_state) override {
    log.push_back("StateChange " + std::to_string(new_state) + " " + std::to_string(old_state));
  }
  void OnListFolders(IImapUser*, IImapFolder* parent) override {
    log.push_back(std::string("ListFolders ") + (parent ? "folder" : "root"));
  }
  void OnMoveFolder(IImapUser*, IImapFolder* parent, IImapFolder* folder, IImapFolder* destination,
                    const WideString& name, std::int32_t* action) override {
    log.push_back("MoveFolder " + std::to_string(parent == nullptr) +
                  std::to_string(folder != nullptr) + std::to_string(destination != nullptr) + " " +
                  name.ToNarrow());
    *action = answer;
  }
  void OnFlagChange(IImapUser*, IImapFolder*, IImapMessage* message, std::int32_t new_flags,
                    std::int32_t old_flags) override {
    log.push_back("FlagChange " + std::to_string(message == nullptr) + " " +
                  std::to_string(new_flags) + " " + std::to_string(old_flags));
  }
  void OnCreateMessage(IImapUser*, IImapFolder*, IImapMessage*, std::int32_t* action) override {
    log.push_back("CreateMessage");
    *action = answer;
  }
};

TEST(ServerEventsTest, EventNamesMapToTheirIdsIgnoringCase) {
  Ref<RecordingEvents> sink(new RecordingEvents);
  DispId id = 0;
  EXPECT_EQ(sink->GetIDsOfNames(u"connecting", &id), StatusOk);
  EXPECT_EQ(id, EventConnecting);
  EXPECT_EQ(sink->GetIDsOfNames(u"CREATEMESSAGE", &id), StatusOk);
  EXPECT_EQ(id, EventCreateMessage);
  EXPECT_EQ(sink->GetIDsOfNames(u"MoveMessage", &id), StatusOk);
  EXPECT_EQ(id, EventMoveMessage);
  EXPECT_EQ(sink->GetIDsOfNames(u"Connect", &id), StatusUnknownName);
}

TEST(ServerEventsTest, InOutArgumentsWorkByReferenceAndByValue) {
  Ref<RecordingEvents> sink(new RecordingEvents);
  std::int32_t action = Deny;
  DispParams p = DispParams::FromNatural({Variant(), Variant::ByRef(&action)});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, p, nullptr), StatusOk);
  EXPECT_EQ(action, Allow);

  // By value the handler gets a copy; by reference to a Variant the answer is written back.
  DispParams by_value = DispParams::FromNatural({Variant(), Variant(std::int32_t{Deny})});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, by_value, nullptr), StatusOk);
  Variant holder(std::int32_t{Deny});
  DispParams via_variant = DispParams::FromNatural({Variant(), Variant::ByRef(&holder)});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, via_variant, nullptr), StatusOk);
  EXPECT_EQ(holder, Variant(std::int32_t{Allow}));

  WideString command = u"a noop";
  DispParams cmd = DispParams::FromNatural({Variant(), Variant::ByRef(&command)});
  EXPECT_EQ(sink->Invoke(EventCommand, DispatchMethod, cmd, nullptr), StatusOk);
  EXPECT_EQ(command, WideString(u"a NOOP"));

  EXPECT_EQ(sink->log, (std::vector<std::string>{"Connecting 1 0", "Connecting 1 0",
                                                 "Connecting 1 0", "Command a noop"}));
}

TEST(ServerEventsTest, ArgumentsArriveInTheirOrder) {
  Ref<RecordingEvents> sink(new RecordingEvents);
  Ref<FakeFolder> folder(new FakeFolder);
  std::int32_t action = Deny;
  DispParams connected = DispParams::FromNatural(
      {Variant(), Variant(u"alice"), Variant(u"pw"), Variant::ByRef(&action)});
  EXPECT_EQ(sink->Invoke(EventConnected, DispatchMethod, connected, nullptr), StatusOk);
  DispParams state = DispParams::FromNatural(
      {Variant(), Variant(std::int32_t{StateWaitingUsername}), Variant(std::int32_t{1})});
  EXPECT_EQ(sink->Invoke(EventStateChange, DispatchMethod, state, nullptr), StatusOk);
  DispParams list_root = DispParams::FromNatural({Variant(), Variant::Null()});
  EXPECT_EQ(sink->Invoke(EventListFolders, DispatchMethod, list_root, nullptr), StatusOk);
  DispParams list = DispParams::FromNatural({Variant(), Variant(folder.get())});
  EXPECT_EQ(sink->Invoke(EventListFolders, DispatchMethod, list, nullptr), StatusOk);
  DispParams move =
      DispParams::FromNatural({Variant(), Variant(), Variant(folder.get()), Variant(folder.get()),
                               Variant(u"Archive"), Variant::ByRef(&action)});
  EXPECT_EQ(sink->Invoke(EventMoveFolder, DispatchMethod, move, nullptr), StatusOk);
  EXPECT_EQ(action, Allow);
  DispParams flags =
      DispParams::FromNatural({Variant(), Variant(folder.get()), Variant(),
                               Variant(std::int32_t{Seen}), Variant(std::int32_t{Seen | Recent})});
  EXPECT_EQ(sink->Invoke(EventFlagChange, DispatchMethod, flags, nullptr), StatusOk);

  EXPECT_EQ(sink->log, (std::vector<std::string>{"Connected alice pw 0", "StateChange 2 1",
                                                 "ListFolders root", "ListFolders folder",
                                                 "MoveFolder 111 Archive", "FlagChange 1 2 34"}));
}

TEST(ServerEventsTest, MalformedCallsAreRefusedWithoutCallingTheHandler) {
  Ref<RecordingEvents> sink(new RecordingEvents);
  Ref<FakeFolder> folder(new FakeFolder);
  std::int32_t action = Deny;
  DispParams short_list = DispParams::FromNatural({Variant()});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, short_list, nullptr),
            StatusBadParamCount);
  DispParams ok = DispParams::FromNatural({Variant(), Variant::ByRef(&action)});
  EXPECT_EQ(sink->Invoke(99, DispatchMethod, ok, nullptr), StatusMemberNotFound);
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchPropertyGet, ok, nullptr), StatusMemberNotFound);
  // A folder where the user belongs, and text where the action belongs.
  DispParams folder_as_user =
      DispParams::FromNatural({Variant(folder.get()), Variant::ByRef(&action)});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, folder_as_user, nullptr),
            StatusInvalidArg);
  DispParams text_as_action = DispParams::FromNatural({Variant(), Variant(u"Allow")});
  EXPECT_EQ(sink->Invoke(EventConnecting, DispatchMethod, text_as_action, nullptr),
            StatusInvalidArg);
  DispParams number_as_command = DispParams::FromNatural({Variant(), Variant(std::int32_t{1})});
  EXPECT_EQ(sink->Invoke(EventCommand, DispatchMethod, number_as_command, nullptr),
            StatusInvalidArg);
  EXPECT_TRUE(sink->log.empty());
  EXPECT_EQ(action, Deny);
}

TEST(ServerEventsTest, TypedSinksChainThroughAConnectionPoint) {
  automation::ConnectionPoint cp;
  Ref<RecordingEvents> first(new RecordingEvents);
  Ref<RecordingEvents> second(new RecordingEvents);
  first->answer = Allow;
  second->answer = Deny;
  std::uint32_t c1 = 0, c2 = 0;
  ASSERT_EQ(cp.Advise(first.get(), &c1), StatusOk);
  ASSERT_EQ(cp.Advise(second.get(), &c2), StatusOk);

  std::int32_t action = Deny;
  cp.Fire(EventCreateMessage, {Variant(), Variant(), Variant(), Variant::ByRef(&action)});
  EXPECT_EQ(action, Deny);  // the last sink has the final word
  ASSERT_EQ(cp.Unadvise(c2), StatusOk);
  cp.Fire(EventCreateMessage, {Variant(), Variant(), Variant(), Variant::ByRef(&action)});
  EXPECT_EQ(action, Allow);
  EXPECT_EQ(second->log.size(), 1u);
}

}  // namespace
}  // namespace kivimap
