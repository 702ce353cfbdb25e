// One Winsock start for the life of a scope, undone on every path.
#pragma once

#include <winsock2.h>

class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool started() const { return started_; }

 private:
  bool started_ = false;
};
