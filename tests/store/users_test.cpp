// The server's users collection as the host sees it: Item and Index in the order users were
// accepted, whatever was removed before, and RemoveAll releasing first to last.
#include <random>
#include <string>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

// Records, when it ends, the name it was given: held as a user's Tag, it tells when the user
// ended.
struct EndRecorder : automation::DispatchObject<IDispatch> {
  EndRecorder(std::vector<std::string>* to, std::string as) : log(to), name(std::move(as)) {}
  ~EndRecorder() override { log->push_back(name); }
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusNotImplemented; }
  Status Invoke(DispId, InvokeFlags, DispParams&, Variant*) override {
    return StatusNotImplemented;
  }
  std::vector<std::string>* log;
  std::string name;
};

class UsersFixture {
 public:
  ImapUsers& users() { return server_->Users(); }

  // A new user of the stub server, appended to its collection.
  Ref<ImapUser> Connect() {
    Ref<ImapUser> user(new ImapUser);
    user->SetHost(server_.get());
    users().Append(user);
    return user;
  }

  // What the host reads: Count, then Item(0..Count-1).
  std::vector<IImapUser*> Listed() {
    std::int16_t count = -1;
    EXPECT_EQ(users().get_Count(&count), StatusOk);
    std::vector<IImapUser*> listed;
    for (std::int16_t i = 0; i < count; ++i) {
      Ref<IImapUser> user;
      EXPECT_EQ(users().get_Item(i, &user), StatusOk) << i;
      listed.push_back(user.get());
    }
    Ref<IImapUser> past;
    EXPECT_EQ(users().get_Item(count, &past), StatusInvalidArg);
    return listed;
  }

  // Every listed user's Index is its position.
  void ExpectIndexesMatch(const std::vector<IImapUser*>& listed) {
    for (std::size_t i = 0; i < listed.size(); ++i) {
      std::int16_t index = -1;
      EXPECT_EQ(listed[i]->get_Index(&index), StatusOk);
      EXPECT_EQ(index, static_cast<std::int16_t>(i));
    }
  }

 private:
  Ref<StubServer> server_{new StubServer};
};

std::vector<IImapUser*> Pick(const std::vector<Ref<ImapUser>>& users, std::vector<int> which) {
  std::vector<IImapUser*> picked;
  for (int i : which) picked.push_back(users[static_cast<std::size_t>(i)].get());
  return picked;
}

