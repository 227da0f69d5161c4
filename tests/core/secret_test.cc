#include "core/secret.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

namespace kestrune::core {
namespace {

// Hands out one fixed arena and records what the freed buffer held at the
// moment it was given back, after WipingAllocator had its turn.
struct Arena {
  std::array<char, 256> bytes{};
  bool in_use = false;
  bool freed_all_zero = false;
  int frees = 0;
};
Arena arena;

template <class T>
struct ArenaAllocator {
  using value_type = T;
  ArenaAllocator() = default;
  template <class U>
  explicit ArenaAllocator(const ArenaAllocator<U>& /*other*/) {}
  T* allocate(std::size_t count) {
    if (arena.in_use || count * sizeof(T) > arena.bytes.size()) throw std::bad_alloc();
    arena.in_use = true;
    return reinterpret_cast<T*>(arena.bytes.data());
  }
  void deallocate(T* data, std::size_t count) {
    const char* bytes = reinterpret_cast<const char*>(data);
    arena.freed_all_zero =
        std::all_of(bytes, bytes + count * sizeof(T), [](char c) { return c == 0; });
    ++arena.frees;
    arena.in_use = false;
  }
};

// A secret held by the allocator is zeros by the time its memory goes back,
// whether it is freed or outgrown.
TEST(WipingAllocatorTest, FreedBuffersHoldNothingOfTheSecret) {
  using Text =
      std::basic_string<char, std::char_traits<char>, WipingAllocator<char, ArenaAllocator<char>>>;
  {
    Text secret(40, 'k');  // past the string's own short buffer
    ASSERT_EQ(arena.frees, 0);
  }
  EXPECT_EQ(arena.frees, 1);
  EXPECT_TRUE(arena.freed_all_zero);
}

// A short secret lives inside the object, where no allocator sees it: it is
// wiped as it is cleared, and a moved-from one keeps nothing.
TEST(SecretStringTest, ShortSecretsAreWipedInPlace) {
  SecretString secret("short-key");
  const char* inside = secret.data();
  secret.clear();
  EXPECT_EQ(std::string(inside, 9), std::string(9, '\0'));

  SecretString from(std::string("another-key"));
  SecretString to(std::move(from));
  EXPECT_EQ(to, "another-key");
  EXPECT_TRUE(from.empty());  // NOLINT(bugprone-use-after-move): checked on purpose
  EXPECT_EQ(std::string(from.data(), 11), std::string(11, '\0'));
}

}  // namespace
}  // namespace kestrune::core
