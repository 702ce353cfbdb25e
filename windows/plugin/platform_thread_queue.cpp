#include "plugin/platform_thread_queue.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "tunnel_log/log_message.h"

namespace zelvora {

namespace {

void RunContained(const std::function<void()>& task) {
  try {
    task();
  } catch (const std::exception& e) {
    LogMessage(std::string("Exception in UI callback: ") + e.what());
  } catch (...) {
    LogMessage("Unknown exception in UI callback");
  }
}

using Value = flutter::EncodableValue;

class PlatformThreadResult : public flutter::MethodResult<Value> {
 public:
  PlatformThreadResult(std::shared_ptr<PlatformThreadQueue> queue,
                       std::unique_ptr<flutter::MethodResult<Value>> inner)
      : queue_(std::move(queue)), inner_(std::move(inner)) {}

 protected:
  void SuccessInternal(const Value* value) override {
    Post([value = value ? *value : Value()](flutter::MethodResult<Value>& inner) {
      inner.Success(value);
    });
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const Value* details) override {
    std::optional<Value> kept;
    if (details) kept = *details;
    Post([code, message, kept](flutter::MethodResult<Value>& inner) {
      if (kept) {
        inner.Error(code, message, *kept);
      } else {
        inner.Error(code, message);
      }
    });
  }
  void NotImplementedInternal() override {
    Post([](flutter::MethodResult<Value>& inner) { inner.NotImplemented(); });
  }

 private:
  template <typename Complete>
  void Post(Complete complete) {
    std::shared_ptr<flutter::MethodResult<Value>> inner = std::move(inner_);
    if (!inner) return;
    queue_->Run([inner, complete = std::move(complete)] { complete(*inner); });
  }

  std::shared_ptr<PlatformThreadQueue> queue_;
  std::shared_ptr<flutter::MethodResult<Value>> inner_;
};

}  // namespace

PlatformThreadQueue::PlatformThreadQueue(HWND window, UINT message)
    : window_(window), message_(message), platform_thread_(::GetCurrentThreadId()) {}

void PlatformThreadQueue::Run(std::function<void()> task) {
  if (!task) return;
  if (OnPlatformThread() || !window_ || message_ == 0) {
    std::lock_guard<std::recursive_mutex> delivering(delivery_mutex_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return;
    }
    RunContained(task);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    tasks_.push_back(std::move(task));
  }
  // A failed post leaves the task queued for the next message that does arrive.
  ::PostMessageW(window_, message_, 0, 0);
}

size_t PlatformThreadQueue::Drain() {
  std::lock_guard<std::recursive_mutex> delivering(delivery_mutex_);
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return 0;
    tasks.swap(tasks_);
  }
  for (const auto& task : tasks) RunContained(task);
  return tasks.size();
}

size_t PlatformThreadQueue::Pending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasks_.size();
}

void PlatformThreadQueue::Close() {
  std::lock_guard<std::recursive_mutex> delivering(delivery_mutex_);
  std::deque<std::function<void()>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  dropped.swap(tasks_);
}

std::unique_ptr<flutter::MethodResult<Value>> CompleteOnPlatformThread(
    std::shared_ptr<PlatformThreadQueue> queue,
    std::unique_ptr<flutter::MethodResult<Value>> inner) {
  return std::make_unique<PlatformThreadResult>(std::move(queue), std::move(inner));
}

}  // namespace zelvora
