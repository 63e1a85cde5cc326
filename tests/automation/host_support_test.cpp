#include "kivimap/host_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "automation/error_report.h"
#include "automation/property_notify.h"

namespace kivimap::automation {
namespace {

TEST(ErrorRecordTest, ReportErrorLeavesTheLastRecordForTheHost) {
  ClearErrorRecord();
  ErrorRecord record;
  EXPECT_FALSE(GetErrorRecord(&record));

  EXPECT_EQ(ReportError(100, u"first", u"kivImapServer"), 0x800A0064u);
  EXPECT_EQ(ReportError(2, u"Cannot bind", u"kivImapServer"), 0x800A0002u);
  ASSERT_TRUE(GetErrorRecord(&record));
  EXPECT_EQ(record.status, 0x800A0002u);
  EXPECT_EQ(record.description, WideString(u"Cannot bind"));
  EXPECT_EQ(record.source, WideString(u"kivImapServer"));
  EXPECT_FALSE(GetErrorRecord(&record));  // reading it takes it

  EXPECT_EQ(ReportStatus(StatusFail, u"general", WideString()), StatusFail);
  ClearErrorRecord();
  EXPECT_FALSE(GetErrorRecord(nullptr));
}

class CountingListener : public IPropertyNotifySink {
 public:
  std::vector<std::int32_t> changes;
  PropertyNotifier* notifier = nullptr;
  std::uint32_t unadvise_on_change = 0;
  void OnChanged(std::int32_t dispid) override {
    changes.push_back(dispid);
    if (unadvise_on_change) notifier->Unadvise(std::exchange(unadvise_on_change, 0));
  }
};

TEST(PropertyNotifierTest, ListenersHearTheIdAndTheObjectBecomesDirty) {
  PropertyNotifier n;
  CountingListener a, b;
  std::uint32_t ca = 0, cb = 0;
  ASSERT_EQ(n.Advise(&a, &ca), StatusOk);
  ASSERT_EQ(n.Advise(&b, &cb), StatusOk);
  EXPECT_NE(ca, cb);
  EXPECT_FALSE(n.dirty());
  n.Changed(4);
  EXPECT_TRUE(n.dirty());
  EXPECT_EQ(a.changes, std::vector<std::int32_t>{4});
  EXPECT_EQ(b.changes, std::vector<std::int32_t>{4});

  // A listener that unadvises the next one while being told.
  a.notifier = &n;
  a.unadvise_on_change = cb;
  n.Changed(5);
  EXPECT_EQ(b.changes, std::vector<std::int32_t>{4});
  EXPECT_EQ(n.Unadvise(cb), StatusInvalidArg);
  EXPECT_EQ(n.Advise(nullptr, &cb), StatusPointer);
  n.set_dirty(false);
  EXPECT_FALSE(n.dirty());
}

TEST(MemoryStreamTest, ReadsBackWhatWasWrittenInPieces) {
  MemoryStream s;
  ASSERT_EQ(s.Write("0.0.0.0", 7), StatusOk);
  ASSERT_EQ(s.Write("\0\x8f", 2), StatusOk);
  ASSERT_EQ(s.Write(nullptr, 0), StatusOk);
  EXPECT_EQ(s.Write(nullptr, 1), StatusPointer);
  char buf[5];
  std::uint32_t got = 0;
  ASSERT_EQ(s.Read(buf, 5, &got), StatusOk);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::memcmp(buf, "0.0.0", 5), 0);
  ASSERT_EQ(s.Read(buf, 5, &got), StatusOk);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::memcmp(buf, ".0\0\x8f", 4), 0);
  ASSERT_EQ(s.Read(buf, 5, &got), StatusOk);
  EXPECT_EQ(got, 0u);
  s.Rewind();
  ASSERT_EQ(s.Read(buf, 1, &got), StatusOk);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(s.Read(buf, 1, nullptr), StatusPointer);
}

}  // namespace
}  // namespace kivimap::automation
