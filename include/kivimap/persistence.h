// Saving and restoring the server's configuration: BindIP, Port, GreetingMessage, GoodbyeMessage
// and Timeout, in that order. DebugFile, MyIP, MyHostname and Version are not saved.
//
// Values are read through the server's getters and set through its setters, so a load marks the
// server modified, tells its property listeners each property it sets, and has a loaded BindIP or
// Port refused while the server listens (the other properties are set all the same).
//
// Two forms:
// - a byte stream: one versioned binary record, for a host that keeps the server in a document of
//   its own beside other data;
// - the text form: a PropertyBag of `Name = value` lines, for a configuration file people edit.
//   A host may keep its own settings in the same file: a load hands back the names it does not
//   know instead of refusing them.
//
// A load checks all of its input before it sets anything. Malformed input changes nothing; the
// load fails with one of the statuses below and leaves an error record (GetErrorRecord) that says
// what is wrong and where (the line and the property name for the text form).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kivimap/host_support.h"
#include "kivimap/interfaces.h"
#include "kivimap/status.h"

namespace kivimap {

// The input is not a configuration: a malformed line, a value that is not a decimal integer, a
// property given twice, a stream record that is truncated, corrupted or of another kind.
inline constexpr Status StatusConfigMalformed = StatusFromErrorCode(30010);
// A stream record of a version this build does not read.
inline constexpr Status StatusConfigVersion = StatusFromErrorCode(30011);
// A value the chosen form cannot hold as it is (in the text form: a line break, a leading blank,
// or a character with no 8-bit form); nothing is written.
inline constexpr Status StatusConfigUnwritable = StatusFromErrorCode(30012);

struct PropertyBagEntry {
  std::string name;        // as written; names compare without regard to ASCII case
  std::string value;       // 8-bit text in the system code page (UTF-8)
  std::uint32_t line = 0;  // the line it was read from, counted from 1; 0 when added in code
};

// The text form: `Name = value` entries in order.
//
//   # a comment
//   Port = 1143
//   GreetingMessage=Welcome to the archive
//
// One entry a line. Blanks (spaces and tabs) around the name and after '=' are not part of the
// name or the value; the value runs to the end of the line, trailing blanks included (a CR before
// the LF is dropped). Empty lines and lines whose first non-blank character is '#' are ignored,
// and so is a UTF-8 byte order mark at the start of the text.
class PropertyBag {
 public:
  // Parses text into *out. A line that is neither empty, a comment nor `Name = value` (with a
  // name) fails with StatusConfigMalformed and an error record naming the line; *out is left as
  // it was.
  static Status Parse(std::string_view text, PropertyBag* out);

  // The text form: `heading` as a "# " comment line first when it is not empty, then one
  // "Name = value" line per entry ("Name =" for an empty value), each ending in LF.
  std::string ToText(std::string_view heading = {}) const;

  // Appends an entry. StatusInvalidArg, and nothing added, when the line would not read back as
  // the same name and value: an empty name, a name with '=' or a line break, beginning with '#'
  // or with blanks at either end; a value with a line break or beginning with a blank.
  Status Add(std::string_view name, std::string_view value);

  // The first entry of that name (ASCII case ignored), or null.
  const PropertyBagEntry* Find(std::string_view name) const;
  // Removes every entry of that name (ASCII case ignored); returns how many went.
  std::size_t Remove(std::string_view name);
  const std::vector<PropertyBagEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }

 private:
  std::vector<PropertyBagEntry> entries_;
};

// Writes one configuration record to the stream (in a single Write). With clear_dirty the server
// is marked unmodified once the record is written.
Status SaveConfigToStream(IkivImapServer* server, IByteStream* stream, bool clear_dirty = true);

// Reads one record that SaveConfigToStream wrote, exactly its bytes (whatever follows in the
// stream stays unread), and sets the five properties. A stream that fails to read passes its
// status on.
Status LoadConfigFromStream(IkivImapServer* server, IByteStream* stream);

// Puts the five properties at the front of the bag, in order, replacing any entries of those
// names the bag held; the bag's other entries follow as they were. StatusConfigUnwritable when a
// value has no text form (the bag is then unchanged). With clear_dirty the server is marked
// unmodified.
Status SaveConfigToBag(IkivImapServer* server, PropertyBag* bag, bool clear_dirty = true);

// Sets the properties the bag names, in the order above; those it does not name keep their
// values. `Port` and `Timeout` must be decimal integers of 32 bits (an optional sign, digits,
// blanks around them); no property may be named twice. Entries of other names go to *unknown
// (emptied first; may be null, and may be &bag), in bag order with their lines.
Status LoadConfigFromBag(IkivImapServer* server, const PropertyBag& bag,
                         PropertyBag* unknown = nullptr);

// The text form in one step: a heading comment line saying what the file is, then the five
// properties.
Status SaveConfigText(IkivImapServer* server, std::string* text, bool clear_dirty = true);
// PropertyBag::Parse, then LoadConfigFromBag.
Status LoadConfigText(IkivImapServer* server, std::string_view text,
                      PropertyBag* unknown = nullptr);

}  // namespace kivimap
