// Memory for key material (the AccessKey secret, a security token, the HMAC
// key blocks) that is overwritten with zeros before it is given back, so that
// neither a later allocation, a core file nor a swap area finds a copy of it
// in freed memory.
//
// WipeMemory is the platform seam (secret_wipe_posix.cc: explicit_bzero;
// secret_wipe_win32.cc: SecureZeroMemory), whose writes the compiler keeps
// although nothing reads them again. WipingAllocator wipes every buffer it
// frees; SecretString holds a text in such buffers and wipes its own short
// buffer (kept inside the object) when it is destroyed or cleared. Copies a
// caller makes into plain strings are outside this module's care.
//
// Stateless functions; a SecretString is a plain value (not thread-safe).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kestrune::core {

// Sets `size` bytes at `data` to zero, in a way no optimisation leaves out.
void WipeMemory(void* data, std::size_t size) noexcept;

// An allocator that wipes each buffer before `Base` frees it.
template <class T, class Base = std::allocator<T>>
class WipingAllocator {
 public:
  using value_type = T;
  template <class U>
  struct rebind {
    using other =
        WipingAllocator<U, typename std::allocator_traits<Base>::template rebind_alloc<U>>;
  };

  WipingAllocator() = default;
  template <class U, class OtherBase>
  // NOLINTNEXTLINE(google-explicit-constructor): allocators convert implicitly.
  WipingAllocator(const WipingAllocator<U, OtherBase>& /*other*/) noexcept {}

  T* allocate(std::size_t count) { return base_.allocate(count); }
  void deallocate(T* data, std::size_t count) noexcept {
    WipeMemory(data, count * sizeof(T));
    base_.deallocate(data, count);
  }

  friend bool operator==(const WipingAllocator& /*a*/, const WipingAllocator& /*b*/) {
    return true;
  }

 private:
  Base base_;
};

// A text that is key material: converts to std::string_view for reading,
// and compares with any text; never printed by the tests' framework.
class SecretString {
 public:
  SecretString() = default;
  // NOLINTBEGIN(google-explicit-constructor): a secret is given as any text.
  SecretString(std::string_view text) : text_(text) {}
  SecretString(const char* text) : text_(text) {}
  SecretString(const std::string& text) : text_(text) {}
  // The plain string's buffer is wiped once copied.
  SecretString(std::string&& text) : text_(text) {
    WipeMemory(text.data(), text.capacity());
    text.clear();
  }
  operator std::string_view() const { return {text_.data(), text_.size()}; }
  // NOLINTEND(google-explicit-constructor)
  SecretString(const SecretString&) = default;
  SecretString(SecretString&& other) noexcept : text_(other.text_) { other.clear(); }
  SecretString& operator=(const SecretString& other) {
    if (this != &other) {
      clear();
      text_ = other.text_;
    }
    return *this;
  }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      clear();
      text_ = other.text_;
      other.clear();
    }
    return *this;
  }
  ~SecretString() { WipeMemory(text_.data(), text_.capacity()); }

  std::string_view view() const { return *this; }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  const char* data() const { return text_.data(); }
  // Wipes the text, keeping its buffer.
  void clear() {
    WipeMemory(text_.data(), text_.capacity());
    text_.clear();
  }

  friend bool operator==(const SecretString& a, std::string_view b) { return a.view() == b; }

 private:
  std::basic_string<char, std::char_traits<char>, WipingAllocator<char>> text_;
};

}  // namespace kestrune::core
