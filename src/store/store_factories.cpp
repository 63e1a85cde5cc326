// The factories through which a host creates store objects of its own. Such objects belong to
// no collection, folder or user until the host puts them somewhere.
#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/folders.h"
#include "store/headers.h"
#include "store/messages.h"

namespace kivimap {
namespace {

template <class Iface, class Impl>
Status Make(Ref<Iface>* out) {
  return automation::HandOut(out, [] { return Impl::Create(); });
}

}  // namespace

Status CreateImapFolder(Ref<IImapFolder>* out) { return Make<IImapFolder, store::ImapFolder>(out); }

Status CreateImapFolders(Ref<IImapFolders>* out) {
  return Make<IImapFolders, store::ImapFolders>(out);
}

Status CreateImapMessage(Ref<IImapMessage>* out) {
  return Make<IImapMessage, store::ImapMessage>(out);
}

Status CreateImapMessages(Ref<IImapMessages>* out) {
  return Make<IImapMessages, store::ImapMessages>(out);
}

Status CreateImapMessageHeader(Ref<IImapMessageHeader>* out) {
  return Make<IImapMessageHeader, store::ImapMessageHeader>(out);
}

Status CreateImapMessageHeaders(Ref<IImapMessageHeaders>* out) {
  return Make<IImapMessageHeaders, store::ImapMessageHeaders>(out);
}

}  // namespace kivimap
