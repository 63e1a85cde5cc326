// A message's file: the Filename setter, Body, Text, the FETCH readers, the APPEND writers and
// temporary files, all on real files.
#include <stdlib.h>
#include <sys/stat.h>

#include <climits>
#include <string>
#include <tuple>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

using Range = std::tuple<std::int32_t, std::int32_t, std::int32_t>;  // start, end, size

Range RangeOf(IImapMessage* message) {
  std::int32_t start = 0, end = 0, size = 0;
  message->get_StartPosition(&start);
  message->get_EndPosition(&end);
  message->get_Size(&size);
  return {start, end, size};
}

// Points TMPDIR somewhere for one test and puts the old value back.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& dir) {
    if (const char* old = ::getenv("TMPDIR")) old_ = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpDir() { old_ ? ::setenv("TMPDIR", old_->c_str(), 1) : ::unsetenv("TMPDIR"); }

 private:
  std::optional<std::string> old_;
};

TEST(MessageFileTest, FilenameSetsTheRangeToTheWholeFile) {
  TempDir dir;
  const std::string hundred = dir.Write("hundred", std::string(100, 'x'));
  Ref<ImapMessage> message = MessageOn(hundred);
  EXPECT_EQ(RangeOf(message.get()), Range(0, 100, 100));
  // The same name again keeps a range the host set in between; another name starts over.
  message->put_StartPosition(20);
  message->put_EndPosition(40);
  message->put_Filename(W(hundred));
  EXPECT_EQ(RangeOf(message.get()), Range(20, 40, 20));
  message->put_Filename(W(dir.Write("ten", std::string(10, 'y'))));
  EXPECT_EQ(RangeOf(message.get()), Range(0, 10, 10));

  // An absent name and an empty one differ.
  message->put_Filename(WideString::Null());
  message->put_EndPosition(5);
  message->put_Filename(W(""));
  EXPECT_EQ(RangeOf(message.get()), Range(0, 0, 0));
}

TEST(MessageFileTest, WhatIsNotARegularFileReadsAsEmptyAndAFifoNeverBlocks) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.File("missing"), dir.path(), fifo}) {
    Ref<ImapMessage> message = MessageOn(path);
    EXPECT_EQ(RangeOf(message.get()), Range(0, 0, 0)) << path;
    WideString body;
    EXPECT_TRUE(message->get_Body(&body) == StatusOk && body.empty()) << path;
    EXPECT_EQ(TextOf(message.get()), "") << path;
    EXPECT_EQ(message->get_Headers(nullptr), StatusFail) << path;
  }
  EXPECT_EQ(MessageOn(fifo)->WriteText(std::string_view("x")), StatusFail);
}

TEST(MessageFileTest, TextReadsTheLinesAfterTheHeaderWithCrLfEnds) {
  TempDir dir;
  const std::string three = "S: s\r\n\r\none\r\ntwo\r\nthree\r\n", all = "one\r\ntwo\r\nthree\r\n";
  const struct {
    std::string content;
    std::int32_t start;
    std::optional<std::int32_t> end;
    std::string want;
  } cases[] = {{"Subject: s\n\na\nb\n", 0, {}, "a\r\nb\r\n"},
               {"S: s\r\n\r\nab\rcd\r\nlast", 0, {}, "ab\r\nlast\r\n"},  // CR ends, loses cd
               {three, 0, 0, "one\r\n"},          // the end is tested after each line
               {three, 0, 15, "one\r\ntwo\r\n"},  // a line crossing the end is taken whole
               {three, 0, -1, all},
               {three, 0, INT32_MAX, all},
               {std::string("S: s\n\nab\0cd\nef\n", 15), 0, {}, "ab"},  // up to a zero byte
               {three, 1000, {}, ""},
               {"A: 1\n\nbody\n", -50, {}, "body\r\n"}};  // the header is read from the top
  for (const auto& c : cases) {
    Ref<ImapMessage> message = MessageOn(dir.Write("m", c.content));
    message->put_StartPosition(c.start);
    if (c.end) message->put_EndPosition(*c.end);
    EXPECT_EQ(TextOf(message.get()), c.want) << c.content.substr(0, 12) << " " << c.start;
  }
}

TEST(MessageFileTest, BodyReadsACharacterStraddlingTwoReadBlocksWhole) {
  TempDir dir;
  // The blocks hold 16000 bytes; the last character's two bytes are the 16000th and 16001st.
  Ref<ImapMessage> wide = MessageOn(dir.Write("wide", std::string(15999, 'a') + "\xC3\xA9"));
  WideString body;
  ASSERT_EQ(wide->get_Body(&body), StatusOk);
  ASSERT_EQ(body.size(), 16000u);
  EXPECT_EQ(body.view().back(), u'\u00e9');
}

