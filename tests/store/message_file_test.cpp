// A message's file: the Filename setter, Body, Text, the FETCH readers and the APPEND writers,
// all on real files.
#include <sys/stat.h>

#include <climits>
#include <string>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

Ref<ImapMessage> MessageOn(const std::string& path) {
  Ref<ImapMessage> message = ImapMessage::Create();
  EXPECT_EQ(message->put_Filename(W(path)), StatusOk);
  return message;
}

std::string TextOf(IImapMessage* message) {
  WideString text;
  EXPECT_EQ(message->get_Text(&text), StatusOk);
  return N(text);
}

std::string BodyOf(IImapMessage* message) {
  WideString body;
  EXPECT_EQ(message->get_Body(&body), StatusOk);
  return N(body);
}

struct Range {
  std::int32_t start, end, size;
};
Range RangeOf(IImapMessage* message) {
  Range r{};
  message->get_StartPosition(&r.start);
  message->get_EndPosition(&r.end);
  message->get_Size(&r.size);
  return r;
}

TEST(MessageFileTest, FilenameSetsTheRangeToTheWholeFile) {
  TempDir dir;
  const std::string hundred = dir.Write("hundred", std::string(100, 'x'));
  const std::string ten = dir.Write("ten", std::string(10, 'y'));
  Ref<ImapMessage> message = MessageOn(hundred);
  Range r = RangeOf(message.get());
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, 100);
  EXPECT_EQ(r.size, 100);

  // The same name again keeps a range the host set in between.
  message->put_StartPosition(20);
  message->put_EndPosition(40);
  message->put_Filename(W(hundred));
  r = RangeOf(message.get());
  EXPECT_EQ(r.start, 20);
  EXPECT_EQ(r.size, 20);

  // Another name starts over.
  message->put_Filename(W(ten));
  r = RangeOf(message.get());
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, 10);

  message->put_Filename(W(dir.File("missing")));
  EXPECT_EQ(RangeOf(message.get()).end, 0);

  // A directory is not a message file.
  message->put_Filename(W(dir.path()));
  EXPECT_EQ(RangeOf(message.get()).end, 0);
  EXPECT_EQ(TextOf(message.get()), "");

  // An absent and an empty name are different names, and both read back as empty.
  message->put_Filename(WideString::Null());
  message->put_EndPosition(5);
  message->put_Filename(W(""));
  EXPECT_EQ(RangeOf(message.get()).end, 0);
  WideString name;
  message->get_Filename(&name);
  EXPECT_FALSE(name.IsNull());
  EXPECT_TRUE(name.empty());
}

TEST(MessageFileTest, AFifoIsRefusedInsteadOfBlocking) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Ref<ImapMessage> message = MessageOn(fifo);
  EXPECT_EQ(RangeOf(message.get()).end, 0);
  EXPECT_EQ(BodyOf(message.get()), "");
  EXPECT_EQ(message->get_Headers(nullptr), StatusFail);
  EXPECT_EQ(message->WriteText(std::string_view("x")), StatusFail);
}

TEST(MessageFileTest, TextWritesEveryLineEndAsCrLf) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", "Subject: s\n\na\nb\n"));
  EXPECT_EQ(TextOf(message.get()), "a\r\nb\r\n");
  // A bare CR ends a line too, and what follows it on the line is dropped.
  Ref<ImapMessage> cr = MessageOn(dir.Write("cr", "S: s\r\n\r\nab\rcd\r\nlast"));
  EXPECT_EQ(TextOf(cr.get()), "ab\r\nlast\r\n");
}

TEST(MessageFileTest, TheEndOfTheRangeIsTestedAfterEachLine) {
  TempDir dir;
  const std::string file = dir.Write("m", "S: s\r\n\r\none\r\ntwo\r\nthree\r\n");
  Ref<ImapMessage> zero = MessageOn(file);
  zero->put_EndPosition(0);
  EXPECT_EQ(TextOf(zero.get()), "one\r\n");

  // A line that crosses the end is still taken whole.
  Ref<ImapMessage> middle = MessageOn(file);
  middle->put_EndPosition(15);
  EXPECT_EQ(TextOf(middle.get()), "one\r\ntwo\r\n");

  Ref<ImapMessage> negative = MessageOn(file);
  negative->put_EndPosition(-1);
  EXPECT_EQ(TextOf(negative.get()), "one\r\ntwo\r\nthree\r\n");

  // Beyond the end of the file, reading stops at the end of the file.
  Ref<ImapMessage> beyond = MessageOn(file);
  beyond->put_EndPosition(INT32_MAX);
  EXPECT_EQ(TextOf(beyond.get()), "one\r\ntwo\r\nthree\r\n");
}

