#pragma once
// Signals (Ctrl-C) during a run that goes on without the interpreter lock.
// Made and armed with the lock held, on the thread that then releases it and
// runs; that thread polls between its blocks, taking the lock only for that
// moment. When a signal handler raises, the run is cancelled and the handler's
// exception is kept for the caller.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "columnar/runner.hpp"

namespace vexlor::columnar::py {

class Interrupt {
 public:
  Interrupt() = default;
  Interrupt(const Interrupt&) = delete;
  Interrupt& operator=(const Interrupt&) = delete;
  ~Interrupt();

  // Sets the options' cancel flag and poll to this object's (no poll on a
  // thread other than the main one, which never runs signal handlers). May run
  // Python code (once per process); false with the error set.
  bool arm(RunOptions& options);
  // RunOptions::poll: at most every few milliseconds, runs the signal handlers;
  // true when one raised (the cancel flag is then set, so that every thread stops).
  static bool poll(void* self);
  // With the lock held again: true, and the kept exception set as the current
  // error, when a handler raised during the run.
  bool raise_if_interrupted();

  std::atomic<bool> cancel{false};

 private:
  PyObject *type_ = nullptr, *value_ = nullptr, *traceback_ = nullptr;  // the handler's exception, owned
  int64_t next_check_ = 0;         // coarse monotonic time, ns
};

}  // namespace vexlor::columnar::py
