#include "kivimap/host_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "automation/error_report.h"
#include "automation/property_notify.h"

namespace kivimap::automation {
namespace {

// The server tests check the record's fields after real failures; here, that the host reads
// the last one, once.
TEST(ErrorRecordTest, ReadingTheLastRecordTakesIt) {
  ErrorRecord record;
  ReportStatus(StatusFail, u"first", WideString());
  EXPECT_EQ(ReportError(100, u"second", u"kivImapServer"), 0x800A0064u);
  ASSERT_TRUE(GetErrorRecord(&record));
  EXPECT_EQ(record.description, WideString(u"second"));
  EXPECT_FALSE(GetErrorRecord(&record));
}

struct Listener : IPropertyNotifySink {
  std::vector<std::int32_t> changes;
  std::function<void()> on_change;
  void OnChanged(std::int32_t dispid) override {
    changes.push_back(dispid);
    if (on_change) on_change();
  }
};

TEST(PropertyNotifierTest, AListenerRemovedWhileAnotherIsToldHearsNothing) {
  PropertyNotifier n;
  Listener a, b;
  std::uint32_t ca = 0, cb = 0;
  ASSERT_EQ(n.Advise(&a, &ca), StatusOk);
  ASSERT_EQ(n.Advise(&b, &cb), StatusOk);
  a.on_change = [&] { EXPECT_EQ(n.Unadvise(cb), StatusOk); };
  n.Changed(5);
  EXPECT_EQ(a.changes, std::vector<std::int32_t>{5});
  EXPECT_TRUE(b.changes.empty());
  EXPECT_EQ(n.Advise(nullptr, &cb), StatusPointer);
}

TEST(MemoryStreamTest, ReadsBackWhatWasWrittenInPieces) {
  MemoryStream s;
  ASSERT_EQ(s.Write("0.0.0.0", 7), StatusOk);
  ASSERT_EQ(s.Write("\0\x8f", 2), StatusOk);
  EXPECT_EQ(s.Write(nullptr, 1), StatusPointer);
  char buf[5];
  auto read = [&](std::uint32_t n) {
    std::uint32_t got = 99;
    EXPECT_EQ(s.Read(buf, n, &got), StatusOk);
    return std::string(buf, got);
  };
  EXPECT_EQ(read(5), "0.0.0");
  EXPECT_EQ(read(5), std::string(".0\0\x8f", 4));
  EXPECT_EQ(read(5), "");
}

}  // namespace
}  // namespace kivimap::automation
