#pragma once
// A value or an error, for the core's fallible operations (the core never throws).

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace vexlor {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class Expected {
 public:
  Expected(const T& value) : v_(std::in_place_index<0>, value) {}
  Expected(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class G>
  Expected(Unexpected<G> e) : v_(std::in_place_index<1>, std::move(e.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return *std::get_if<0>(&v_); }
  const T& value() const& { assert(ok()); return *std::get_if<0>(&v_); }
  T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { assert(!ok()); return *std::get_if<1>(&v_); }
  const E& error() const& { assert(!ok()); return *std::get_if<1>(&v_); }
  E&& error() && { assert(!ok()); return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, E> v_;
};

}  // namespace vexlor
