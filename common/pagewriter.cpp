#include "pagewriter.h"

#include <cstring>
#include <new>

#include "files.h"
#include "resources.h"

bool PageWriter::Finish() {
  if (heldSize_ > 0 && !WriteFull(fd_, held_, heldSize_, heldAt_)) return false;
  heldSize_ = 0;
  return true;
}

bool PageWriter::Write(const void* data, std::size_t size, std::uint64_t offset) {
  // What is held goes with these bytes where they follow it, alone
  // otherwise.
  if (heldAt_ + heldSize_ != offset && !Finish()) return false;
  if (held_ == nullptr && size >= kPage) {
    buffer_.reset(new (std::nothrow) std::uint8_t[kPage + kCopyAlignment]);
    if (buffer_) held_ = AlignedFor(buffer_.get(), 0);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::size_t keep = held_ != nullptr && size >= kPage ? static_cast<std::size_t>((offset + size) % kPage) : 0;
  if (!WriteJoined(fd_, held_, heldSize_, bytes, size - keep, heldSize_ > 0 ? heldAt_ : offset)) return false;
  if (keep > 0) std::memcpy(held_, bytes + size - keep, keep);
  heldSize_ = keep;
  heldAt_ = offset + size - keep;
  return true;
}
