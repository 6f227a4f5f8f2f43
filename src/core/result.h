// What a call that can fail gives back: its value, or why it failed. One shape for the
// readers, the file layer and the store, so that a caller can always tell the user why.
//
//   Result<int> Parse(...);               // a value or a Reason
//   Result<void, FileProblem> Flush(...);  // nothing or a FileProblem
//   if (auto n = Parse(bytes); !n) return Fail(n.error());
//   ZGL_TRY(Flush(file));                  // returns the failure to this function's caller
//
// A failure is any small value type: a `Reason` (a constant text for the user), or an enum
// that the caller turns into words. Results are [[nodiscard]]: a dropped failure is a warning.
#pragma once

#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace zemlo {

// Why something failed, as a short lower-case text without a full stop ("the picture data
// end before its last row"). Always a constant with static storage: it outlives any result.
struct Reason {
  std::string_view text;
  friend bool operator==(const Reason&, const Reason&) = default;
};

// A failure on its way into a Result (`return Fail(Reason{...})`).
template <typename E>
struct Failure {
  E error;
};
template <typename E>
[[nodiscard]] constexpr Failure<std::decay_t<E>> Fail(E&& error) {
  return {std::forward<E>(error)};
}

template <typename T, typename E = Reason>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(Failure<E> failure)                                             // NOLINT: implicit
      : state_(std::in_place_index<1>, std::move(failure.error)) {}

  [[nodiscard]] bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // The value, or `fallback` when !ok() (`OpenFile(name, "rb").value_or(nullptr)` where the
  // reason does not matter).
  template <typename U>
  T value_or(U&& fallback) const& {
    return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
  }

  // Only when !ok().
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

template <typename E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(Failure<E> failure) : error_(std::move(failure.error)), ok_(false) {}  // NOLINT

  [[nodiscard]] bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  // Only when !ok().
  const E& error() const { return error_; }

 private:
  E error_{};
  bool ok_ = true;
};

using Status = Result<void, Reason>;

}  // namespace zemlo

// Evaluates `expr` (a Result); on failure returns that failure from the calling function,
// whose own Result must take the same error type.
#define ZGL_TRY(expr)                                                    \
  do {                                                                   \
    auto zgl_try_result_ = (expr);                                       \
    if (!zgl_try_result_) return ::zemlo::Fail(zgl_try_result_.error()); \
  } while (false)
