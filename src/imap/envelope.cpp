#include "imap/envelope.h"

#include "imap/imap_string.h"
#include "store/headers.h"

namespace kivimap::imap {

namespace {

// An empty piece carries no information, and clients read NIL more reliably than "".
void AppendNonEmptyOrNil(std::string& out, std::optional<std::string_view> value) {
  if (value && !value->empty()) {
    AppendImapString(out, *value);
  } else {
    out.append("NIL");
  }
}

std::optional<std::string_view> ValueOf(const store::ImapMessageHeaders& headers,
                                        std::string_view name) {
  const store::ImapMessageHeader* field = headers.Find(name);
  if (!field) return std::nullopt;
  return field->value();
}

void AppendAddressList(std::string& out, std::optional<std::string_view> field_value) {
  if (!field_value) {
    out.append(" NIL");
    return;
  }
  out.append(" ((");
  BuildAddress(out, *field_value);
  out.append("))");
}

}  // namespace

ParsedAddress ParseAddress(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  ParsedAddress address;
  if (const std::size_t open = text.find('"'); open != npos) {
    if (const std::size_t close = text.find('"', open + 1); close != npos) {
      address.name = text.substr(open + 1, close - open - 1);
    }
  }
  if (const std::size_t open = text.find('<'); open != npos) {
    if (const std::size_t close = text.find('>', open + 1); close != npos) {
      text = text.substr(0, close);
      if (const std::size_t at = text.find('@', open + 1); at != npos) {
        address.mailbox = text.substr(open + 1, at - open - 1);
        address.host = text.substr(at + 1);
      }
    }
  } else if (!address.name) {
    if (const std::size_t at = text.find('@'); at != npos) {
      address.mailbox = text.substr(0, at);
      address.host = text.substr(at + 1);
    }
  }
  const bool has_name = address.name && !address.name->empty();
  const bool has_mailbox = address.mailbox && !address.mailbox->empty();
  if (!has_name && !has_mailbox) address.name = text;
  return address;
}

void BuildAddress(std::string& out, std::string_view field_value) {
  const ParsedAddress address = ParseAddress(field_value);
  AppendNonEmptyOrNil(out, address.name);
  out.append(" NIL ");
  AppendNonEmptyOrNil(out, address.mailbox);
  out.push_back(' ');
  AppendNonEmptyOrNil(out, address.host);
}

void BuildEnvelope(std::string& out, store::ImapMessage& message) {
  out.push_back('(');
  message.ParseHeaders();
  if (const store::ImapMessageHeaders* headers = message.HeadersCollection()) {
    AppendNString(out, ValueOf(*headers, "Date"));
    out.push_back(' ');
    AppendNString(out, ValueOf(*headers, "Subject"));
    const auto from = ValueOf(*headers, "From");
    AppendAddressList(out, from);  // From
    AppendAddressList(out, from);  // Sender
    AppendAddressList(out, from);  // Reply-To
    AppendAddressList(out, ValueOf(*headers, "To"));
    AppendAddressList(out, ValueOf(*headers, "Cc"));
    out.append(" NIL NIL ");  // Bcc, In-Reply-To
    AppendImapString(out, ValueOf(*headers, "Message-ID").value_or("<?>"));
  }
  out.push_back(')');
}

}  // namespace kivimap::imap
