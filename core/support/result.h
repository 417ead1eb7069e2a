// Failures as values: the core never throws and never logs.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kelo_core {

// What went wrong, in the caller's terms. The binding layer maps each kind
// onto an exception type; the message travels unchanged.
struct Error {
  enum class Kind : unsigned char {
    Value,     // a rejected value (malformed text, failed selection, ...)
    Internal,  // a broken invariant or a failing operating-system service
  };
  Kind kind;
  std::string message;

  static Error value(std::string m) { return {Kind::Value, std::move(m)}; }
  static Error internal(std::string m) { return {Kind::Internal, std::move(m)}; }
};

// A value of T or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace kelo_core
