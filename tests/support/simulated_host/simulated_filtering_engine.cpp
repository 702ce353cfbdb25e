#include "simulated_host/simulated_filtering_engine.h"

#include <algorithm>

namespace {

std::wstring Lowered(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

std::wstring Widened(const std::string& ascii_or_utf8) {
  // Test programs' paths are given as wide strings; packets name them in UTF-8. Decode UTF-8
  // here independently of the plug-in's converter.
  std::wstring out;
  size_t i = 0;
  while (i < ascii_or_utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(ascii_or_utf8[i]);
    uint32_t code = c;
    size_t extra = 0;
    if (c >= 0xF0) {
      code = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      code = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      code = c & 0x1F;
      extra = 1;
    }
    for (size_t k = 1; k <= extra && i + k < ascii_or_utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(ascii_or_utf8[i + k]) & 0x3F);
    }
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
  }
  return out;
}

// "a.b.c.d" as the 32-bit value with a in the top byte; nothing for anything else.
std::optional<uint32_t> ParseV4(const std::string& text) {
  uint32_t value = 0;
  int fields = 0;
  size_t i = 0;
  while (fields < 4) {
    uint32_t field = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
      field = field * 10 + static_cast<uint32_t>(text[i++] - '0');
      ++digits;
    }
    if (digits == 0 || field > 255) return std::nullopt;
    value = (value << 8) | field;
    ++fields;
    if (fields < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return value;
}

bool Compare(WfpMatch match, bool equal) { return match == WfpMatch::kNotEqual ? !equal : equal; }

}  // namespace

void SimulatedFilteringEngine::AddProgram(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  programs_.insert(Lowered(path));
}

void SimulatedFilteringEngine::SetFailures(const SimWfpFailures& failures) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_ = failures;
  filterAddCalls_ = 0;
}

std::vector<uint8_t> SimulatedFilteringEngine::DeviceAppId(const std::wstring& path) {
  std::wstring device = Lowered(path);
  if (device.size() >= 3 && device[1] == L':' && device[2] == L'\\') {
    device = L"\\device\\harddiskvolume3\\" + device.substr(3);
  }
  std::vector<uint8_t> bytes;
  for (const wchar_t c : device) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

SimulatedFilteringEngine::State* SimulatedFilteringEngine::Target(WfpSession session) {
  const auto open = transactions_.find(session);
  return open != transactions_.end() ? &open->second : &committed_;
}

void SimulatedFilteringEngine::DropAllSessions() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
  transactions_.clear();
  committed_ = State{};
}

std::vector<SimulatedFilteringEngine::Filter> SimulatedFilteringEngine::CommittedFilters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return committed_.filters;
}

bool SimulatedFilteringEngine::ProviderPresent(const WfpKey& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(committed_.providers.begin(), committed_.providers.end(),
                     [&](const Keyed& p) { return p.key == key; });
}

bool SimulatedFilteringEngine::SublayerPresent(const WfpKey& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(committed_.sublayers.begin(), committed_.sublayers.end(),
                     [&](const Keyed& s) { return s.key == key; });
}

int SimulatedFilteringEngine::OpenSessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(sessions_.size());
}

bool SimulatedFilteringEngine::Matches(const Filter& filter, const SimPacket& packet,
                                       bool v6) const {
  if ((filter.spec.layer == WfpLayer::kAleAuthConnectV6) != v6) return false;
  for (const WfpCondition& c : filter.spec.conditions) {
    bool equal = false;
    switch (c.field) {
      case WfpField::kAppId:
        equal = c.appId == DeviceAppId(Widened(packet.program));
        break;
      case WfpField::kIpProtocol:
        equal = c.value == (packet.protocol != 0 ? packet.protocol : (packet.tcp ? 6u : 17u));
        break;
      case WfpField::kLocalPort:
        equal = c.value == packet.localPort;
        break;
      case WfpField::kFlags:
        // FWP_MATCH_FLAGS_ALL_SET: every bit of the value is set in the connection's flags.
        equal = (c.value & (packet.loopback ? 1u : 0u)) == c.value;
        break;
      case WfpField::kRemotePort:
        equal = c.value == packet.port;
        break;
      case WfpField::kRemoteAddressV4: {
        const auto address = ParseV4(packet.remote);
        equal = address && c.value == *address;
        break;
      }
      case WfpField::kLocalInterface:
        equal = c.value == packet.interfaceLuid;
        break;
    }
    if (!Compare(c.match, equal)) return false;
  }
  return true;
}

bool SimulatedFilteringEngine::HasProvider(const State& state, const WfpKey& key) {
  for (const Keyed& p : state.providers) {
    if (p.key == key) return true;
  }
  return false;
}

std::optional<WfpKey> SimulatedFilteringEngine::SublayerProvider(const WfpKey& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Keyed& s : committed_.sublayers) {
    if (s.key == key) return s.provider;
  }
  return std::nullopt;
}

bool SimulatedFilteringEngine::WouldAllow(const SimPacket& packet) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool v6 = packet.remote.find(':') != std::string::npos;
  for (const Keyed& sublayer : committed_.sublayers) {
    const Filter* decider = nullptr;
    for (const Filter& f : committed_.filters) {
      if (!(f.spec.subLayerKey == sublayer.key) || !Matches(f, packet, v6)) continue;
      if (!decider || f.spec.weight > decider->spec.weight) decider = &f;
    }
    if (decider && decider->spec.action == WfpAction::kBlock) return false;
  }
  return true;
}

