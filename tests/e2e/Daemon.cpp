#include "Daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in LoopbackAddress(const std::string& address, int port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr);
  return socketAddress;
}

// Waits up to `seconds` for `pid` to end; true when it has been reaped.
bool ReapWithin(pid_t pid, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < deadline) {
    if (waitpid(pid, nullptr, WNOHANG) != 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

Daemon::Daemon(const std::vector<std::string>& command, const std::string& logFile) {
  std::vector<char*> arguments;
  arguments.reserve(command.size() + 1);
  for (const std::string& argument : command) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);
  const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  // Also here, so that the group exists even if the destructor runs before the child's call.
  setpgid(pid_, pid_);
  if (log >= 0) {
    close(log);
  }
}

Daemon::~Daemon() {
  if (pid_ <= 0) {
    return;
  }
  kill(-pid_, SIGTERM);
  const bool reaped = ReapWithin(pid_, 5);
  // Also when the program ended: workers of its own may outlive it (icinga2's do).
  kill(-pid_, SIGKILL);
  if (!reaped) {
    waitpid(pid_, nullptr, 0);
  }
}

int FreePort(const std::string& address) {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in socketAddress = LoopbackAddress(address, 0);
  socklen_t length = sizeof socketAddress;
  const bool bound =
      bind(probe, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&socketAddress), &length) == 0;
  close(probe);
  return bound ? ntohs(socketAddress.sin_port) : -1;
}

bool WaitForListener(const std::string& address, int port, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  const sockaddr_in socketAddress = LoopbackAddress(address, port);
  while (Clock::now() < deadline) {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = connect(probe, reinterpret_cast<const sockaddr*>(&socketAddress),
                                   sizeof socketAddress) == 0;
    close(probe);
    if (connected) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace e2e
