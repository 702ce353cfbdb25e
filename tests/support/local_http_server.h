// A one-thread HTTP server on 127.0.0.1 for probe tests: answers every request with a fixed
// status and remembers the request lines it saw.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalHttpServer {
 public:
  explicit LocalHttpServer(int status = 200) : status_(status) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 16);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LocalHttpServer() {
    ::closesocket(listener_);  // ends accept()
    thread_.join();
    ::WSACleanup();
  }

  uint16_t port() const { return port_; }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      std::string received;
      char buffer[4096];
      int got = 0;
      while (received.find("\r\n\r\n") == std::string::npos &&
             (got = ::recv(client, buffer, sizeof(buffer), 0)) > 0) {
        received.append(buffer, got);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(received);
      }
      const std::string body = "probe target\n";
      const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                                " Status\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\nConnection: close\r\n\r\n" + body;
      ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
      ::shutdown(client, SD_SEND);
      ::closesocket(client);
    }
  }

  int status_;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};
