// Installed / running checks and starting the service through the Service Control Manager.
#include <string>

#include "ipc/request_policy.h"
#include "ipc/service_handle.h"
#include "ipc/vpn_ipc_client.h"

namespace zelvora::ipc {

namespace {

void SetError(std::string* error, const char* text) {
  if (error) *error = text;
}

UniqueServiceHandle OpenManager() {
  return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
}

UniqueServiceHandle OpenTunnelService(const UniqueServiceHandle& manager, DWORD access) {
  if (!manager) return UniqueServiceHandle();
  return UniqueServiceHandle(::OpenServiceW(manager.get(), kTunnelServiceName, access));
}

bool StateIs(SC_HANDLE service, DWORD wanted) {
  SERVICE_STATUS status{};
  return ::QueryServiceStatus(service, &status) && status.dwCurrentState == wanted;
}

// Polls `polls` times, kServicePollIntervalMs apart, then answers whether the state was reached.
bool PollUntilState(SC_HANDLE service, DWORD wanted, int polls) {
  for (int i = 0; i < polls; ++i) {
    if (StateIs(service, wanted)) return true;
    ::Sleep(kServicePollIntervalMs);
  }
  return StateIs(service, wanted);
}

}  // namespace

bool VpnIpcClient::IsServiceInstalled() {
  UniqueServiceHandle manager = OpenManager();
  return OpenTunnelService(manager, SERVICE_QUERY_STATUS).valid();
}

bool VpnIpcClient::IsServiceRunning() {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service = OpenTunnelService(manager, SERVICE_QUERY_STATUS);
  return service && StateIs(service.get(), SERVICE_RUNNING);
}

bool VpnIpcClient::EnsureServiceRunning(std::string* error) {
  if (!IsServiceInstalled()) {
    SetError(error, kTextNotInstalled);
    return false;
  }
  if (IsServiceRunning()) return true;
  UniqueServiceHandle manager = OpenManager();
  if (!manager) {
    SetError(error, kTextCannotOpenScm);
    return false;
  }
  UniqueServiceHandle service = OpenTunnelService(manager, SERVICE_QUERY_STATUS | SERVICE_START);
  if (!service) {
    SetError(error, kTextCannotOpenService);
    return false;
  }
  if (!::StartServiceW(service.get(), 0, nullptr) &&
      ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    SetError(error, kTextStartServiceFailed);
    return false;
  }
  if (PollUntilState(service.get(), SERVICE_RUNNING, kPollsUntilRunning)) return true;
  SetError(error, kTextServiceStartTimeout);
  return false;
}

void VpnIpcClient::RestartService() {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service =
      OpenTunnelService(manager, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  if (!service) return;
  SERVICE_STATUS status{};
  ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  PollUntilState(service.get(), SERVICE_STOPPED, kPollsUntilStopped);
  ::StartServiceW(service.get(), 0, nullptr);
  PollUntilState(service.get(), SERVICE_RUNNING, kPollsUntilRunning);
}

}  // namespace zelvora::ipc
