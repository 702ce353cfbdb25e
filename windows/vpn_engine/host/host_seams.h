// The engine's ways into the machine, handed around together. Engine code reaches the host only
// through these: tests give it a simulated host, the plug-in the production implementations.
#pragma once

class FilteringEngine;

namespace zelvora {

class HostNetwork;
class CommandRunner;
class AdapterDriver;

struct HostSeams {
  HostNetwork* network = nullptr;
  CommandRunner* commands = nullptr;
  AdapterDriver* driver = nullptr;
  ::FilteringEngine* filtering = nullptr;  // the Windows Filtering Platform
};

// The seams the plug-in uses: the production implementations unless a test has replaced them.
// Only the plug-in's entry points (method dispatch, the service manager) call this; engine code
// takes its seams as an argument.
HostSeams& ActiveHost();

// Replaces the active seams for the life of a test scope and puts the previous ones back.
class ScopedActiveHost {
 public:
  explicit ScopedActiveHost(const HostSeams& seams) : saved_(ActiveHost()) { ActiveHost() = seams; }
  ~ScopedActiveHost() { ActiveHost() = saved_; }
  ScopedActiveHost(const ScopedActiveHost&) = delete;
  ScopedActiveHost& operator=(const ScopedActiveHost&) = delete;

 private:
  HostSeams saved_;
};

}  // namespace zelvora
