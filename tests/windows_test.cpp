// What only Windows does: putting the output in place while the system
// refuses a way of renaming, or another process holds the target open.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "rename.h"
#include "system.h"
#include "tiffgen.h"

namespace {

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

struct HoldCase {
  const char* name;
  int holdMs;     // the target is open, shared with no one, for this long; 0: not at all
  bool replaced;  // the rename succeeds (else it gives up after about two seconds)
};

void PrintTo(const HoldCase& c, std::ostream* os) { *os << c.name; }

class RenameOverTarget : public testing::TestWithParam<HoldCase> {};

TEST_P(RenameOverTarget, WaitsForHolderThenReplaces) {
  const HoldCase& c = GetParam();
  const std::string dir = TempDir();
  const std::string temp = dir + "\\.out.tmp";
  const std::string target = dir + "\\out";
  WriteFileBytes(temp, {'n', 'e', 'w'});
  WriteFileBytes(target, {'o', 'l', 'd'});
  UniqueFd fd = AdoptHandle(CreateFileW(Widen(temp).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(fd);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (c.holdMs > 0) {
    held = CreateFileW(Widen(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
  }
  std::thread holder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  });
  RenameWay way;
  const auto start = std::chrono::steady_clock::now();
  const bool renamed = RenameOver(fd, Widen(temp), Widen(target), &way);
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.join();

  EXPECT_EQ(renamed, c.replaced);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(target);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.replaced ? "new" : "old");
  EXPECT_EQ(GetFileAttributesW(Widen(temp).c_str()) == INVALID_FILE_ATTRIBUTES, c.replaced);
  if (c.holdMs > 0) {
    EXPECT_GE(waited, std::chrono::milliseconds(std::min(c.holdMs, 2000) - 100));
  }
  // Where renaming with POSIX semantics is refused, the file is renamed by
  // name instead. Wine refuses it with ERROR_INVALID_PARAMETER, so there the
  // way by name is the one that runs.
  if (!way.posixSemantics && c.replaced) {
    EXPECT_TRUE(way.posixError == ERROR_INVALID_PARAMETER || way.posixError == ERROR_NOT_SUPPORTED ||
                way.posixError == ERROR_INVALID_FUNCTION) << way.posixError;
  }
  if (UnderWine()) {
    EXPECT_FALSE(way.posixSemantics);
    EXPECT_EQ(way.posixError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

const HoldCase kHoldCases[] = {
    {"NotHeld", 0, true},
    {"HeldHalfASecond", 500, true},
    {"HeldThreeSeconds", 3000, false},
};

INSTANTIATE_TEST_SUITE_P(Windows, RenameOverTarget, testing::ValuesIn(kHoldCases),
                         [](const testing::TestParamInfo<HoldCase>& info) { return std::string(info.param.name); });

}  // namespace
