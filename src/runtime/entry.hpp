#pragma once
// What every Python entry point stands on: owned references, C++ exceptions
// turned into MemoryError, and work done with the interpreter lock released.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <type_traits>
#include <utility>

namespace vexlor::py {

// An owned reference, released at the end of its scope (also when unwinding).
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) : p_(owned) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }
  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// The only C++ exceptions the layer can meet come from allocation (std::bad_alloc,
// and std::length_error for sizes beyond any allocation); each becomes MemoryError.
[[gnu::cold]] inline void raise_memory_error() { PyErr_NoMemory(); }

// `guarded<f>`: the entry point f as the interpreter calls it. A C++ exception
// escaping f becomes MemoryError (owned references held by f are released by
// unwinding); the interpreter never sees an exception. A thread's forced unwinding
// passes through.
template <auto Fn>
struct Guarded;
template <class R, class... A, R (*Fn)(A...)>
struct Guarded<Fn> {
  static R call(A... args) {
    try {
      return Fn(args...);
    } catch (abi::__forced_unwind&) {
      throw;
    } catch (...) {
      raise_memory_error();
      if constexpr (std::is_pointer_v<R>) {
        return nullptr;
      } else {
        return -1;
      }
    }
  }
};
template <auto Fn>
inline constexpr auto guarded = &Guarded<Fn>::call;

// Runs `work` with the interpreter lock released and returns its result. An
// exception from it passes on once the lock is held again. (The lock is taken
// back in a destructor that may throw: a thread ended by the interpreter while
// it waits for the lock unwinds from there.)
class Unlocked {
 public:
  Unlocked() : released_(PyEval_SaveThread()) {}
  ~Unlocked() noexcept(false) { PyEval_RestoreThread(released_); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* released_;
};
template <class Work>
auto without_lock(Work&& work) -> decltype(work()) {
  Unlocked unlocked;
  return work();
}

}  // namespace vexlor::py
