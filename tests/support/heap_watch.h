// A heap watch for the length of one scope (see heap.h).
#pragma once

#include "heap.h"

class ScopedHeapWatch {
  public:
    explicit ScopedHeapWatch(const HeapWatch& watch)
        : watch_(watch), previous_(WatchHeap(&watch_)) {}
    ~ScopedHeapWatch() { WatchHeap(previous_); }
    ScopedHeapWatch(const ScopedHeapWatch&) = delete;
    ScopedHeapWatch& operator=(const ScopedHeapWatch&) = delete;

  private:
    HeapWatch watch_;
    const HeapWatch* previous_;
};
