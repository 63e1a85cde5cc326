// Saving and loading the server's configuration through its own getters and setters, as a
// binary stream record or as a property bag.
//
// The stream record, all integers little-endian:
//
//   "KIVC"                 4 bytes
//   version                u16, 1
//   payload length         u32
//   payload                property count (u8, 5), then per property in map order:
//                            dispatch id (i32), kind (u8: 0 null text, 1 text, 2 number),
//                            text: code unit count (u32) and UTF-16 code units (u16 each),
//                            number: i32
//   checksum               u32, CRC-32 (IEEE) of everything before it
//
// Magic, version and length stay where they are in every version, so a reader can step over a
// record it cannot read, and a record is read to its end before anything in it is believed.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "automation/error_report.h"
#include "automation/guarded.h"
#include "common/ascii.h"
#include "kivimap/persistence.h"
#include "server/config_errors.h"

namespace kivimap {

namespace {

using server::LinePlace;
using server::Quoted;
using server::ReportConfigError;

struct ConfigProperty {
  std::string_view name;
  DispId dispid;
  // Text properties have the first pair, numbers the second.
  Status (IkivImapServer::*get_text)(WideString*);
  Status (IkivImapServer::*put_text)(const WideString&);
  Status (IkivImapServer::*get_number)(std::int32_t*);
  Status (IkivImapServer::*put_number)(std::int32_t);

  bool is_text() const { return get_text != nullptr; }
};

// The saved properties, in the order they are saved and loaded.
constexpr std::array<ConfigProperty, 5> kConfigMap = {{
    {"BindIP", 1, &IkivImapServer::get_BindIP, &IkivImapServer::put_BindIP, nullptr, nullptr},
    {"Port", 4, nullptr, nullptr, &IkivImapServer::get_Port, &IkivImapServer::put_Port},
    {"GreetingMessage", 3, &IkivImapServer::get_GreetingMessage,
     &IkivImapServer::put_GreetingMessage, nullptr, nullptr},
    {"GoodbyeMessage", 2, &IkivImapServer::get_GoodbyeMessage, &IkivImapServer::put_GoodbyeMessage,
     nullptr, nullptr},
    {"Timeout", 5, nullptr, nullptr, &IkivImapServer::get_Timeout, &IkivImapServer::put_Timeout},
}};

constexpr std::string_view kTextHeading =
    "kivimap server configuration: one Name = value a line (BindIP, Port, GreetingMessage, "
    "GoodbyeMessage, Timeout)";

// One property's value between the server and a saved form.
struct ConfigValue {
  bool present = false;
  WideString text;
  std::int32_t number = 0;
};
using ConfigValues = std::array<ConfigValue, kConfigMap.size()>;

std::optional<std::size_t> FindProperty(std::string_view name) {
  for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
    if (EqualsNoCase(kConfigMap[i].name, name)) return i;
  }
  return std::nullopt;
}

Status ReadAll(IkivImapServer& server, ConfigValues* values) {
  for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
    const ConfigProperty& p = kConfigMap[i];
    ConfigValue& v = (*values)[i];
    const Status s =
        p.is_text() ? (server.*p.get_text)(&v.text) : (server.*p.get_number)(&v.number);
    if (Failed(s)) return s;
    v.present = true;
  }
  return StatusOk;
}

// Sets the present values in map order. A refused setter (BindIP or Port while listening) does
// not stop the others; the first refusal is returned, with its error record.
Status ApplyAll(IkivImapServer& server, const ConfigValues& values) {
  Status first = StatusOk;
  std::optional<ErrorRecord> first_record;
  for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
    const ConfigProperty& p = kConfigMap[i];
    const ConfigValue& v = values[i];
    if (!v.present) continue;
    ClearErrorRecord();
    const Status s = p.is_text() ? (server.*p.put_text)(v.text) : (server.*p.put_number)(v.number);
    if (Failed(s) && Succeeded(first)) {
      first = s;
      ErrorRecord record;
      if (GetErrorRecord(&record)) first_record = std::move(record);
    }
  }
  ClearErrorRecord();
  if (first_record) {
    automation::ReportStatus(first_record->status, first_record->description, first_record->source);
  }
  return first;
}

// --- the stream record ---

