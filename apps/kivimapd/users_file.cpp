#include "users_file.h"

#include <crypt.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "durable_file.h"
#include "log.h"
#include "mailbox_names.h"

namespace kivimapd {

namespace {

constexpr std::size_t kMaxUsersFile = 16u << 20;

// A hash of a password nobody knows, to spend the time of a check for an unknown user.
const std::string& DummyHash() {
  static const std::string hash = [] {
    std::string error;
    return HashPassword("kivimapd: no such user", &error);
  }();
  return hash;
}

// crypt(3) of password with setting (a stored hash or a fresh salt); empty when libcrypt
// refuses (an unsupported method, a malformed hash).
std::string Crypt(std::string_view password, const std::string& setting) {
  const std::string text(password);
  auto data = std::make_unique<crypt_data>();
  const char* result = ::crypt_r(text.c_str(), setting.c_str(), data.get());
  // libcrypt answers a failure with NULL or with a string that starts with "*".
  if (!result || result[0] == '*') return {};
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

struct UserLine {
  std::string_view name;
  std::string_view hash;
};

// The fields of a line that names a user; nothing for comments and blank lines.
std::optional<UserLine> SplitLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return std::nullopt;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return UserLine{line, {}};
  std::string_view hash = line.substr(colon + 1);
  hash = hash.substr(0, hash.find(':'));
  return UserLine{line.substr(0, colon), hash};
}

}  // namespace

bool UsersFile::Load(const std::string& path, std::string* error) {
  bool missing = false;
  const auto text = ReadSmallFile(path, kMaxUsersFile, &missing, error);
  if (!text) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
    LogWarning("users file " + Printable(path) + " can be read by others (chmod 600 it)");
  }
  std::map<std::string, std::string, std::less<>> users;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text->size();) {
    const std::size_t end = std::min(text->find('\n', start), text->size());
    const std::string_view line = std::string_view(*text).substr(start, end - start);
    start = end + 1;
    ++number;
    const std::optional<UserLine> user = SplitLine(line);
    if (!user) continue;
    const std::string where = Printable(path) + " line " + std::to_string(number);
    if (!IsSafeUserName(user->name)) {
      LogWarning(where + ": not a usable user name; line ignored");
    } else if (user->hash.empty() || user->hash.front() != '$') {
      LogWarning(where + ": no crypt(3) hash for " + std::string(user->name) + "; line ignored");
    } else if (!users.emplace(user->name, user->hash).second) {
      LogWarning(where + ": " + std::string(user->name) +
                 " is listed again; the first line counts");
    }
  }
  users_ = std::move(users);
  DummyHash();  // computed now rather than inside the first refused login
  return true;
}

bool UsersFile::Check(std::string_view name, std::string_view password) const {
  const auto user = users_.find(name);
  // A NUL would end the password early for crypt(3): "pw\0anything" must not pass as "pw".
  const bool usable = password.find('\0') == std::string_view::npos;
  const std::string& hash = user != users_.end() ? user->second : DummyHash();
  const std::string computed = Crypt(usable ? password : std::string_view(), hash);
  return user != users_.end() && usable && !computed.empty() && SameText(computed, hash);
}

std::string HashPassword(std::string_view password, std::string* error) {
  for (const char* prefix : {"$y$", "$6$"}) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!::crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting)) continue;
    std::string hash = Crypt(password, setting);
    if (!hash.empty()) return hash;
  }
  *error = "libcrypt offers neither yescrypt nor SHA-512";
  return {};
}

bool AddUser(const std::string& path, std::string_view name, std::string_view password,
             std::string* error) {
  if (!IsSafeUserName(name)) {
    *error = "not a usable user name (1 to 64 letters, digits or ._@+-, not starting with .)";
    return false;
  }
  if (password.empty() || password.find('\0') != std::string_view::npos) {
    *error = "the password is empty or holds a NUL byte";
    return false;
  }
  const std::string hash = HashPassword(password, error);
  if (hash.empty()) return false;
  FileLock lock = FileLock::Acquire(path + ".lock", error);
  if (!lock.held()) return false;
  bool missing = false;
  std::string text;
  if (auto old = ReadSmallFile(path, kMaxUsersFile, &missing, error)) {
    text = std::move(*old);
  } else if (!missing) {
    return false;
  }
  std::string out;
  bool replaced = false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = std::string_view(text).substr(start, end - start);
    start = end + 1;
    const std::optional<UserLine> user = SplitLine(line);
    if (user && user->name == name) {
      if (replaced) continue;  // only one line per user stays
      replaced = true;
      out.append(name).append(":").append(hash).push_back('\n');
    } else {
      out.append(line).push_back('\n');
    }
  }
  if (!replaced) out.append(name).append(":").append(hash).push_back('\n');
  return ReplaceFile(path, out, 0600, error);
}

}  // namespace kivimapd
