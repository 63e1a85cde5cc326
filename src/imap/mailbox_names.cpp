#include "imap/mailbox_names.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "common/ascii.h"
#include "imap/imap_string.h"
#include "store/folders.h"

namespace kivimap::imap {

namespace {

enum class TokenKind { Literal, AnyOne, AnyRun, LevelRun };

// The number of folders in a collection. The tree's own collections are counted exactly; a
// collection of another make through its 16-bit Count.
std::size_t CountOf(IImapFolders* collection) {
  if (const store::ImapFolders* own = store::ImapFolders::FromInterface(collection)) {
    return own->size();
  }
  std::int16_t count = 0;
  if (collection->get_Count(&count) != StatusOk || count < 0) return 0;
  return static_cast<std::size_t>(count);
}

Ref<IImapFolder> ItemOf(IImapFolders* collection, std::size_t index) {
  if (const store::ImapFolders* own = store::ImapFolders::FromInterface(collection)) {
    return Ref<IImapFolder>(own->at(index));
  }
  Ref<IImapFolder> folder;
  if (collection->get_Item(Variant(static_cast<std::int32_t>(index)), &folder) != StatusOk) {
    return nullptr;
  }
  return folder;
}

std::string NameOf(IImapFolder* folder) {
  WideString name;
  if (folder->get_Name(&name) != StatusOk) return {};
  return name.ToNarrow();
}

Ref<IImapFolders> SubFoldersOf(IImapFolder* folder) {
  Ref<IImapFolders> sub_folders;
  if (folder->get_SubFolders(&sub_folders) != StatusOk) return nullptr;
  return sub_folders;
}

// "/" between a prefix and a name, unless the prefix is empty or already ends with one.
void AppendLevel(std::string& path, std::string_view name) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path.append(name);
}

}  // namespace

bool MatchMailboxPattern(std::string_view text, std::string_view pattern) {
  if (pattern == "*") return true;
  // reach[i]: the pattern read so far can match text[0, i). One pass per pattern token, so no
  // pattern, however many wildcards it holds, takes more than length x length steps.
  const std::size_t n = text.size();
  std::vector<char> reach(n + 1, 0);
  std::vector<char> next(n + 1, 0);
  reach[0] = 1;
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    const char c = pattern[p];
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    if (c == '*' || c == '%') {
      // A run of wildcards counts as one; "*" in the run wins.
      bool level_only = true;
      while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
        if (pattern[p] == '*') level_only = false;
        ++p;
      }
      --p;
      bool open = false;
      for (std::size_t i = 0; i <= n; ++i) {
        if (level_only && i > 0 && text[i - 1] == '/') open = false;
        open = open || reach[i] != 0;
        next[i] = open ? 1 : 0;
        any = any || open;
      }
    } else {
      char literal = c;
      const bool any_one = c == '?';
      if (c == '\\' && p + 1 < pattern.size()) literal = pattern[++p];
      for (std::size_t i = 0; i < n; ++i) {
        if (reach[i] && (any_one || text[i] == literal)) {
          next[i + 1] = 1;
          any = true;
        }
      }
    }
    if (!any) return false;
    reach.swap(next);
  }
  return reach[n] != 0;
}

std::string QuoteMailboxName(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  AppendImapString(out, name);
  return out;
}

WalkResult WalkFolders(ServerContext& server, store::ImapUser& user, IImapFolders* collection,
                       std::string_view prefix, std::string_view reference,
                       std::string_view pattern, const FolderVisitor& visitor) {
  if (!collection) return WalkResult::Continue;
  const std::string lower_reference = reference.empty() ? "*" : AsciiLower(reference);
  const std::string lower_pattern = AsciiLower(pattern);

  // One frame per level being walked: its collection, the next index, and the length of the
  // level's prefix in path. The walk holds a reference to each collection and folder on it,
  // whatever the host removes inside an event.
  struct Frame {
    Ref<IImapFolders> collection;
    std::size_t next_index;
    std::size_t prefix_length;
  };
  std::vector<Frame> frames;
  std::vector<Ref<IImapFolder>> ancestors;  // the folder owning each frame's collection
  std::string path(prefix);                 // own letter case
  std::string lower_path = AsciiLower(prefix);
  std::string full_path;
  std::string lower_full_path;
  frames.push_back({Ref<IImapFolders>(collection), 0, path.size()});

  while (!frames.empty()) {
    Frame& frame = frames.back();
    path.resize(frame.prefix_length);
    lower_path.resize(frame.prefix_length);
    if (frame.next_index >= CountOf(frame.collection.get())) {
      frames.pop_back();
      if (!ancestors.empty()) ancestors.pop_back();
      continue;
    }
    const Ref<IImapFolders> level = frame.collection;
    const Ref<IImapFolder> folder = ItemOf(level.get(), frame.next_index++);
    if (!folder) continue;
    const std::string name = NameOf(folder.get());

    if (!lower_path.empty() && MatchMailboxPattern(lower_path, lower_reference)) {
      full_path.assign(path, path.empty() ? 0 : 1);
      if (!full_path.empty()) full_path.push_back('/');
      full_path.append(name);
      lower_full_path = AsciiLower(full_path);
      if (!lower_full_path.empty() && MatchMailboxPattern(lower_full_path, lower_pattern)) {
        const FolderVisit visit{level.get(),  ancestors.empty() ? nullptr : ancestors.back().get(),
                                folder.get(), path,
                                name,         full_path,
                                ancestors};
        if (visitor(visit) == WalkResult::Stop) return WalkResult::Stop;
      }
    }

    AppendLevel(path, name);
    AppendLevel(lower_path, AsciiLower(name));
    const std::size_t child_prefix_length = path.size();
    if (!server.FireListFolders(user, folder.get())) return WalkResult::Stop;
    Ref<IImapFolders> sub_folders = SubFoldersOf(folder.get());
    if (!sub_folders) continue;
    ancestors.push_back(folder);
    frames.push_back({std::move(sub_folders), 0, child_prefix_length});
  }
  return WalkResult::Continue;
}

FolderVisitor FindFirstFolder(FoundFolder* result) {
  return [result](const FolderVisit& visit) {
    if (!result->folder) {
      result->folder = Ref<IImapFolder>(visit.folder);
      result->parent = Ref<IImapFolder>(visit.parent);
      result->ancestors.assign(visit.ancestors.begin(), visit.ancestors.end());
    }
    return WalkResult::Continue;
  };
}

WalkResult ResolveMailbox(ServerContext& server, store::ImapUser& user, std::string_view name,
                          std::string_view reference, FoundFolder* result) {
  Ref<IImapFolders> root;
  user.get_Folders(&root);
  return WalkFolders(server, user, root.get(), kRootPrefix, reference, name,
                     FindFirstFolder(result));
}

}  // namespace kivimap::imap