TEST(MessageFileTest, TextStopsAtTheFirstZeroByte) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", std::string("S: s\n\nab\0cd\nef\n", 15)));
  EXPECT_EQ(TextOf(message.get()), "ab");
}

TEST(MessageFileTest, BodyIsTheWholeFileWhateverTheRange) {
  TempDir dir;
  std::string content = "first message\n";
  content += std::string(20000, 'z');  // more than one read block
  content += "\n\xC3\xA9 and a stray \xFF byte\n";
  Ref<ImapMessage> message = MessageOn(dir.Write("m", content));
  message->put_StartPosition(5);
  message->put_EndPosition(9);
  EXPECT_EQ(BodyOf(message.get()), content);

  Ref<ImapMessage> nameless = ImapMessage::Create();
  EXPECT_EQ(BodyOf(nameless.get()), "");

  // A character whose bytes straddle the 16000-byte read blocks arrives whole.
  const std::string straddling = std::string(15999, 'a') + "\xC3\xA9";
  Ref<ImapMessage> wide = MessageOn(dir.Write("wide", straddling));
  WideString body;
  ASSERT_EQ(wide->get_Body(&body), StatusOk);
  ASSERT_EQ(body.size(), 16000u);
  EXPECT_EQ(body.view().back(), u'\u00e9');
}

TEST(MessageFileTest, ReadHeaderBlockFindsTheEndOfTheHeaderFromTheFirstByte) {
  TempDir dir;
  Ref<ImapMessage> crlf = MessageOn(dir.Write("crlf", "A: 1\r\nB: 2\r\n\r\nbody\r\n"));
  crlf->put_StartPosition(6);  // ignored: the block is read from the first byte
  EXPECT_EQ(crlf->ReadHeaderBlock(), std::optional<std::string>("A: 1\r\nB: 2\r\n"));

  Ref<ImapMessage> lf = MessageOn(dir.Write("lf", "A: 1\nB: 2\n\nbody\n"));
  EXPECT_EQ(lf->ReadHeaderBlock(), std::optional<std::string>("A: 1\nB: 2\n"));

  Ref<ImapMessage> none = MessageOn(dir.Write("none", "A: 1\r\nB: 2\r\n"));
  EXPECT_EQ(none->ReadHeaderBlock(), std::nullopt);
  EXPECT_EQ(ImapMessage::Create()->ReadHeaderBlock(), std::nullopt);

  // An end that straddles two read blocks is found, and bytes after a NUL still count.
  std::string big = "X: " + std::string(31995, 'h');  // the CR LF CR LF starts at 31998
  big += "\r\n\r\nbody";
  Ref<ImapMessage> straddle = MessageOn(dir.Write("big", big));
  auto block = straddle->ReadHeaderBlock();
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->size(), 32000u);
  Ref<ImapMessage> nul = MessageOn(dir.Write("nul", std::string("A: \0x\n\nb", 8)));
  EXPECT_EQ(nul->ReadHeaderBlock(), std::optional<std::string>(std::string("A: \0x\n", 6)));
}

TEST(MessageFileTest, ReadRangeNeverReadsOutsideTheFile) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", "0123456789"));
  char buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_EQ(message->ReadRange(buffer, 2, 5), 5u);
  EXPECT_EQ(std::string(buffer, 6), "23456#");
  EXPECT_EQ(message->ReadRange(buffer, 8, 16), 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(message->ReadRange(buffer, 10, 4), 0u);
  EXPECT_EQ(message->ReadRange(buffer, -1, 4), 0u);
  EXPECT_EQ(message->ReadRange(nullptr, 0, 4), 0u);

  // What an EndPosition below StartPosition makes of the size allocates nothing extra.
  message->put_StartPosition(8);
  message->put_EndPosition(2);
  std::int32_t size = 0;
  message->get_Size(&size);
  EXPECT_EQ(size, -6);
  EXPECT_EQ(message->ReadRange(0, static_cast<std::uint32_t>(size)), "0123456789");
  EXPECT_EQ(message->ReadRange(20, 5), "");
  EXPECT_EQ(message->FileLength(), 10);
  EXPECT_EQ(ImapMessage::Create()->ReadRange(buffer, 0, 4), 0u);
}

