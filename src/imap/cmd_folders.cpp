// LIST, LSUB, SUBSCRIBE, UNSUBSCRIBE, CREATE, DELETE and RENAME. The tree is the host's: these
// commands read it, set Subscribed, and ask the host to create, delete or move a folder, which
// the host does inside the event.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imap/commands.h"
#include "imap/mailbox_names.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

namespace {

Ref<IImapFolders> RootFolders(store::ImapUser& user) {
  Ref<IImapFolders> root;
  user.get_Folders(&root);
  return root;
}

// "* LIST () "/" name" or, for LSUB, "* LSUB () "/" name". (The described LSUB answered with
// LIST lines, which an RFC 3501 client files under LIST: its subscriptions came back empty.)
std::string ListLine(std::string_view verb, std::string_view path) {
  std::string line = "* ";
  line.append(verb).append(" () \"/\" ").append(QuoteMailboxName(path)).append("\r\n");
  return line;
}

// LIST and LSUB: two arguments, reference and pattern. LSUB lists only subscribed folders and
// queues its lines for the completion; both answer with LIST lines.
CommandResult ListOrLsub(Command& command, bool subscribed_only) {
  const std::string_view verb = subscribed_only ? "LSUB" : "LIST";
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    SendTagged(command, std::string("BAD ").append(verb).append(" parse error"));
    return CommandResult::Done;
  }
  const std::string_view reference = text + offsets[0];
  const std::string_view pattern = text + offsets[1];
  store::ImapUser& user = command.user;

  // The question for the hierarchy delimiter (RFC 3501, 6.3.8): it reads nothing of the tree.
  if (!subscribed_only && reference.empty() && pattern.empty()) {
    user.QueueResponse("* LIST (\\Noselect) \"/\" \"\"\r\n");
    SendTagged(command, "OK LIST completed");
    return CommandResult::Done;
  }

  const auto visitor = [&user, subscribed_only, verb](const FolderVisit& visit) {
    if (subscribed_only) {
      VariantBool subscribed = VariantFalse;
      if (visit.folder->get_Subscribed(&subscribed) != StatusOk || subscribed == VariantFalse) {
        return WalkResult::Continue;
      }
      user.QueueResponse(ListLine(verb, visit.path));
    } else {
      user.SendResponse(ListLine(verb, visit.path));
    }
    return WalkResult::Continue;
  };
  if (WalkFolders(command.server, user, RootFolders(user).get(), kRootPrefix, reference, pattern,
                  visitor) == WalkResult::Stop) {
    return CommandResult::Closed;
  }
  SendTagged(command, std::string("OK ").append(verb).append(" completed"));
  return CommandResult::Done;
}

CommandResult SetSubscribed(Command& command, bool subscribe) {
  const std::string_view verb = subscribe ? "SUBSCRIBE" : "UNSUBSCRIBE";
  std::size_t offsets[1];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 1) != 1) {
    SendTagged(command, std::string("BAD ").append(verb).append(" parse error"));
    return CommandResult::Done;
  }
  ServerContext& server = command.server;
  store::ImapUser& user = command.user;
  const auto visitor = [&server, &user, subscribe](const FolderVisit& visit) {
    visit.folder->put_Subscribed(subscribe ? VariantTrue : VariantFalse);
    return server.FireSubscribeFolder(user, visit.folder) ? WalkResult::Continue : WalkResult::Stop;
  };
  if (WalkFolders(server, user, RootFolders(user).get(), kRootPrefix, kSelectReference,
                  text + offsets[0], visitor) == WalkResult::Stop) {
    return CommandResult::Closed;
  }
  SendTagged(command, std::string("OK ").append(verb).append(" completed"));
  return CommandResult::Done;
}

// Splits count arguments and finds the folder the first one names. Returns the command's result
// when it ends here (a parse error, no such folder, or the connection gone), else nothing.
std::optional<CommandResult> FindNamedFolder(Command& command, std::string_view verb,
                                             std::size_t count, std::size_t* offsets,
                                             FoundFolder* found) {
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, static_cast<int>(count)) != static_cast<int>(count)) {
    SendTagged(command, std::string("BAD ").append(verb).append(" parse error"));
    return CommandResult::Done;
  }
  if (ResolveMailbox(command.server, command.user, text + offsets[0], kFolderReference, found) ==
      WalkResult::Stop) {
    return CommandResult::Closed;
  }
  if (!found->folder) {
    SendTagged(command, std::string("NO ").append(verb).append(" failed"));
    return CommandResult::Done;
  }
  return std::nullopt;
}

// Fires CreateFolder for name under parent (null: the top level). False when the server, the
// user or its connection went away; *allowed tells what the host answered.
bool AskCreate(Command& command, IImapFolder* parent, std::string_view name, bool* allowed) {
  std::int32_t action = Deny;
  if (!command.server.FireCreateFolder(command.user, parent, ToWide(name), &action)) return false;
  *allowed = action == Allow;
  return true;
}

