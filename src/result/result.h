#pragma once

// How every module says that something failed: an operation gives a Result
// (its value, or why not) or a Status (done, or why not). The error type E is
// the module's own: the hive reader's Error with its stable code, the console
// program's Failure, a system error code.

#include <utility>
#include <variant>

namespace tamsket {

// A T or an E.
template <typename T, typename E>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}
  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// Done, or an E.
template <typename E>
class Status {
 public:
  Status() = default;
  Status(E error) : error_(std::move(error)), failed_(true) {}
  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const E& error() const { return error_; }

 private:
  E error_{};
  bool failed_ = false;
};

// A failed system call: what it means for the caller, and the error code the
// system gave (0 when it gave none).
template <typename Problem>
struct SystemFailure {
  Problem problem{};
  unsigned long error = 0;
};

}  // namespace tamsket