TEST(MessageFileTest, WriteTextAndThreeAppendsGiveSixtyBytes) {
  TempDir dir;
  const std::string file = dir.File("appended");
  Ref<ImapMessage> message = ImapMessage::Create();
  message->put_Filename(W(file));
  ASSERT_EQ(message->WriteText(WideString::Empty()), StatusOk);
  Range r = RangeOf(message.get());
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, 0);

  const std::string pieces[] = {std::string(10, 'a'), std::string(20, 'b'), std::string(30, 'c')};
  for (const std::string& piece : pieces) {
    ASSERT_EQ(message->AppendData(piece.data(), piece.size()), StatusOk);
  }
  r = RangeOf(message.get());
  EXPECT_EQ(r.start, 0);
  EXPECT_EQ(r.end, 60);
  EXPECT_EQ(r.size, 60);
  EXPECT_EQ(testing::ReadAll(file), pieces[0] + pieces[1] + pieces[2]);
  EXPECT_FALSE(message->IsTempFile());
}

TEST(MessageFileTest, RewritingTheFileDiscardsWhatWasReadFromIt) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", "Subject: old\n\nold body\n"));
  EXPECT_EQ(TextOf(message.get()), "old body\r\n");
  ASSERT_NE(message->FindHeader("subject"), nullptr);

  ASSERT_EQ(message->WriteText(std::string_view("Subject: new\r\n\r\n")), StatusOk);
  EXPECT_EQ(message->HeadersCollection(), nullptr);
  const std::string more = "new body\r\n";
  ASSERT_EQ(message->AppendData(more.data(), more.size()), StatusOk);
  EXPECT_EQ(TextOf(message.get()), "new body\r\n");
  ImapMessageHeader* subject = message->FindHeader("Subject");
  ASSERT_NE(subject, nullptr);
  EXPECT_EQ(subject->value(), "new");
  EXPECT_EQ(RangeOf(message.get()).end, 26);
}

TEST(MessageFileTest, AFileThatCannotBeWrittenChangesNothing) {
  TempDir dir;
  Ref<ImapMessage> message = ImapMessage::Create();
  message->put_Filename(W(dir.File("no/such/dir/m")));
  message->put_StartPosition(3);
  message->put_EndPosition(7);
  EXPECT_EQ(message->WriteText(std::string_view("text")), StatusFail);
  EXPECT_EQ(message->AppendData("x", 1), StatusFail);
  const Range r = RangeOf(message.get());
  EXPECT_EQ(r.start, 3);
  EXPECT_EQ(r.end, 7);
}

TEST(MessageFileTest, HeadersFailWhileTheFileIsMissingAndWorkOnceItExists) {
  TempDir dir;
  Ref<ImapMessage> message = ImapMessage::Create();
  message->put_Filename(W(dir.File("later")));
  Ref<IImapMessageHeaders> headers;
  EXPECT_EQ(message->get_Headers(&headers), StatusFail);
  // Text and Parts never fail: they are empty.
  EXPECT_EQ(TextOf(message.get()), "");
  Ref<IImapMessages> parts;
  EXPECT_EQ(message->get_Parts(&parts), StatusOk);
  ASSERT_NE(parts, nullptr);

  dir.Write("later", "From: ann\n\nhello\n");
  ASSERT_EQ(message->get_Headers(&headers), StatusOk);
  std::int16_t count = 0;
  headers->get_Count(&count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(TextOf(message.get()), "hello\r\n");
}

TEST(MessageFileTest, ANegativeStartReadsTheHeaderFromTheStartOfTheFile) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(dir.Write("m", "A: 1\n\nbody\n"));
  message->put_StartPosition(-50);
  ASSERT_NE(message->FindHeader("A"), nullptr);
  EXPECT_EQ(message->BodyStart(), 6);
  // A start beyond the end gives an empty header and an empty text.
  Ref<ImapMessage> beyond = MessageOn(dir.File("m"));
  beyond->put_StartPosition(1000);
  Ref<IImapMessageHeaders> headers;
  ASSERT_EQ(beyond->get_Headers(&headers), StatusOk);
  EXPECT_EQ(ImapMessageHeaders::FromInterface(headers.get())->size(), 0u);
  EXPECT_EQ(TextOf(beyond.get()), "");
}

}  // namespace
}  // namespace kivimap::store