TEST(UsersTest, RemovalClosesTheGapAndKeepsTheOrderOfConnecting) {
  const struct {
    const char* name;
    int connected;
    std::vector<int> removed;  // in this order; a repeat is a no-op
    bool query_between;        // read the Index of the last user left after each removal
    std::vector<int> left;
  } cases[] = {
      {"first", 4, {0}, false, {1, 2, 3}},
      {"middle", 4, {2}, false, {0, 1, 3}},
      {"last", 4, {3}, false, {0, 1, 2}},
      {"twice", 3, {1, 1}, false, {0, 2}},
      {"most, so holes outnumber users", 6, {4, 0, 2, 5}, false, {1, 3}},
      {"every other, read between", 8, {1, 3, 5, 7}, true, {0, 2, 4, 6}},
      {"back to front, read between", 5, {4, 3, 2, 1}, true, {0}},
      {"all", 3, {1, 0, 2}, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UsersFixture fixture;
    std::vector<Ref<ImapUser>> users;
    for (int i = 0; i < c.connected; ++i) users.push_back(fixture.Connect());
    std::vector<bool> gone(users.size());
    for (int r : c.removed) {
      fixture.users().Remove(users[static_cast<std::size_t>(r)].get());
      gone[static_cast<std::size_t>(r)] = true;
      for (std::size_t i = users.size(); c.query_between && i-- > 0;) {
        if (gone[i]) continue;
        std::int16_t index = -1;
        EXPECT_EQ(users[i]->get_Index(&index), StatusOk);
        break;
      }
    }
    const std::vector<IImapUser*> listed = fixture.Listed();
    EXPECT_EQ(listed, Pick(users, c.left));
    EXPECT_EQ(fixture.users().size(), c.left.size());
    fixture.ExpectIndexesMatch(listed);
    for (int r : c.removed) {
      std::int16_t index = -1;
      EXPECT_EQ(users[static_cast<std::size_t>(r)]->get_Index(&index), StatusInvalidArg);
    }

    // A user connecting now comes after those still there.
    Ref<ImapUser> late = fixture.Connect();
    std::vector<IImapUser*> want = Pick(users, c.left);
    want.push_back(late.get());
    EXPECT_EQ(fixture.Listed(), want);
  }
}

// Many users connecting and leaving in a random (fixed) order, checked against a plain list;
// reading Index now and then compacts at other moments than removals do.
TEST(UsersTest, ManyConnectingAndLeavingMatchAPlainList) {
  UsersFixture fixture;
  std::vector<Ref<ImapUser>> model;
  std::mt19937 random(20240531);
  for (int step = 0; step < 10000; ++step) {
    if (model.empty() || random() % 5 < 3) {
      model.push_back(fixture.Connect());
    } else {
      const std::size_t at = random() % model.size();
      fixture.users().Remove(model[at].get());
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
    }
    ASSERT_EQ(fixture.users().size(), model.size());
    if (step % 613 == 0 && !model.empty()) {
      const ImapUser* someone = model[random() % model.size()].get();
      const auto position = fixture.users().PositionOf(someone);
      ASSERT_TRUE(position.has_value());
      EXPECT_EQ(model[*position].get(), someone);
    }
  }
  std::vector<IImapUser*> want;
  for (const auto& user : model) want.push_back(user.get());
  const std::vector<IImapUser*> listed = fixture.Listed();
  EXPECT_EQ(listed, want);
  fixture.ExpectIndexesMatch(listed);
}

// The server walks its users (as Stop does) while the walk may change the collection; Item and
// Index asked meanwhile still answer by the live order.
TEST(UsersTest, ForEachUserVisitsInOrderWhileTheCollectionChanges) {
  UsersFixture fixture;
  std::vector<Ref<ImapUser>> users;
  for (int i = 0; i < 6; ++i) users.push_back(fixture.Connect());
  fixture.users().Remove(users[1].get());

  std::vector<IImapUser*> visited;
  Ref<ImapUser> late;
  fixture.users().ForEachUser([&](ImapUser& user) {
    visited.push_back(&user);
    if (&user == users[2].get()) {
      fixture.users().Remove(users[2].get());  // the user being visited
      fixture.users().Remove(users[4].get());  // one not visited yet: skipped
      fixture.users().Remove(users[0].get());  // one visited already
      late = fixture.Connect();                // after the walk began: not visited
      const std::vector<IImapUser*> listed = fixture.Listed();
      EXPECT_EQ(listed, (std::vector<IImapUser*>{users[3].get(), users[5].get(), late.get()}));
      fixture.ExpectIndexesMatch(listed);
    }
  });
  EXPECT_EQ(visited, Pick(users, {0, 2, 3, 5}));
  const std::vector<IImapUser*> listed = fixture.Listed();
  EXPECT_EQ(listed, (std::vector<IImapUser*>{users[3].get(), users[5].get(), late.get()}));
  fixture.ExpectIndexesMatch(listed);
}

TEST(UsersTest, RemoveAllReleasesTheUsersLeftFirstToLast) {
  std::vector<std::string> ended;
  UsersFixture fixture;
  Ref<ImapUser> gone;
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    Ref<ImapUser> user = fixture.Connect();
    Ref<IDispatch> recorder(new EndRecorder(&ended, name));
    ASSERT_EQ(user->put_Tag(Variant(recorder.get())), StatusOk);
    if (std::string(name) == "b") gone = user;
  }
  fixture.users().Remove(gone.get());
  gone.Reset();
  EXPECT_EQ(ended, std::vector<std::string>{"b"});

  fixture.users().RemoveAll();
  EXPECT_EQ(ended, (std::vector<std::string>{"b", "a", "c", "d", "e"}));
  EXPECT_EQ(fixture.users().size(), 0u);
  EXPECT_TRUE(fixture.Listed().empty());
}

}  // namespace
}  // namespace kivimap::store::testing
