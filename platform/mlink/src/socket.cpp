// The parts of Socket that are the same on every platform; Close and the
// socket calls are in each platform's socket file.
#include "mlink/socket_io.h"

namespace mlink {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

Socket::~Socket() { Close(); }

int Socket::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace mlink