constexpr char kMagic[4] = {'K', 'I', 'V', 'C'};
constexpr std::uint16_t kRecordVersion = 1;
constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kChecksumSize = 4;
// Far above any real configuration; a larger length is taken as damage, not read.
constexpr std::uint32_t kMaxPayload = 64u << 20;
constexpr std::size_t kReadChunk = 16 * 1024;

enum ValueKind : std::uint8_t { kNullText = 0, kText = 1, kNumber = 2 };

std::uint32_t Crc32(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char b : bytes) crc = table[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutU8(std::string& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }
void PutU16(std::string& out, std::uint16_t v) {
  PutU8(out, static_cast<std::uint8_t>(v));
  PutU8(out, static_cast<std::uint8_t>(v >> 8));
}
void PutU32(std::string& out, std::uint32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v));
  PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

// Reads little-endian values from a byte range; every Take fails, and stays failed, once the
// range runs out.
class RecordReader {
 public:
  explicit RecordReader(std::string_view bytes) : bytes_(bytes) {}
  bool U8(std::uint8_t* v) {
    if (!Has(1)) return false;
    *v = static_cast<unsigned char>(bytes_[pos_++]);
    return true;
  }
  bool U16(std::uint16_t* v) {
    std::uint8_t lo = 0, hi = 0;
    if (!U8(&lo) || !U8(&hi)) return false;
    *v = static_cast<std::uint16_t>(lo | (hi << 8));
    return true;
  }
  bool U32(std::uint32_t* v) {
    std::uint16_t lo = 0, hi = 0;
    if (!U16(&lo) || !U16(&hi)) return false;
    *v = lo | (static_cast<std::uint32_t>(hi) << 16);
    return true;
  }
  bool Has(std::size_t n) const { return bytes_.size() - pos_ >= n; }
  std::size_t left() const { return bytes_.size() - pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

Status Corrupted(std::string_view what) {
  return ReportConfigError(StatusConfigMalformed,
                           std::string("Configuration record is corrupted: ").append(what));
}

// Reads exactly n bytes (fewer only at the end of the stream) onto *out. Memory grows with the
// bytes that arrive, not with n.
Status ReadExact(IByteStream& stream, std::size_t n, std::string* out) {
  char chunk[kReadChunk];
  while (n > 0) {
    std::uint32_t got = 0;
    const std::uint32_t want = static_cast<std::uint32_t>(std::min(n, sizeof chunk));
    const Status s = stream.Read(chunk, want, &got);
    if (Failed(s)) return ReportConfigError(s, "Could not read the configuration stream.");
    if (got == 0) break;
    got = std::min(got, want);
    out->append(chunk, got);
    n -= got;
  }
  return StatusOk;
}

Status Truncated(std::size_t got, std::size_t expected) {
  return ReportConfigError(StatusConfigMalformed, std::string("Configuration record is truncated: ")
                                                      .append(std::to_string(got))
                                                      .append(" of ")
                                                      .append(std::to_string(expected))
                                                      .append(" bytes."));
}

Status ParsePayload(std::string_view payload, ConfigValues* values) {
  RecordReader in(payload);
  std::uint8_t count = 0;
  if (!in.U8(&count) || count != kConfigMap.size()) {
    return Corrupted(std::string("expected ")
                         .append(std::to_string(kConfigMap.size()))
                         .append(" properties, found ")
                         .append(std::to_string(count))
                         .append("."));
  }
  for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
    const ConfigProperty& p = kConfigMap[i];
    ConfigValue& v = (*values)[i];
    std::uint32_t dispid = 0;
    std::uint8_t kind = 0;
    if (!in.U32(&dispid) || !in.U8(&kind))
      return Corrupted(std::string(p.name).append(" is cut short."));
    if (static_cast<DispId>(dispid) != p.dispid) {
      return Corrupted(std::string("dispatch id ")
                           .append(std::to_string(static_cast<DispId>(dispid)))
                           .append(" where ")
                           .append(p.name)
                           .append(" belongs."));
    }
    const bool kind_fits = p.is_text() ? (kind == kText || kind == kNullText) : kind == kNumber;
    if (!kind_fits) return Corrupted(std::string(p.name).append(" has a value of the wrong kind."));
    v.present = true;
    if (kind == kNumber) {
      std::uint32_t n = 0;
      if (!in.U32(&n)) return Corrupted(std::string(p.name).append(" is cut short."));
      v.number = static_cast<std::int32_t>(n);
    } else if (kind == kText) {
      std::uint32_t units = 0;
      if (!in.U32(&units) || in.left() / 2 < units) {
        return Corrupted(std::string(p.name).append(" runs past the record."));
      }
      std::u16string text(units, u'\0');
      for (char16_t& c : text) {
        std::uint16_t unit = 0;
        in.U16(&unit);
        c = static_cast<char16_t>(unit);
      }
      v.text = WideString(std::move(text));
    } else {
      v.text = WideString::Null();
    }
  }
  if (in.left() != 0) {
    return Corrupted(std::to_string(in.left()).append(" bytes after the last property."));
  }
  return StatusOk;
}

// --- the text form ---

// A decimal integer of 32 bits: blanks, an optional sign, digits, blanks.
std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Why the text form cannot hold this value as it is, or nothing when it can.
std::optional<std::string_view> TextFormProblem(const WideString& value,
                                                const std::string& narrow) {
  if (!value.empty() && ToWide(narrow).view() != value.view()) {
    return "it holds characters with no 8-bit form";
  }
  if (narrow.find_first_of("\r\n") != std::string::npos) return "it contains a line break";
  if (!narrow.empty() && (narrow.front() == ' ' || narrow.front() == '\t')) {
    return "it begins with a blank, which the text form does not keep";
  }
  return std::nullopt;
}

Status SaveToBag(IkivImapServer& server, PropertyBag* bag) {
  ConfigValues values;
  if (const Status s = ReadAll(server, &values); Failed(s)) return s;
  PropertyBag saved;
  for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
    const ConfigProperty& p = kConfigMap[i];
    std::string text;
    if (p.is_text()) {
      text = values[i].text.ToNarrow();
      if (const auto problem = TextFormProblem(values[i].text, text)) {
        return ReportConfigError(
            StatusConfigUnwritable,
            std::string(p.name).append(" cannot be saved as text: ").append(*problem).append("."));
      }
    } else {
      text = std::to_string(values[i].number);
    }
    if (const Status s = saved.Add(p.name, text); Failed(s)) return s;
  }
  for (const PropertyBagEntry& e : bag->entries()) {
    if (FindProperty(e.name)) continue;
    if (const Status s = saved.Add(e.name, e.value); Failed(s)) return s;
  }
  *bag = std::move(saved);
  return StatusOk;
}

}  // namespace

