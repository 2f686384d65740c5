#include "columnar_py/interrupt.hpp"

#include "columnar_py/glue.hpp"

#include <pthread.h>
#include <time.h>

namespace vexlor::columnar::py {
namespace {

constexpr int64_t CHECK_EVERY_NS = 10'000'000;

// Called once per block and more: the coarse clock costs a few nanoseconds.
int64_t now_ns() {
  timespec t{};
#ifdef CLOCK_MONOTONIC_COARSE
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
#else
  clock_gettime(CLOCK_MONOTONIC, &t);
#endif
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The ident of the thread that runs signal handlers, once known (0: not yet).
// A child made by fork() looks again: its main thread is the one that forked.
std::atomic<unsigned long> g_main_thread{0};
std::atomic<bool> g_fork_handler{false};

// With the lock held: 1 on the thread that runs signal handlers (the main
// thread of the main interpreter, or when it is not known), 0 elsewhere, where
// polling would take the lock for nothing; -1 with an error set.
int on_main_thread() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) return 0;
  unsigned long main = g_main_thread.load(std::memory_order_relaxed);
  if (main == 0) {
    if (!g_fork_handler.exchange(true)) pthread_atfork(nullptr, nullptr, [] { g_main_thread = 0; });
    Ref threading{PyImport_ImportModule("threading")};
    Ref thread{threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr};
    Ref ident{thread ? PyObject_GetAttrString(thread.get(), "ident") : nullptr};
    if (ident == nullptr) return must_propagate() ? -1 : (PyErr_Clear(), 1);
    main = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) return must_propagate() ? -1 : (PyErr_Clear(), 1);
    g_main_thread.store(main, std::memory_order_relaxed);
  }
  return PyThread_get_thread_ident() == main ? 1 : 0;
}

}  // namespace

Interrupt::~Interrupt() {  // with the lock held, as the owner holds it
  Py_XDECREF(type_);
  Py_XDECREF(value_);
  Py_XDECREF(traceback_);
}

bool Interrupt::arm(RunOptions& options) {
  const int main = on_main_thread();
  if (main < 0) return false;
  options.cancel = &cancel;
  if (main == 1) {
    options.poll = &Interrupt::poll;
    options.poll_arg = this;
  }
  return true;
}

bool Interrupt::poll(void* self) {
  auto& it = *static_cast<Interrupt*>(self);
  const int64_t now = now_ns();
  if (now < it.next_check_) return false;
  it.next_check_ = now + CHECK_EVERY_NS;
  const PyGILState_STATE state = PyGILState_Ensure();
  const bool raised = PyErr_CheckSignals() < 0;
  if (raised && it.type_ == nullptr) PyErr_Fetch(&it.type_, &it.value_, &it.traceback_);
  PyErr_Clear();  // a second raise while the first is kept
  PyGILState_Release(state);
  if (raised) it.cancel.store(true, std::memory_order_relaxed);
  return raised;
}

bool Interrupt::raise_if_interrupted() {
  if (!cancel.load(std::memory_order_relaxed)) return false;
  if (type_ != nullptr) {
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
  } else {  // the handler's exception could not be kept
    PyErr_SetNone(PyExc_KeyboardInterrupt);
  }
  return true;
}

}  // namespace vexlor::columnar::py
