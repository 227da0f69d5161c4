// Errors as values: a Status is either ok or carries a kind and a message a
// user can read; a Result<T> is a value or a Status. No exception crosses a
// module boundary.
//
// Callers that must tell failures apart ask for the kind (IsNotSupported(),
// ...), never compare messages: a message is for people and may be reworded.
// Status::Error is a failure of no particular kind, for the many outcomes no
// caller tells apart (a file that cannot be read, a malformed reply).
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kestrune::core {

class [[nodiscard]] Status {
 public:
  Status() = default;  // ok
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(Code::kError, std::move(message)); }
  // The user's input breaks a rule (a form, a limit); nothing was done.
  static Status InvalidInput(std::string message) {
    return Status(Code::kInvalidInput, std::move(message));
  }
  // The choice is known but has nothing to do (no request to send).
  static Status NotSupported(std::string message) {
    return Status(Code::kNotSupported, std::move(message));
  }
  // No exchange with the server: no connection, a failed send or receive, a
  // time-out, a reply cut off.
  static Status Connection(std::string message) {
    return Status(Code::kConnection, std::move(message));
  }
  // The service answered, with an error of its own.
  static Status ServiceError(std::string message) {
    return Status(Code::kServiceError, std::move(message));
  }

  bool ok() const { return code_ == Code::kOk; }
  bool IsInvalidInput() const { return code_ == Code::kInvalidInput; }
  bool IsNotSupported() const { return code_ == Code::kNotSupported; }
  bool IsConnection() const { return code_ == Code::kConnection; }
  bool IsServiceError() const { return code_ == Code::kServiceError; }
  const std::string& message() const { return message_; }

 private:
  enum class Code { kOk, kError, kInvalidInput, kNotSupported, kConnection, kServiceError };

  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT
  Result(Status status) : value_(std::move(status)) {}  // NOLINT (must not be ok)

  bool ok() const { return std::holds_alternative<T>(value_); }
  const T& value() const& { return std::get<T>(value_); }
  T& value() & { return std::get<T>(value_); }
  T&& value() && { return std::get<T>(std::move(value_)); }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }
  // A reference, so that `r.status().message()` lives as long as `r` does.
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(value_);
  }

 private:
  std::variant<T, Status> value_;
};

}  // namespace kestrune::core