Status SaveConfigToStream(IkivImapServer* server, IByteStream* stream, bool clear_dirty) {
  if (!server || !stream) return StatusPointer;
  return automation::Guarded([&] {
    ConfigValues values;
    if (const Status s = ReadAll(*server, &values); Failed(s)) return s;
    std::string payload;
    PutU8(payload, static_cast<std::uint8_t>(kConfigMap.size()));
    for (std::size_t i = 0; i < kConfigMap.size(); ++i) {
      const ConfigValue& v = values[i];
      PutU32(payload, static_cast<std::uint32_t>(kConfigMap[i].dispid));
      if (!kConfigMap[i].is_text()) {
        PutU8(payload, kNumber);
        PutU32(payload, static_cast<std::uint32_t>(v.number));
      } else if (v.text.IsNull()) {
        PutU8(payload, kNullText);
      } else {
        PutU8(payload, kText);
        PutU32(payload, static_cast<std::uint32_t>(v.text.size()));
        for (const char16_t c : v.text.view()) PutU16(payload, c);
      }
    }
    if (payload.size() > kMaxPayload) {
      return ReportConfigError(StatusConfigUnwritable,
                               "The configuration is too large for a stream record.");
    }
    std::string record(kMagic, sizeof kMagic);
    PutU16(record, kRecordVersion);
    PutU32(record, static_cast<std::uint32_t>(payload.size()));
    record.append(payload);
    PutU32(record, Crc32(record));
    const Status s = stream->Write(record.data(), static_cast<std::uint32_t>(record.size()));
    if (Failed(s)) return ReportConfigError(s, "Could not write the configuration stream.");
    if (clear_dirty) server->SetDirty(false);
    return StatusOk;
  });
}

