#include "resources.h"

#include "files.h"

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() { Close(); }

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  return CloseFd(Release());
}
