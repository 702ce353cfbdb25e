// Long method calls run on their own detached thread, which owns the call's result and
// answers it exactly once, whatever happens.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/method_result.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>

#include "common/detached_thread.h"

namespace zelvora {

using WorkerResult = flutter::MethodResult<flutter::EncodableValue>;
using SharedWorkerResult = std::shared_ptr<WorkerResult>;

// Passes the first completion on and drops any later one, so a worker's error path can
// always answer without risking a second reply. A completion that throws counts as given.
class CompleteOnceResult : public WorkerResult {
 public:
  explicit CompleteOnceResult(std::unique_ptr<WorkerResult> inner) : inner_(std::move(inner)) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* value) override {
    if (!completed_.exchange(true) && inner_) {
      inner_->Success(value ? *value : flutter::EncodableValue());
    }
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override {
    if (completed_.exchange(true) || !inner_) return;
    if (details) {
      inner_->Error(code, message, *details);
    } else {
      inner_->Error(code, message);
    }
  }
  void NotImplementedInternal() override {
    if (!completed_.exchange(true) && inner_) inner_->NotImplemented();
  }

 private:
  std::unique_ptr<WorkerResult> inner_;
  std::atomic<bool> completed_{false};
};

// How a method answers when its worker fails or cannot start: with an error code, or with
// the value the method's contract gives for failure ("stopVless" always succeeds; a delay
// test that cannot run measured nothing, -1; a catalogue that cannot be read is empty).
struct WorkerFailureAnswer {
  const char* error_code = nullptr;  // null: answer `value` as a success
  flutter::EncodableValue value;
  void (*log)(const std::string& line) = nullptr;  // told "<name> failed: <what>"
};

// Runs `work(result)` on a detached thread. An exception out of `work` is logged and answered
// as `on_failure` says, unless the worker had already answered; a thread that cannot be
// created answers the same way at once (and false is returned). Nothing escapes into the app,
// and no call is left unanswered.
template <typename Work>
bool RunDetachedWorker(const char* name, WorkerFailureAnswer on_failure,
                       std::unique_ptr<WorkerResult> raw_result, Work work) {
  SharedWorkerResult result = std::make_shared<CompleteOnceResult>(std::move(raw_result));
  auto fail = [name, on_failure, result](const std::string& what) {
    try {
      if (on_failure.log) on_failure.log(std::string(name) + " failed: " + what);
      if (on_failure.error_code) {
        result->Error(on_failure.error_code, what);
      } else {
        result->Success(on_failure.value);
      }
    } catch (...) {
      // The result object itself failed; nothing is left to answer through.
    }
  };
  bool started = false;
  try {
    started = StartDetachedThread([result, work = std::move(work), fail]() mutable {
      try {
        work(result);
      } catch (const std::exception& e) {
        fail(e.what());
      } catch (...) {
        fail("unknown exception");
      }
    });
  } catch (...) {
  }
  if (!started) fail("could not start a worker thread");
  return started;
}

}  // namespace zelvora
