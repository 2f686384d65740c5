#pragma once
// Threads that outlive a call: a run over a table wakes sleeping helpers
// instead of starting and joining threads of its own.

namespace vexlor::columnar {

// Runs task(arg) on the calling thread and on up to `helpers` other threads at
// once, and returns when every one of those runs has returned. The task must
// share its work with any number of concurrent runs, including none: a helper
// that is busy with another call, or that cannot be started, is not waited for.
// Helpers come from a process-wide pool of at most one thread per core less
// one; any beyond it are started for the call. A helper spins 50 us after its
// job, then sleeps; a child process made by fork() starts a pool of its own.
void run_shared(unsigned helpers, void (*task)(void*), void* arg);

}  // namespace vexlor::columnar
