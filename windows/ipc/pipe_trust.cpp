// The pipe is only trusted when the process serving it is the tunnel service itself: any
// program of the session could create a pipe with the same name and read the configuration.
#include <string>

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

}  // namespace

bool VpnIpcClient::PipeServerIsTrustedTunnelService(HANDLE pipe) {
  ULONG pipe_server_pid = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &pipe_server_pid) || pipe_server_pid == 0) {
    LogFailure("GetNamedPipeServerProcessId");
    return false;
  }
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

}  // namespace zelvora::ipc
