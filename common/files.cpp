// What is built on the system's file primitives, the same everywhere.
#include "files.h"

#include <vector>

bool CopyStream(int from, int to, bool fromStart) {
  if (fromStart && !Rewind(from)) return false;
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20U);
  for (;;) {
    const long long n = ReadSome(from, buffer.data(), buffer.size());
    if (n <= 0) return n == 0;
    if (!WriteFull(to, buffer.data(), static_cast<std::size_t>(n), kAppend)) return false;
  }
}
