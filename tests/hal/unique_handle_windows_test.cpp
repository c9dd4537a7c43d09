#include "nivalto/hal/unique_handle_windows.h"

#include <gtest/gtest.h>

#include <utility>

namespace nivalto {
namespace {

bool is_open(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE new_event() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(UniqueHandle, ClosesItsHandleOnceWhenDestroyedOrReset) {
  HANDLE raw = new_event();
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle owner(raw);
    EXPECT_TRUE(owner.valid());
    EXPECT_TRUE(is_open(raw));
  }
  EXPECT_FALSE(is_open(raw));

  HANDLE first = new_event();
  HANDLE second = new_event();
  UniqueHandle owner(first);
  owner.reset(second);
  EXPECT_FALSE(is_open(first));
  EXPECT_TRUE(is_open(second));
  EXPECT_EQ(owner.get(), second);
}

TEST(UniqueHandle, MoveTransfersOwnershipWithoutClosing) {
  HANDLE raw = new_event();
  UniqueHandle source(raw);
  UniqueHandle target(std::move(source));
  EXPECT_FALSE(source.valid());
  EXPECT_EQ(target.get(), raw);
  EXPECT_TRUE(is_open(raw));

  HANDLE other = new_event();
  UniqueHandle assigned(other);
  assigned = std::move(target);
  EXPECT_FALSE(is_open(other));
  EXPECT_EQ(assigned.get(), raw);
  EXPECT_TRUE(is_open(raw));
}

TEST(UniqueHandle, FailureValuesAreNotHandles) {
  UniqueHandle none;
  UniqueHandle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  EXPECT_FALSE(invalid.valid());
  EXPECT_FALSE(static_cast<bool>(invalid));
  invalid.reset();  // must not try to close the pseudo handle
}

TEST(UniqueHandle, ReleaseAndOutSlot) {
  HANDLE raw = new_event();
  UniqueHandle owner(raw);
  HANDLE released = owner.release();
  EXPECT_FALSE(owner.valid());
  EXPECT_TRUE(is_open(released));
  CloseHandle(released);

  HANDLE old = new_event();
  UniqueHandle slot(old);
  HANDLE read_end = nullptr;
  HANDLE* lent = slot.out();
  // Checked before anything new is opened: the system reuses handle values.
  EXPECT_FALSE(is_open(old));
  ASSERT_TRUE(CreatePipe(&read_end, lent, nullptr, 0));
  EXPECT_TRUE(slot.valid());
  CloseHandle(read_end);
}

}  // namespace
}  // namespace nivalto