// The non-empty levels of a path.
std::vector<std::string_view> LevelsOf(std::string_view path) {
  std::vector<std::string_view> levels;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) levels.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return levels;
}

}  // namespace

CommandResult HandleList(Command& command) { return ListOrLsub(command, false); }

CommandResult HandleLsub(Command& command) { return ListOrLsub(command, true); }

CommandResult HandleSubscribe(Command& command) { return SetSubscribed(command, true); }

CommandResult HandleUnsubscribe(Command& command) { return SetSubscribed(command, false); }

CommandResult HandleCreate(Command& command) {
  std::size_t offsets[1];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 1) != 1) {
    SendTagged(command, "BAD CREATE parse error");
    return CommandResult::Done;
  }
  const std::string_view mailbox = text + offsets[0];
  const std::size_t slash = mailbox.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? mailbox : mailbox.substr(slash + 1);
  FoundFolder parent;
  if (slash != std::string_view::npos) {
    const std::string_view parent_path = mailbox.substr(0, slash);
    if (ResolveMailbox(command.server, command.user, parent_path, kFolderReference, &parent) ==
        WalkResult::Stop) {
      return CommandResult::Closed;
    }
    if (!parent.folder) {
      // Missing levels are created one by one from the top, each asked of the host and found
      // again once the host made it, so that success never stands for a folder created
      // somewhere else than asked.
      std::string level_path;
      for (const std::string_view level_name : LevelsOf(parent_path)) {
        if (!level_path.empty()) level_path.push_back('/');
        level_path.append(level_name);
        FoundFolder level;
        if (ResolveMailbox(command.server, command.user, level_path, kFolderReference, &level) ==
            WalkResult::Stop) {
          return CommandResult::Closed;
        }
        if (!level.folder) {
          bool allowed = false;
          if (!AskCreate(command, parent.folder.get(), level_name, &allowed)) {
            return CommandResult::Closed;
          }
          if (allowed && ResolveMailbox(command.server, command.user, level_path, kFolderReference,
                                        &level) == WalkResult::Stop) {
            return CommandResult::Closed;
          }
          if (!allowed || !level.folder) {
            SendTagged(command, "NO CREATE failed");
            return CommandResult::Done;
          }
        }
        parent = std::move(level);
      }
    }
  }
  bool allowed = false;
  if (!AskCreate(command, parent.folder.get(), name, &allowed)) return CommandResult::Closed;
  SendTagged(command, allowed ? "OK CREATE completed" : "NO CREATE failed");
  return CommandResult::Done;
}

CommandResult HandleDelete(Command& command) {
  std::size_t offsets[1];
  FoundFolder found;
  if (auto ended = FindNamedFolder(command, "DELETE", 1, offsets, &found)) return *ended;
  std::int32_t action = Deny;
  if (!command.server.FireDeleteFolder(command.user, found.parent.get(), found.folder.get(),
                                       &action)) {
    return CommandResult::Closed;
  }
  SendTagged(command, action == Allow ? "OK DELETE completed" : "NO DELETE failed");
  return CommandResult::Done;
}

CommandResult HandleRename(Command& command) {
  std::size_t offsets[2];
  FoundFolder found;
  if (auto ended = FindNamedFolder(command, "RENAME", 2, offsets, &found)) return *ended;
  const char* text = command.arguments.data();
  // A name without "/" would move the folder to the top level, which is never done.
  const std::string_view new_name = text + offsets[1];
  const std::size_t slash = new_name.rfind('/');
  if (slash == std::string_view::npos) {
    SendTagged(command, "NO RENAME failed");
    return CommandResult::Done;
  }
  FoundFolder destination;
  if (ResolveMailbox(command.server, command.user, new_name.substr(0, slash), kFolderReference,
                     &destination) == WalkResult::Stop) {
    return CommandResult::Closed;
  }
  if (!destination.folder) {
    SendTagged(command, "NO RENAME failed");
    return CommandResult::Done;
  }
  // A folder moved into itself or below itself would own its own ancestor: refused.
  bool into_itself = destination.folder.get() == found.folder.get();
  for (const Ref<IImapFolder>& ancestor : destination.ancestors) {
    into_itself = into_itself || ancestor.get() == found.folder.get();
  }
  if (into_itself) {
    SendTagged(command, "NO RENAME failed");
    return CommandResult::Done;
  }
  const std::string_view destination_name = new_name.substr(slash + 1);
  WideString current_name;
  found.folder->get_Name(&current_name);
  if (destination.folder.get() == found.parent.get() &&
      current_name.ToNarrow() == destination_name) {
    SendTagged(command, "NO RENAME failed - no changes requested");
    return CommandResult::Done;
  }
  std::int32_t action = Deny;
  if (!command.server.FireMoveFolder(command.user, found.parent.get(), found.folder.get(),
                                     destination.folder.get(), ToWide(destination_name), &action)) {
    return CommandResult::Closed;
  }
  SendTagged(command, action == Allow ? "OK RENAME completed" : "NO RENAME failed");
  return CommandResult::Done;
}

}  // namespace kivimap::imap
