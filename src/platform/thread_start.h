#pragma once
// How both platforms' NativeThread::start hands the entry to the new thread: on the heap,
// since the starting call may return before the thread runs.

#include "platform/native_thread.h"

namespace zorvia::platform::thread_start {

struct Record {
  NativeThread::Entry entry;
  void* argument;
};

// The new thread's first step: takes the record over (freeing it), then runs its entry.
void run(void* record);

}  // namespace zorvia::platform::thread_start
