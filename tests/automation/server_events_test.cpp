#include <gtest/gtest.h>

#include <vector>

#include "kivimap/events.h"

namespace kivimap {
namespace {

// The server and protocol tests drive the events through real connections, with Action and
// Command by reference; here, the other forms a caller may use, and calls no handler may see.
class ConnectingEvents : public ImapServerEvents {
 public:
  std::vector<std::int32_t> seen;
  void OnConnecting(IImapUser*, std::int32_t* action) override {
    seen.push_back(*action);
    *action = Allow;
  }
};

Status Fire(ImapServerEvents& sink, std::vector<Variant> args, DispId id = EventConnecting,
            InvokeFlags kind = DispatchMethod) {
  DispParams p = DispParams::FromNatural(std::move(args));
  return sink.Invoke(id, kind, p, nullptr);
}

TEST(ServerEventsTest, ActionByValueIsACopyAndByVariantReferenceIsWrittenBack) {
  Ref<ConnectingEvents> sink(new ConnectingEvents);
  EXPECT_EQ(Fire(*sink, {Variant(), Variant(std::int32_t{Deny})}), StatusOk);
  Variant holder(std::int32_t{Deny});
  EXPECT_EQ(Fire(*sink, {Variant(), Variant::ByRef(&holder)}), StatusOk);
  EXPECT_EQ(holder, Variant(std::int32_t{Allow}));
  EXPECT_EQ(sink->seen, (std::vector<std::int32_t>{Deny, Deny}));
}

TEST(ServerEventsTest, MalformedCallsAreRefusedWithoutCallingTheHandler) {
  Ref<ConnectingEvents> sink(new ConnectingEvents);
  std::int32_t action = Deny;
  const Variant ref = Variant::ByRef(&action);
  EXPECT_EQ(Fire(*sink, {Variant()}), StatusBadParamCount);
  EXPECT_EQ(Fire(*sink, {Variant(), ref}, 99), StatusMemberNotFound);
  EXPECT_EQ(Fire(*sink, {Variant(), ref}, EventConnecting, DispatchPropertyGet),
            StatusMemberNotFound);
  EXPECT_EQ(Fire(*sink, {Variant(sink.get()), ref}), StatusInvalidArg);  // an object, not a user
  EXPECT_EQ(Fire(*sink, {Variant(), Variant(u"Allow")}), StatusInvalidArg);
  EXPECT_EQ(Fire(*sink, {Variant(), Variant(std::int32_t{1})}, EventCommand), StatusInvalidArg);
  EXPECT_TRUE(sink->seen.empty());
}

}  // namespace
}  // namespace kivimap
