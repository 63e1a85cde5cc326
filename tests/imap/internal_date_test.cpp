// INTERNALDATE: reading Date fields, the calendar arithmetic, the text form, and where a
// message's date comes from.
#include "imap/internal_date.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "store/store_test_support.h"

namespace kivimap::imap {
namespace {

using store::testing::MessageOn;
using store::testing::TempDir;

TEST(ParseDateFieldTest, LenientRfc2822FormsAndNoDates) {
  const struct {
    const char* value;
    MessageDate date;
  } dates[] = {
      {"Tue, 1 Jul 2003 10:52:37 +0200 (CEST)", {2003, 7, 1, 10, 52, 37, 120}},
      {"  tuesday 01 JULY 2003 10:52 -0330 (a (nested) comment) ", {2003, 7, 1, 10, 52, 0, -210}},
      {"Thu, 13 Sept 99 9:05:00 EST", {1999, 9, 13, 9, 5, 0, -300}},
      {"Sat, 29 Feb 20 23:59:60 XYZ", {2020, 2, 29, 23, 59, 60, 0}},
      {"1-Jul-103\r\n\t10:52:37", {2003, 7, 1, 10, 52, 37, 0}},
  };
  for (const auto& c : dates) EXPECT_EQ(ParseDateField(c.value), c.date) << c.value;
  for (const char* value :
       {"garbage", "32 Jan 2020 00:00:00", "29 Feb 2019 00:00:00", "1 Foo 2020 00:00:00",
        "1 Jan 2020", "1 Jan 2020 24:00:00", "1 Jan 20200 10:00:00", "1 Jan 2020 10:00 +0260",
        "1 Jan 2020 10:00:00 +0200 x", "Xyz, 1 Jan 2020 10:00:00"}) {
    EXPECT_EQ(ParseDateField(value), std::nullopt) << value;
  }
}

TEST(CalendarTest, DayNumbersAndUnixTimesAgree) {
  EXPECT_EQ(DaysSinceEpoch(2000, 3, 1), 11017);
  EXPECT_EQ(DateFromUnixTime(-1), (MessageDate{1969, 12, 31, 23, 59, 59, 0}));
  EXPECT_EQ(DateFromUnixTime(951782400 + 3723), (MessageDate{2000, 2, 29, 1, 2, 3, 0}));
  for (std::int64_t day = -800000; day < 3000000; day += 997) {
    const MessageDate date = DateFromUnixTime(day * 86400 + 86399);
    ASSERT_EQ(DaysSinceEpoch(date.year, date.month, date.day), day);
  }
  // The day as the message writes it, whatever its zone says about UTC.
  EXPECT_EQ(CalendarDay(*ParseDateField("1 Jul 2003 23:30:00 -0800")), DaysSinceEpoch(2003, 7, 1));
}

TEST(FormatInternalDateTest, TwentySixCharactersEvenFromFieldsOutOfRange) {
  EXPECT_EQ(FormatInternalDate({1999, 12, 31, 23, 59, 60, -210}), "31-Dec-1999 23:59:60 -0330");
  EXPECT_EQ(FormatInternalDate({12000, 13, 0, 25, -1, 99, 100 * 60}), " 1-Dec-9999 23:00:60 +9959");
}

TEST(MessageInternalDateTest, DateFieldElseFileTimeElseTheEpoch) {
  TempDir dir;
  const struct {
    const char* header;
    const char* value;
  } cases[] = {
      {"Date: Tue, 1 Jul 2003 10:52:37 +0200 (CEST)\r\n", "\" 1-Jul-2003 10:52:37 +0200\""},
      {"Date: garbage\r\n", "\" 9-Sep-2001 01:46:40 +0000\""},
      {"Subject: no date\r\n", "\" 9-Sep-2001 01:46:40 +0000\""},
  };
  for (const auto& c : cases) {
    const std::string file = dir.Write("m.eml", std::string(c.header) + "\r\nbody\r\n");
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    Ref<store::ImapMessage> message = MessageOn(file);
    std::string out;
    AppendInternalDate(out, *message);
    EXPECT_EQ(out, c.value) << c.header;
  }
  Ref<store::ImapMessage> missing = MessageOn(dir.File("missing"));
  EXPECT_EQ(MessageInternalDate(*missing), std::nullopt);
  std::string out;
  AppendInternalDate(out, *missing);
  EXPECT_EQ(out, "\" 1-Jan-1970 00:00:00 +0000\"");
}

}  // namespace
}  // namespace kivimap::imap
