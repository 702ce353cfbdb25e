// The pipe is only trusted when the process serving it is the tunnel service itself: any
// program of the session could create a pipe with the same name and read the configuration.
//
// Asking the Service Control Manager costs several round trips to the service manager (most of
// a status exchange under Wine), and the answer rarely changes: once a process was seen to be
// the running service, a handle to it is kept. While that handle is open Windows cannot give
// the process id to another process, so a pipe served by that id is served by that same
// process. The manager is asked again whenever the pipe's server is another process (the
// service was restarted, or someone else serves the name), and when no handle can be had.
#include <mutex>
#include <string>

#include "common/unique_handle.h"
#include "ipc/request_policy.h"
#include "ipc/service_handle.h"
#include "ipc/vpn_ipc_client.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora::ipc {

namespace {

void LogFailure(const char* what) {
  TunnelLogWrite(std::string("IPC trust: ") + what +
                 " failed err=" + std::to_string(::GetLastError()));
}

// The service's process as last confirmed by the manager.
struct KnownServiceProcess {
  std::mutex mutex;
  DWORD pid = 0;
  UniqueHandle process;  // holds the id: no other process can be given it meanwhile
};

KnownServiceProcess& Known() {
  static KnownServiceProcess known;
  return known;
}

// The manager's verdict on `pipe_server_pid`, logging why when it is not trusted.
bool ServiceManagerVouchesFor(DWORD pipe_server_pid) {
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    LogFailure("OpenSCManager");
    return false;
  }
  UniqueServiceHandle service(
      ::OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) {
    LogFailure("OpenService");
    return false;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    LogFailure("QueryServiceStatusEx");
    return false;
  }
  const TrustVerdict verdict =
      DecidePipeTrust(pipe_server_pid, status.dwCurrentState, status.dwProcessId);
  if (!verdict.trusted) TunnelLogWrite(verdict.log_line);
  return verdict.trusted;
}

// Any right will do: the handle is held only so the id stays the service's. A standard user
// may be refused every right on a service running as LocalSystem; then the manager is asked
// for every exchange.
UniqueHandle OpenToHoldProcessId(DWORD pid) {
  UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  return process;
}

}  // namespace

bool VpnIpcClient::PipeServerIsTrustedTunnelService(HANDLE pipe) {
  ULONG pipe_server_pid = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &pipe_server_pid) || pipe_server_pid == 0) {
    LogFailure("GetNamedPipeServerProcessId");
    return false;
  }
  KnownServiceProcess& known = Known();
  std::lock_guard<std::mutex> lock(known.mutex);
  if (known.process && known.pid == pipe_server_pid) return true;
  // Another process serves the pipe now: whatever was known no longer answers for it.
  known.process.reset();
  known.pid = 0;
  if (!ServiceManagerVouchesFor(pipe_server_pid)) return false;
  known.process = OpenToHoldProcessId(pipe_server_pid);
  if (known.process) known.pid = pipe_server_pid;
  return true;
}

}  // namespace zelvora::ipc
