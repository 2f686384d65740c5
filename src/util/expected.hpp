#pragma once
// A value or an error, for the core's fallible operations (the core never throws).

#include <cassert>
#include <memory>
#include <type_traits>
#include <utility>

namespace vexlor {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return {std::forward<E>(error)};
}

// A tagged union: testing and destroying a success is one test of the tag.
template <class T, class E>
class Expected {
 public:
  Expected(const T& value) : ok_(true) { std::construct_at(&value_, value); }
  Expected(T&& value) : ok_(true) { std::construct_at(&value_, std::move(value)); }
  template <class G>
  Expected(Unexpected<G> e) : ok_(false) {
    std::construct_at(&error_, std::move(e.error));
  }
  Expected(const Expected& other) : ok_(other.ok_) {
    if (ok_) {
      std::construct_at(&value_, other.value_);
    } else {
      std::construct_at(&error_, other.error_);
    }
  }
  Expected(Expected&& other) noexcept(std::is_nothrow_move_constructible_v<T> &&
                                      std::is_nothrow_move_constructible_v<E>)
      : ok_(other.ok_) {
    if (ok_) {
      std::construct_at(&value_, std::move(other.value_));
    } else {
      std::construct_at(&error_, std::move(other.error_));
    }
  }
  Expected& operator=(const Expected& other) {
    if (this != &other) {
      Expected copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  Expected& operator=(Expected&& other) noexcept(std::is_nothrow_move_constructible_v<T> &&
                                                 std::is_nothrow_move_constructible_v<E>) {
    if (this != &other) {
      destroy();
      ok_ = other.ok_;
      if (ok_) {
        std::construct_at(&value_, std::move(other.value_));
      } else {
        std::construct_at(&error_, std::move(other.error_));
      }
    }
    return *this;
  }
  ~Expected() { destroy(); }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return value_; }
  const T& value() const& { assert(ok()); return value_; }
  T&& value() && { assert(ok()); return std::move(value_); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { assert(!ok()); return error_; }
  const E& error() const& { assert(!ok()); return error_; }
  E&& error() && { assert(!ok()); return std::move(error_); }

 private:
  void destroy() {
    if (ok_) [[likely]] {
      std::destroy_at(&value_);
    } else {
      std::destroy_at(&error_);
    }
  }
  union {
    T value_;
    E error_;
  };
  bool ok_;
};

}  // namespace vexlor