Status LoadConfigFromStream(IkivImapServer* server, IByteStream* stream) {
  if (!server || !stream) return StatusPointer;
  return automation::Guarded([&] {
    std::string record;
    if (const Status s = ReadExact(*stream, kHeaderSize, &record); Failed(s)) return s;
    if (record.size() < kHeaderSize) return Truncated(record.size(), kHeaderSize);
    if (std::memcmp(record.data(), kMagic, sizeof kMagic) != 0) {
      return ReportConfigError(StatusConfigMalformed,
                               "The stream holds no kivimap configuration record.");
    }
    RecordReader header(std::string_view(record).substr(sizeof kMagic));
    std::uint16_t version = 0;
    std::uint32_t length = 0;
    header.U16(&version);
    header.U32(&length);
    if (length > kMaxPayload) {
      return Corrupted(
          std::string("it claims a payload of ").append(std::to_string(length)).append(" bytes."));
    }
    const std::size_t total = kHeaderSize + length + kChecksumSize;
    if (const Status s = ReadExact(*stream, length + kChecksumSize, &record); Failed(s)) return s;
    if (record.size() < total) return Truncated(record.size(), total);
    if (version != kRecordVersion) {
      return ReportConfigError(StatusConfigVersion,
                               std::string("Configuration record version ")
                                   .append(std::to_string(version))
                                   .append(" is not supported; this build reads version ")
                                   .append(std::to_string(kRecordVersion))
                                   .append("."));
    }
    const std::string_view body = std::string_view(record).substr(0, total - kChecksumSize);
    std::uint32_t checksum = 0;
    RecordReader(std::string_view(record).substr(body.size())).U32(&checksum);
    if (checksum != Crc32(body)) return Corrupted("its checksum does not match.");

    ConfigValues values;
    if (const Status s = ParsePayload(body.substr(kHeaderSize), &values); Failed(s)) return s;
    return ApplyAll(*server, values);
  });
}

Status SaveConfigToBag(IkivImapServer* server, PropertyBag* bag, bool clear_dirty) {
  if (!server || !bag) return StatusPointer;
  return automation::Guarded([&] {
    const Status s = SaveToBag(*server, bag);
    if (Succeeded(s) && clear_dirty) server->SetDirty(false);
    return s;
  });
}

Status LoadConfigFromBag(IkivImapServer* server, const PropertyBag& bag, PropertyBag* unknown) {
  if (!server) return StatusPointer;
  return automation::Guarded([&] {
    ConfigValues values;
    std::array<std::uint32_t, kConfigMap.size()> lines{};
    for (const PropertyBagEntry& e : bag.entries()) {
      const std::optional<std::size_t> index = FindProperty(e.name);
      if (!index) continue;
      const ConfigProperty& p = kConfigMap[*index];
      ConfigValue& v = values[*index];
      if (v.present) {
        std::string message = LinePlace(e.line).append(p.name).append(" is given twice");
        if (lines[*index] != 0) {
          message.append(" (first on line ").append(std::to_string(lines[*index])).append(")");
        }
        return ReportConfigError(StatusConfigMalformed, message.append("."));
      }
      v.present = true;
      lines[*index] = e.line;
      if (p.is_text()) {
        v.text = ToWide(e.value);
      } else if (const std::optional<std::int32_t> n = ParseDecimal(e.value)) {
        v.number = *n;
      } else {
        return ReportConfigError(StatusConfigMalformed,
                                 LinePlace(e.line)
                                     .append(p.name)
                                     .append(" must be a decimal integer of 32 bits, not ")
                                     .append(Quoted(e.value))
                                     .append("."));
      }
    }
    PropertyBag rest;
    if (unknown) {
      rest = bag;
      for (const ConfigProperty& p : kConfigMap) rest.Remove(p.name);
    }
    const Status s = ApplyAll(*server, values);
    if (unknown) *unknown = std::move(rest);
    return s;
  });
}

Status SaveConfigText(IkivImapServer* server, std::string* text, bool clear_dirty) {
  if (!server || !text) return StatusPointer;
  return automation::Guarded([&] {
    PropertyBag bag;
    if (const Status s = SaveToBag(*server, &bag); Failed(s)) return s;
    *text = bag.ToText(kTextHeading);
    if (clear_dirty) server->SetDirty(false);
    return StatusOk;
  });
}

Status LoadConfigText(IkivImapServer* server, std::string_view text, PropertyBag* unknown) {
  if (!server) return StatusPointer;
  return automation::Guarded([&] {
    PropertyBag bag;
    if (const Status s = PropertyBag::Parse(text, &bag); Failed(s)) return s;
    return LoadConfigFromBag(server, bag, unknown);
  });
}

}  // namespace kivimap
