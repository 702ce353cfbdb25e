#include "ipc/request_policy.h"

namespace zelvora::ipc {

namespace {
constexpr unsigned long kServiceStateRunning = 4;  // SERVICE_RUNNING
}  // namespace

RequestLimits LimitsFor(Command command) {
  switch (command) {
    case Command::Start:
      return {6000, 5000, 10000};
    case Command::Stop:
      return {7000, 6000, 15000};
    case Command::Ping:
    case Command::Status:
    default:
      return {3000, 2500, 5000};
  }
}

std::string CannotConnectText(unsigned long error_code) {
  return "Cannot connect to Zelvora tunnel service (error " + std::to_string(error_code) + ").";
}

std::string RequestLogLine(Command command, std::size_t payload_bytes) {
  switch (command) {
    case Command::Status:
      return std::string();
    case Command::Start:
      return "IPC client start request (payload bytes=" + std::to_string(payload_bytes) + ")";
    default:
      return std::string("IPC client ") + CommandLogName(command) + " request";
  }
}

TrustVerdict DecidePipeTrust(unsigned long pipe_server_pid, unsigned long service_state,
                             unsigned long service_pid) {
  TrustVerdict verdict;
  if (service_state != kServiceStateRunning || service_pid == 0) {
    verdict.log_line =
        "IPC trust: service not running (state=" + std::to_string(service_state) + ")";
  } else if (pipe_server_pid != service_pid) {
    verdict.log_line = "IPC trust: pipe pid=" + std::to_string(pipe_server_pid) +
                       " != service pid=" + std::to_string(service_pid);
  } else {
    verdict.trusted = true;
  }
  return verdict;
}

}  // namespace zelvora::ipc
