#include "channel_host.h"

#include <flutter_standin_host.h>

namespace flutter_standin {

namespace {

// Longest single wait between looks at the clock and the message queue.
constexpr DWORD kMaxWaitSliceMs = 50;

}  // namespace

// One reply awaited by InvokeMethod. Shared between the waiting call and the reply callback,
// because a call that timed out may still be answered later.
struct ChannelHost::PendingReply {
  ChannelHost* host = nullptr;
  bool done = false;  // guarded by host->mutex_
  std::vector<uint8_t> bytes;
};

ChannelHost::ChannelHost(ViewMode mode)
    : wake_event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (mode == ViewMode::kWithView) window_ = std::make_unique<HostWindow>();
  registrar_ = FlutterStandinCreateRegistrar(window());
  if (window_) window_->set_registrar(registrar_);
  FlutterStandinSetMessageObserver(registrar_, &ChannelHost::OnPluginMessage, this);
}

ChannelHost::~ChannelHost() {
  DestroyRegistrar();
  window_.reset();
}

void ChannelHost::DestroyRegistrar() {
  if (!registrar_) return;
  FlutterDesktopPluginRegistrarRef registrar = registrar_;
  FlutterStandinDestroyRegistrar(registrar);
  registrar_ = nullptr;
  if (window_) window_->set_registrar(nullptr);
}

void ChannelHost::Wake() { ::SetEvent(wake_event_.get()); }

template <typename Done>
bool ChannelHost::PumpUntil(std::chrono::steady_clock::time_point deadline, Done done) {
  for (;;) {
    // Run what the plug-in posted to the platform thread before looking for the result.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    const HANDLE wake = wake_event_.get();
    ::MsgWaitForMultipleObjectsEx(1, &wake,
                                  static_cast<DWORD>(std::min<long long>(left, kMaxWaitSliceMs)),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void ChannelHost::OnReply(const uint8_t* reply, size_t reply_size, void* user_data) {
  auto* holder = static_cast<std::shared_ptr<PendingReply>*>(user_data);
  std::shared_ptr<PendingReply> pending = std::move(*holder);
  delete holder;
  ChannelHost* host = pending->host;
  {
    std::lock_guard<std::mutex> lock(host->mutex_);
    if (reply_size > 0) pending->bytes.assign(reply, reply + reply_size);
    pending->done = true;
  }
  host->Wake();
}

void ChannelHost::OnPluginMessage(const char* channel, const uint8_t* message, size_t message_size,
                                  void* user_data) {
  auto* host = static_cast<ChannelHost*>(user_data);
  {
    std::lock_guard<std::mutex> lock(host->mutex_);
    host->received_[channel].emplace_back(message, message + message_size);
  }
  host->Wake();
}

MethodReply ChannelHost::SendRaw(const std::string& channel, const std::vector<uint8_t>& bytes,
                                 std::chrono::milliseconds timeout) {
  MethodReply timed_out;
  if (!registrar_) return timed_out;
  auto pending = std::make_shared<PendingReply>();
  pending->host = this;
  auto* holder = new std::shared_ptr<PendingReply>(pending);
  if (!FlutterStandinSendToPlugin(registrar_, channel.c_str(), bytes.data(), bytes.size(),
                                  &ChannelHost::OnReply, holder)) {
    delete holder;
    return timed_out;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!PumpUntil(deadline, [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return pending->done;
      })) {
    return timed_out;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return DecodeMethodReply(pending->bytes.data(), pending->bytes.size());
}

std::vector<MethodReply> ChannelHost::InvokeMethods(
    const std::string& channel,
    const std::vector<std::pair<std::string, flutter::EncodableValue>>& calls,
    std::chrono::milliseconds timeout) {
  std::vector<MethodReply> replies(calls.size());
  if (!registrar_) return replies;
  std::vector<std::shared_ptr<PendingReply>> pending;
  for (const auto& [method, arguments] : calls) {
    auto one = std::make_shared<PendingReply>();
    one->host = this;
    const std::vector<uint8_t> bytes = EncodeMethodCall(method, arguments);
    auto* holder = new std::shared_ptr<PendingReply>(one);
    if (!FlutterStandinSendToPlugin(registrar_, channel.c_str(), bytes.data(), bytes.size(),
                                    &ChannelHost::OnReply, holder)) {
      delete holder;
    }
    pending.push_back(std::move(one));
  }
  PumpUntil(std::chrono::steady_clock::now() + timeout, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& one : pending) {
      if (!one->done) return false;
    }
    return true;
  });
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < pending.size(); ++i) {
    if (pending[i]->done) {
      replies[i] = DecodeMethodReply(pending[i]->bytes.data(), pending[i]->bytes.size());
    }
  }
  return replies;
}

MethodReply ChannelHost::InvokeMethod(const std::string& channel, const std::string& method,
                                      const flutter::EncodableValue& arguments,
                                      std::chrono::milliseconds timeout) {
  return SendRaw(channel, EncodeMethodCall(method, arguments), timeout);
}

MethodReply ChannelHost::Listen(const std::string& channel,
                                const flutter::EncodableValue& arguments,
                                std::chrono::milliseconds timeout) {
  return InvokeMethod(channel, "listen", arguments, timeout);
}

MethodReply ChannelHost::Cancel(const std::string& channel,
                                const flutter::EncodableValue& arguments,
                                std::chrono::milliseconds timeout) {
  return InvokeMethod(channel, "cancel", arguments, timeout);
}

std::optional<ChannelEvent> ChannelHost::WaitForEvent(const std::string& channel,
                                                      std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!PumpUntil(deadline, [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = received_.find(channel);
        return it != received_.end() && !it->second.empty();
      })) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& queue = received_[channel];
    bytes = std::move(queue.front());
    queue.pop_front();
  }
  return DecodeChannelEvent(bytes.data(), bytes.size());
}

std::vector<ChannelEvent> ChannelHost::TakeEvents(const std::string& channel) {
  std::deque<std::vector<uint8_t>> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = received_.find(channel);
    if (it != received_.end()) taken.swap(it->second);
  }
  std::vector<ChannelEvent> events;
  for (const auto& bytes : taken) events.push_back(DecodeChannelEvent(bytes.data(), bytes.size()));
  return events;
}

size_t ChannelHost::PendingEventCount(const std::string& channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = received_.find(channel);
  return it == received_.end() ? 0 : it->second.size();
}

std::optional<LRESULT> ChannelHost::DispatchWindowMessage(UINT message, WPARAM wparam,
                                                          LPARAM lparam) {
  LRESULT result = 0;
  if (registrar_ &&
      FlutterStandinDispatchWindowMessage(registrar_, window(), message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

LRESULT ChannelHost::SendWindowMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (!window()) return 0;
  return ::SendMessageW(window(), message, wparam, lparam);
}

void ChannelHost::PumpMessages(std::chrono::milliseconds duration) {
  PumpUntil(std::chrono::steady_clock::now() + duration, [] { return false; });
}

bool ChannelHost::HasHandler(const std::string& channel) const {
  return FlutterStandinHasHandler(registrar_, channel.c_str());
}

}  // namespace flutter_standin
