// kivImapServerPropPageGeneral: the server's "General" property page, as a model that a host's
// own dialog or form shows and edits. Five single-line text fields, top to bottom:
//
//   207 "Greeting Message"   GreetingMessage
//   208 "Goodbye Message"    GoodbyeMessage
//   209 "Bind IP"            BindIP
//   210 "Port"               Port
//   211 "Timeout"            Timeout
//
// Field text is 8-bit text in the system code page (UTF-8). The page edits one or more servers:
// Activate fills the fields from the first, Apply writes them to all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kivimap/interfaces.h"
#include "kivimap/status.h"

namespace kivimap {

// What shows the page: told whenever the page's changed flag changes, and after every Apply.
class IPropertyPageSite {
 public:
  virtual void OnStatusChange(bool changed) = 0;

 protected:
  virtual ~IPropertyPageSite() = default;
};

class kivImapServerPropPageGeneral {
 public:
  enum FieldId : int {
    FieldGreetingMessage = 207,
    FieldGoodbyeMessage = 208,
    FieldBindIP = 209,
    FieldPort = 210,
    FieldTimeout = 211,
  };
  struct FieldInfo {
    FieldId id;
    const char* label;
  };
  static constexpr std::array<FieldInfo, 5> kFields = {{
      {FieldGreetingMessage, "Greeting Message"},
      {FieldGoodbyeMessage, "Goodbye Message"},
      {FieldBindIP, "Bind IP"},
      {FieldPort, "Port"},
      {FieldTimeout, "Timeout"},
  }};
  static constexpr const char* kTitle = "General";

  // The site may be null; it must outlive the page or be replaced first.
  explicit kivImapServerPropPageGeneral(IPropertyPageSite* site = nullptr) : site_(site) {}
  void SetSite(IPropertyPageSite* site) { site_ = site; }

  // Replaces the servers the page edits; it holds a reference on each. StatusPointer, and
  // nothing replaced, when one of them is null.
  Status SetObjects(std::span<IkivImapServer* const> servers);
  std::size_t ObjectCount() const { return servers_.size(); }

  // Fills the fields from the first server: texts as they are, Port and Timeout as unsigned
  // decimal numbers (a negative value shows as its 32-bit unsigned equivalent). The page is then
  // not changed. With no server attached nothing happens. A getter that fails leaves the fields
  // as they were and its status is returned.
  Status Activate();

  // Writes the fields to every server in order: the texts, then Port and Timeout as the leading
  // integer of their fields (LeadingInteger). What the setters answer is not looked at: a BindIP
  // or Port refused while a server listens keeps its old value, and Apply still succeeds. The
  // page is then not changed, and the site is told.
  Status Apply();

  // The text of a field; empty for an id that is no field.
  std::string Field(int id) const;
  // Sets a field's text as the person typed it and marks the page changed. StatusInvalidArg for
  // an id that is no field.
  Status SetField(int id, std::string_view text);
  bool IsChanged() const { return changed_; }

  // The leading decimal integer of text, as Apply reads Port and Timeout: blanks, an optional
  // sign and digits; no digits give 0 ("abc" is 0, "25x" is 25). Numbers from -2^31 to 2^32 - 1
  // are taken modulo 2^32, so whatever Activate shows reads back as the same value; numbers
  // beyond that range count as the nearest end of it.
  static std::int32_t LeadingInteger(std::string_view text);

 private:
  // Index into fields_ of a field id, or -1.
  static int IndexOf(int id);
  void SetChanged(bool changed);

  IPropertyPageSite* site_;
  std::vector<Ref<IkivImapServer>> servers_;
  std::array<std::string, kFields.size()> fields_;
  bool changed_ = false;
};

}  // namespace kivimap