uint32_t SimulatedFilteringEngine::OpenDynamicSession(WfpSession* session) {
  std::lock_guard<std::mutex> lock(mutex_);
  *session = 0;
  if (failures_.open != 0) return failures_.open;
  *session = nextSession_++;
  sessions_.insert(*session);
  return 0;
}

void SimulatedFilteringEngine::CloseSession(WfpSession session) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.erase(session) == 0) return;
  transactions_.erase(session);
  auto owned = [session](const auto& object) { return object.owner == session; };
  auto& c = committed_;
  c.filters.erase(std::remove_if(c.filters.begin(), c.filters.end(), owned), c.filters.end());
  c.sublayers.erase(std::remove_if(c.sublayers.begin(), c.sublayers.end(), owned),
                    c.sublayers.end());
  c.providers.erase(std::remove_if(c.providers.begin(), c.providers.end(), owned),
                    c.providers.end());
}

uint32_t SimulatedFilteringEngine::BeginTransaction(WfpSession session) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  if (failures_.begin != 0) return failures_.begin;
  if (transactions_.count(session)) return sim_wfp::kTransactionInProgress;
  transactions_[session] = committed_;
  return 0;
}

uint32_t SimulatedFilteringEngine::CommitTransaction(WfpSession session) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto open = transactions_.find(session);
  if (open == transactions_.end()) return sim_wfp::kNoTransaction;
  if (failures_.commit != 0) {
    // A failed commit leaves the transaction aborted.
    transactions_.erase(open);
    return failures_.commit;
  }
  committed_ = std::move(open->second);
  transactions_.erase(open);
  return 0;
}

uint32_t SimulatedFilteringEngine::AbortTransaction(WfpSession session) {
  std::lock_guard<std::mutex> lock(mutex_);
  return transactions_.erase(session) ? 0 : sim_wfp::kNoTransaction;
}

uint32_t SimulatedFilteringEngine::AddProvider(WfpSession session,
                                               const WfpProviderSpec& provider) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  if (failures_.providerAdd != 0) return failures_.providerAdd;
  State* state = Target(session);
  for (const Keyed& p : state->providers) {
    if (p.key == provider.key) return sim_wfp::kAlreadyExists;
  }
  state->providers.push_back({provider.key, session, 0, std::nullopt});
  return 0;
}

uint32_t SimulatedFilteringEngine::AddSublayer(WfpSession session,
                                               const WfpSublayerSpec& sublayer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  if (failures_.sublayerAdd != 0) return failures_.sublayerAdd;
  State* state = Target(session);
  for (const Keyed& s : state->sublayers) {
    if (s.key == sublayer.key) return sim_wfp::kAlreadyExists;
  }
  if (sublayer.provider && !HasProvider(*state, *sublayer.provider)) {
    return sim_wfp::kProviderNotFound;
  }
  state->sublayers.push_back({sublayer.key, session, sublayer.weight, sublayer.provider});
  std::stable_sort(state->sublayers.begin(), state->sublayers.end(),
                   [](const Keyed& a, const Keyed& b) { return a.weight > b.weight; });
  return 0;
}

uint32_t SimulatedFilteringEngine::AddFilter(WfpSession session, const WfpFilterSpec& filter,
                                             uint64_t* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  *id = 0;
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  ++filterAddCalls_;
  if (failures_.filterAddNumber != 0 && filterAddCalls_ == failures_.filterAddNumber) {
    return failures_.filterAddCode;
  }
  State* state = Target(session);
  const bool sublayer_known =
      std::any_of(state->sublayers.begin(), state->sublayers.end(),
                  [&](const Keyed& s) { return s.key == filter.subLayerKey; });
  if (!sublayer_known) return sim_wfp::kSublayerNotFound;
  if (filter.provider && !HasProvider(*state, *filter.provider)) {
    return sim_wfp::kProviderNotFound;
  }
  *id = nextFilterId_++;
  state->filters.push_back({*id, filter, session});
  return 0;
}

uint32_t SimulatedFilteringEngine::DeleteFilterById(WfpSession session, uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  auto& filters = Target(session)->filters;
  const auto found =
      std::find_if(filters.begin(), filters.end(), [id](const Filter& f) { return f.id == id; });
  if (found == filters.end()) return sim_wfp::kFilterNotFound;
  filters.erase(found);
  return 0;
}

uint32_t SimulatedFilteringEngine::DeleteSublayerByKey(WfpSession session, const WfpKey& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  State* state = Target(session);
  for (const Filter& f : state->filters) {
    if (f.spec.subLayerKey == key) return 0x80320006u;  // FWP_E_IN_USE
  }
  auto& list = state->sublayers;
  const auto found =
      std::find_if(list.begin(), list.end(), [&](const Keyed& s) { return s.key == key; });
  if (found == list.end()) return 0x80320007u;
  list.erase(found);
  return 0;
}

uint32_t SimulatedFilteringEngine::DeleteProviderByKey(WfpSession session, const WfpKey& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return sim_wfp::kInvalidHandle;
  auto& list = Target(session)->providers;
  const auto found =
      std::find_if(list.begin(), list.end(), [&](const Keyed& p) { return p.key == key; });
  if (found == list.end()) return 0x80320005u;  // FWP_E_PROVIDER_NOT_FOUND
  list.erase(found);
  return 0;
}

uint32_t SimulatedFilteringEngine::AppIdFromFileName(const std::wstring& path,
                                                     std::vector<uint8_t>* app_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  app_id->clear();
  if (failures_.appId != 0) return failures_.appId;
  if (!programs_.count(Lowered(path))) return sim_wfp::kFileNotFound;
  *app_id = DeviceAppId(path);
  return 0;
}