TEST(MessageFileTest, ReadHeaderBlockEndsAfterTheLastFieldOfTheMessagesRange) {
  TempDir dir;
  // The CR LF CR LF after the long field straddles two read blocks.
  const std::string long_field = "X: " + std::string(31995, 'h') + "\r\n";
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"A: 1\r\nB: 2\r\n\r\nbody\r\n", "A: 1\r\nB: 2\r\n"},
      {"A: 1\nB: 2\n\nbody\n", "A: 1\nB: 2\n"},
      {"A: 1\r\nB: 2\r\n", std::nullopt},
      {long_field + "\r\nbody", long_field},
      {std::string("A: \0x\n\nb", 8), std::string("A: \0x\n", 6)}};
  for (const auto& [content, want] : cases) {
    Ref<ImapMessage> message = MessageOn(dir.Write("m", content));
    EXPECT_EQ(message->ReadHeaderBlock(), want) << content.substr(0, 20);
  }
  // Two messages in one file: each block is its own message's, and no end past the range
  // counts.
  Ref<ImapMessage> second = MessageOn(dir.Write("m", "A: 1\r\n\r\nbody\r\nB: 2\r\n\r\nmore"));
  second->put_StartPosition(14);
  EXPECT_EQ(second->ReadHeaderBlock(), "B: 2\r\n");
  Ref<ImapMessage> first = MessageOn(dir.Write("m", "A: 1\r\nB: 2\r\n\r\nbody"));
  first->put_EndPosition(10);
  EXPECT_EQ(first->ReadHeaderBlock(), std::nullopt);
  first->put_EndPosition(first->EndPosition() - 100);
  EXPECT_EQ(first->ReadHeaderBlock(), std::nullopt);
}

TEST(MessageFileTest, ReadRangeNeverReadsOutsideTheFile) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", "0123456789"));
  std::string buffer(16, '#');
  EXPECT_EQ(message->ReadRange(buffer.data(), 2, 5), 5u);
  EXPECT_EQ(buffer.substr(0, 6), "23456#");
  EXPECT_EQ(message->ReadRange(buffer.data(), 8, 16), 2u);
  EXPECT_EQ(message->ReadRange(buffer.data(), -1, 4), 0u);
  // What an EndPosition below StartPosition makes of the size allocates nothing extra.
  message->put_StartPosition(8);
  message->put_EndPosition(2);
  EXPECT_EQ(RangeOf(message.get()), Range(8, 2, -6));
  EXPECT_EQ(message->ReadRange(0, static_cast<std::uint32_t>(-6)), "0123456789");
  EXPECT_EQ(message->ReadRange(20, 5), "");
}

TEST(MessageFileTest, WriteTextAndThreeAppendsGiveSixtyBytes) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.File("appended"));
  ASSERT_EQ(message->WriteText(WideString::Empty()), StatusOk);
  EXPECT_EQ(RangeOf(message.get()), Range(0, 0, 0));
  const std::string bytes = std::string(10, 'a') + std::string(20, 'b') + std::string(30, 'c');
  ASSERT_EQ(message->AppendData(bytes.data(), 10), StatusOk);
  ASSERT_EQ(message->AppendData(bytes.data() + 10, 20), StatusOk);
  ASSERT_EQ(message->AppendData(bytes.data() + 30, 30), StatusOk);
  EXPECT_EQ(RangeOf(message.get()), Range(0, 60, 60));
  EXPECT_EQ(ReadAll(dir.File("appended")), bytes);
}

TEST(TempFileTest, ATemporaryFileGoesWithItsMessageOrItsNameButAHostsFileNever) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path() + "/");
  for (bool append : {false, true}) {
    Ref<ImapMessage> message = ImapMessage::Create();
    ASSERT_EQ(append ? message->AppendData("abc", 3) : message->WriteText(std::string_view("abc")),
              StatusOk);
    const std::string file = N(message->Filename());
    EXPECT_EQ(file.rfind(dir.path() + "/IMAP", 0), 0u) << file;
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(file), "abc");
    if (append) {
      message->put_Filename(W(file));  // the same name again is no change
      EXPECT_TRUE(std::filesystem::exists(file));
      message->put_Filename(W(dir.File("host")));
    } else {
      message.Reset();
    }
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  // A file the host named is never deleted.
  Ref<ImapMessage> message = MessageOn(dir.File("host"));
  ASSERT_EQ(message->WriteText(std::string_view("Subject: s\r\n\r\n")), StatusOk);
  ASSERT_EQ(message->AppendData("body\r\n", 6), StatusOk);
  message->put_Filename(W(dir.File("other")));
  message.Reset();
  EXPECT_EQ(ReadAll(dir.File("host")), "Subject: s\r\n\r\nbody\r\n");
}

TEST(TempFileTest, AnUnusableTempDirectoryFailsTheWriteAndChangesNothing) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path() + "/does-not-exist");
  Ref<ImapMessage> message = ImapMessage::Create();
  EXPECT_EQ(message->WriteText(std::string_view("x")), StatusFail);
  EXPECT_EQ(N(message->Filename()), "");
}

}  // namespace
}  // namespace kivimap::store::testing
