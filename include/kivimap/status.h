// Status codes returned by every host-visible operation. No exception crosses the host boundary:
// every failure is one of these values.
#pragma once

#include <cstdint>

namespace kivimap {

using Status = std::uint32_t;

inline constexpr Status StatusOk = 0;
inline constexpr Status StatusInvalidArg = 0x80070057;   // bad index, name not found, wrong type
inline constexpr Status StatusPointer = 0x80004003;      // a required pointer argument is missing
inline constexpr Status StatusFail = 0x80004005;         // general failure
inline constexpr Status StatusOutOfMemory = 0x8007000E;  // an allocation failed
inline constexpr Status StatusNotImplemented = 0x80004001;
inline constexpr Status StatusUnknownName = 0x80020006;  // GetIDsOfNames: no member of that name
inline constexpr Status StatusMemberNotFound = 0x80020003;  // Invoke: no member with that id/kind
inline constexpr Status StatusBadParamCount = 0x8002000E;   // Invoke: wrong number of arguments

// The server's refusals (ReportError) carry 0x800A0000 plus a code.
inline constexpr Status StatusFromErrorCode(std::uint32_t code) { return 0x800A0000u + code; }

inline constexpr bool Succeeded(Status s) { return (s & 0x80000000u) == 0; }
inline constexpr bool Failed(Status s) { return !Succeeded(s); }

}  // namespace kivimap
