// The protocol level a server speaks.
#pragma once

namespace kivimap {

// What the greeting and CAPABILITY announce at each level.
inline constexpr char kDescribedCapabilities[] = "IMAP4REV1 AUTH=LOGIN";
inline constexpr char kModernCapabilities[] = "IMAP4REV1 AUTH=LOGIN UIDPLUS";

enum class ProtocolLevel {
  // The dialect the server has always spoken, byte for byte (the default): hosts and clients
  // written against it see no change.
  Described = 0,
  // Where that dialect deliberately departs from RFC 3501, RFC 3501's behaviour:
  //   - CLOSE removes the messages marked \Deleted (each offered to the host through
  //     DeleteMessage, as EXPUNGE does) without untagged EXPUNGE responses;
  //   - STORE and UID STORE take the replacing form "FLAGS" / "FLAGS.SILENT" beside +FLAGS and
  //     -FLAGS;
  //   - message sets of FETCH, STORE and COPY are RFC 3501 sets: "*" is the highest number in
  //     use, "4:2" is "2:4", each message is named once and answered in folder order, and a
  //     malformed set is a syntax error;
  //   - UIDPLUS (RFC 4315) is announced: APPEND completes with [APPENDUID], COPY with
  //     [COPYUID] when the host's copies show up in the destination, and UID EXPUNGE removes
  //     only the named messages.
  Modern = 1,
};

}  // namespace kivimap
