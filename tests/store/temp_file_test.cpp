// Temporary message files: where they are made, and that exactly the message that made one
// deletes it, and never a file the host named.
#include "store/temp_file.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

// Points TMPDIR somewhere for one test and puts the old value back.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& dir) {
    if (const char* old = ::getenv("TMPDIR")) old_ = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpDir() {
    if (old_.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", old_.c_str(), 1);
    }
  }

 private:
  std::string old_;
};

std::string FilenameOf(IImapMessage* message) {
  WideString name;
  message->get_Filename(&name);
  return N(name);
}

TEST(TempFileTest, WritingANamelessMessageMakesAPrivateFileInTheTempDirectory) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path() + "/");
  Ref<ImapMessage> message = ImapMessage::Create();
  ASSERT_EQ(message->WriteText(std::string_view("Subject: t\r\n\r\n")), StatusOk);
  EXPECT_TRUE(message->IsTempFile());
  const std::string file = FilenameOf(message.get());
  EXPECT_EQ(file.rfind(dir.path() + "/IMAP", 0), 0u) << file;
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(testing::ReadAll(file), "Subject: t\r\n\r\n");
  std::int32_t end = 0;
  message->get_EndPosition(&end);
  EXPECT_EQ(end, 14);

  message.Reset();
  EXPECT_FALSE(testing::Exists(file));
}

TEST(TempFileTest, AppendDataAloneAlsoMakesOne) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path());
  Ref<ImapMessage> message = ImapMessage::Create();
  ASSERT_EQ(message->AppendData("abc", 3), StatusOk);
  const std::string file = FilenameOf(message.get());
  EXPECT_TRUE(message->IsTempFile());
  EXPECT_EQ(testing::ReadAll(file), "abc");
  message.Reset();
  EXPECT_FALSE(testing::Exists(file));
}

TEST(TempFileTest, ANewFilenameDeletesTheTemporaryFileFirst) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path());
  const std::string host_file = dir.Write("host", "Subject: h\r\n\r\n");
  Ref<ImapMessage> message = ImapMessage::Create();
  ASSERT_EQ(message->WriteText(std::string_view("x")), StatusOk);
  const std::string temp = FilenameOf(message.get());

  // The same name again is no change.
  message->put_Filename(W(temp));
  EXPECT_TRUE(testing::Exists(temp));
  EXPECT_TRUE(message->IsTempFile());

  message->put_Filename(W(host_file));
  EXPECT_FALSE(testing::Exists(temp));
  EXPECT_FALSE(message->IsTempFile());
  message.Reset();
  EXPECT_TRUE(testing::Exists(host_file));
}

TEST(TempFileTest, AFileTheHostNamedIsNeverDeleted) {
  TempDir dir;
  const std::string host_file = dir.File("hosts");
  Ref<ImapMessage> message = ImapMessage::Create();
  message->put_Filename(W(host_file));
  ASSERT_EQ(message->WriteText(std::string_view("Subject: s\r\n\r\n")), StatusOk);
  ASSERT_EQ(message->AppendData("body\r\n", 6), StatusOk);
  EXPECT_FALSE(message->IsTempFile());
  message->put_Filename(W(dir.File("other")));
  EXPECT_TRUE(testing::Exists(host_file));
  message.Reset();
  EXPECT_EQ(testing::ReadAll(host_file), "Subject: s\r\n\r\nbody\r\n");
}

TEST(TempFileTest, TheTempDirectoryFallsBackToTmp) {
  {
    ScopedTmpDir relative("relative/dir");
    EXPECT_EQ(TempDirectory(), "/tmp");
  }
  {
    ScopedTmpDir too_long("/" + std::string(1100, 'd'));
    EXPECT_EQ(TempDirectory(), "/tmp");
  }
  {
    ScopedTmpDir fine("/var/tmp//");
    EXPECT_EQ(TempDirectory(), "/var/tmp");
  }
}

TEST(TempFileTest, AnUnusableTempDirectoryFailsTheWrite) {
  TempDir dir;
  ScopedTmpDir tmp(dir.path() + "/does-not-exist");
  Ref<ImapMessage> message = ImapMessage::Create();
  EXPECT_EQ(message->WriteText(std::string_view("x")), StatusFail);
  EXPECT_FALSE(message->IsTempFile());
  EXPECT_EQ(FilenameOf(message.get()), "");
}

}  // namespace
}  // namespace kivimap::store
