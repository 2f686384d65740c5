#pragma once
// The rows a run produces, written in place as the decimal128 buffer they
// become: each row's own coefficient as a 16-byte two's complement integer,
// with the row's own scale beside it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "decimal/decimal.hpp"

namespace vexlor::columnar {

// Memory aligned to 64 bytes, not cleared.
struct AlignedBuffer {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<void, Free> data;
  bool allocate(size_t bytes) {
    data.reset(std::aligned_alloc(64, (bytes + 63) / 64 * 64 + 64));
    return data != nullptr;
  }
};

inline constexpr uint8_t NEGATIVE_ZERO = 0x80;  // in a row's scale byte: the value is "-0"

// An allocator whose resize leaves new bytes unset: the runner writes every one
// it uses, on the threads that compute them.
template <class T>
struct Uncleared : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = Uncleared<U>;
  };
  Uncleared() = default;
  template <class U>
  Uncleared(const Uncleared<U>&) {}
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using ByteVector = std::vector<uint8_t, Uncleared<uint8_t>>;

struct Rows {
  AlignedBuffer data;          // 16 bytes per row
  ByteVector scale;  // the row's scale, with NEGATIVE_ZERO
  ByteVector valid;  // 1: a value (0 also where a failed run stopped early)

  uint64_t* words(int64_t row) { return static_cast<uint64_t*>(data.data.get()) + 2 * row; }
  const uint64_t* words(int64_t row) const { return static_cast<const uint64_t*>(data.data.get()) + 2 * row; }

  void store(int64_t row, const Decimal& d) {
    uint64_t lo = d.lo(), hi = d.hi();
    if (d.is_sign_negative()) {
      lo = ~lo + 1;
      hi = ~hi + (lo == 0 ? 1 : 0);
    }
    uint64_t* w = words(row);
    w[0] = lo;
    w[1] = hi;
    scale[static_cast<size_t>(row)] =
        static_cast<uint8_t>(d.scale() | (d.is_sign_negative() && d.is_zero() ? NEGATIVE_ZERO : 0));
  }
  void store(int64_t row, int64_t coefficient, uint8_t own_scale) {
    uint64_t* w = words(row);
    w[0] = static_cast<uint64_t>(coefficient);
    w[1] = coefficient < 0 ? ~uint64_t{0} : 0;
    scale[static_cast<size_t>(row)] = own_scale;
  }
};

}  // namespace vexlor::columnar
