#include "session.h"

#include <algorithm>

#include "log.h"

namespace kivimapd {

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The word that starts at `from` (after spaces) and where the text after it starts.
std::string_view Word(std::string_view text, std::size_t* from) {
  while (*from < text.size() && text[*from] == ' ') ++*from;
  const std::size_t end = std::min(text.find(' ', *from), text.size());
  const std::string_view word = text.substr(*from, end - *from);
  *from = end;
  return word;
}

}  // namespace

kivimap::Ref<Session> Session::Of(kivimap::IImapUser* user) {
  kivimap::Variant tag;
  if (!user || kivimap::Failed(user->get_Tag(&tag)) || tag.type() != kivimap::VarType::Dispatch ||
      tag.IsByRef()) {
    return nullptr;
  }
  return kivimap::Ref<Session>(dynamic_cast<Session*>(tag.dispatch()));
}

std::uint32_t Session::Release() {
  const std::uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

Session::~Session() { LogDebug(Label() + " ended"); }

std::string Session::Label() const {
  std::string label = "#";
  label.append(std::to_string(id_)).append(" ").append(user_.empty() ? peer_ : user_);
  return label;
}

void Session::LoggedIn(const std::string& name, const std::string& maildir) {
  user_ = name;
  maildir_.emplace(maildir);
  Changed();
}

void Session::CommandStarted(const std::string& line) {
  ++serial_;
  std::size_t at = 0;
  tag_ = std::string(Word(line, &at));
  command_ = Upper(Word(line, &at));
  if (command_ == "UID") command_ = Upper(Word(line, &at));
}

const std::vector<Levels>& Session::Folders() {
  Refresh();
  return folders_;
}

const std::set<std::string>& Session::Subscriptions() {
  Refresh();
  return subscriptions_;
}

void Session::Refresh() {
  if (view_serial_ == serial_ || !maildir_) return;
  folders_ = maildir_->ListFolders();
  subscriptions_ = maildir_->Subscriptions();
  view_serial_ = serial_;
}

}  // namespace kivimapd
