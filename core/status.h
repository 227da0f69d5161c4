// Errors as values: a Status is either ok or carries a message a user can read;
// a Result<T> is a value or a Status. No exception crosses a module boundary.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kestrune::core {

class Status {
 public:
  Status() = default;  // ok
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}
  bool failed_ = false;
  std::string message_;
};

template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT
  Result(Status status) : value_(std::move(status)) {}  // NOLINT (must not be ok)

  bool ok() const { return std::holds_alternative<T>(value_); }
  const T& value() const& { return std::get<T>(value_); }
  T& value() & { return std::get<T>(value_); }
  T&& value() && { return std::get<T>(std::move(value_)); }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }
  Status status() const { return ok() ? Status::Ok() : std::get<Status>(value_); }

 private:
  std::variant<T, Status> value_;
};

}  // namespace kestrune::core
