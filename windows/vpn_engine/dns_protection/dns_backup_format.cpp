#include "vpn_engine/dns_protection/dns_backup_format.h"

#include <cstdint>
#include <optional>

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

constexpr size_t kMaxServersRead = 8;
// No machine has this many physical adapters; a planted file with more would only make the
// restore run netsh for hours while it holds the DNS lock.
constexpr size_t kMaxRecordsKept = 64;
constexpr const char* kExtensionMarker = "x1";

// Reads the text the way line and formatted-number extraction of a stream would: lines end at
// LF (a CR stays part of the line), numbers skip any white space before them, including line
// ends, and the rest of a number's line can be discarded.
class BackupReader {
 public:
  explicit BackupReader(std::string_view text) : text_(text) {}

  // The next line without its LF. Empty when the text has ended (there is no next line).
  std::optional<std::string_view> Line() {
    if (pos_ >= text_.size()) return std::nullopt;
    const size_t end = text_.find('\n', pos_);
    const size_t stop = end == std::string_view::npos ? text_.size() : end;
    const std::string_view line = text_.substr(pos_, stop - pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    return line;
  }

  // A decimal that fits 32 bits without sign, after optional white space.
  std::optional<uint32_t> Number() {
    const auto value = Number64();
    if (!value || *value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*value);
  }

  // A decimal that fits 64 bits without sign, after optional white space.
  std::optional<uint64_t> Number64() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '+') ++pos_;
    uint64_t value = 0;
    size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      const uint64_t digit = static_cast<uint64_t>(text_[pos_] - '0');
      if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
      value = value * 10 + digit;
      ++pos_;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
  }

  void SkipRestOfLine() {
    const size_t end = text_.find('\n', pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
  }

 private:
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// One record, or nothing when the text ends or a number does not read inside it.
std::optional<DnsBackupRecord> ReadRecord(BackupReader& reader) {
  const auto name = reader.Line();
  if (!name) return std::nullopt;
  uint32_t numbers[6];
  for (uint32_t& number : numbers) {
    const auto read = reader.Number();
    if (!read) return std::nullopt;
    number = *read;
  }
  reader.SkipRestOfLine();
  DnsBackupRecord record;
  record.name = std::string(*name);
  record.ifIndex = numbers[0];
  record.dhcp = numbers[1] != 0;
  record.metricValid = numbers[2] != 0;
  record.metric = numbers[3];
  record.autoMetric = numbers[4] != 0;
  const uint32_t server_count = numbers[5];
  for (uint32_t i = 0; i < server_count; ++i) {
    const auto server = reader.Line();
    if (!server) return std::nullopt;
    if (i < kMaxServersRead && IsDottedIpv4Server(*server)) record.servers.emplace_back(*server);
  }
  return record;
}

// The extension after the last record: per record, in the same order, its LUID and its hand-set
// IPv6 servers. False (and nothing changed) when it is absent or cut short.
bool ReadExtension(BackupReader& reader, std::vector<DnsBackupRecord>* records) {
  const auto marker = reader.Line();
  if (!marker || *marker != kExtensionMarker) return false;
  std::vector<DnsBackupRecord> extended = *records;
  for (DnsBackupRecord& record : extended) {
    const auto luid = reader.Number64();
    const auto count = reader.Number();
    if (!luid || !count) return false;
    reader.SkipRestOfLine();
    record.luid = *luid;
    for (uint32_t i = 0; i < *count; ++i) {
      const auto server = reader.Line();
      if (!server) return false;
      if (i < kMaxServersRead && IsIpv6ServerText(*server)) record.serversV6.emplace_back(*server);
    }
  }
  *records = std::move(extended);
  return true;
}

}  // namespace

std::string FormatDnsBackups(const std::vector<DnsBackupRecord>& records) {
  std::string text = "v1\n" + std::to_string(records.size()) + "\n";
  for (const DnsBackupRecord& r : records) {
    text += r.name + "\n";
    text += std::to_string(r.ifIndex) + "\n";
    text += r.dhcp ? "1\n" : "0\n";
    text += r.metricValid ? "1\n" : "0\n";
    text += std::to_string(r.metric) + "\n";
    text += r.autoMetric ? "1\n" : "0\n";
    text += std::to_string(r.servers.size()) + "\n";
    for (const std::string& server : r.servers) text += server + "\n";
  }
  // Readers of the first layout stop after the last record, so what only newer readers need
  // follows it.
  text += std::string(kExtensionMarker) + "\n";
  for (const DnsBackupRecord& r : records) {
    text += std::to_string(r.luid) + "\n" + std::to_string(r.serversV6.size()) + "\n";
    for (const std::string& server : r.serversV6) text += server + "\n";
  }
  return text;
}

bool ParseDnsBackups(std::string_view content, std::vector<DnsBackupRecord>* out) {
  out->clear();
  BackupReader reader(content);
  const auto version = reader.Line();
  if (!version || *version != "v1") {
    TunnelLogWrite("dns-leak: unknown DNS backup version");
    return false;
  }
  const auto count = reader.Number();
  if (!count) return false;
  reader.SkipRestOfLine();
  std::vector<DnsBackupRecord> records;
  bool complete = true;
  for (uint32_t i = 0; i < *count && records.size() < kMaxRecordsKept; ++i) {
    auto record = ReadRecord(reader);
    if (!record) {
      complete = false;
      break;
    }
    records.push_back(std::move(*record));
  }
  if (complete && records.size() == *count) ReadExtension(reader, &records);
  for (DnsBackupRecord& record : records) {
    if (record.name.empty()) continue;
    if (!IsSafeNetshName(record.name)) {
      TunnelLogWrite("dns-leak: rejected unsafe adapter name from DNS backup");
      continue;
    }
    out->push_back(std::move(record));
  }
  return !out->empty();
}
