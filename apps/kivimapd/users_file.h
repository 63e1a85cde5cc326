// The users file: one "name:hash" line per user, the hash a crypt(3) string (yescrypt "$y$" or
// SHA-512 "$6$", as libcrypt writes them). Empty lines and lines starting with "#" are ignored;
// fields after a second ":" are ignored too, so a passwd-style file with more fields works.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kivimapd {

class UsersFile {
 public:
  // Reads the file. On success the table is replaced and lines that cannot be used are logged;
  // on failure (the file cannot be read) the table is kept and *error says why.
  bool Load(const std::string& path, std::string* error);

  // True when name is a user and password matches its hash. An unknown user costs the same
  // time as a wrong password, so that timing does not tell which names exist.
  bool Check(std::string_view name, std::string_view password) const;

  bool Has(std::string_view name) const { return users_.find(name) != users_.end(); }
  std::size_t size() const { return users_.size(); }

 private:
  std::map<std::string, std::string, std::less<>> users_;  // name -> hash
};

// A crypt(3) hash of password with a fresh salt: yescrypt where libcrypt offers it, else
// SHA-512. Empty, with *error, on failure.
std::string HashPassword(std::string_view password, std::string* error);

// Adds the user's line, or replaces the line of a user of that name, keeping every other line
// as it is; the file is replaced atomically with mode 0600, under a lock against another
// --add-user at the same time.
bool AddUser(const std::string& path, std::string_view name, std::string_view password,
             std::string* error);

}  // namespace kivimapd
