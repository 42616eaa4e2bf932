// The process-wide list of live dispatchers. A dispatcher's index in it is
// its DispatcherHandle, which trigger messages carry in the high 16 bits of
// lParam so the hidden window can find the dispatcher again.
#pragma once

#include <mutex>

namespace sio {

class TSioBaseDispatcher;

// The port-list lock. The hidden window's procedure holds it while a trigger
// handler runs; the only nesting allowed under it is DispatchLock.
std::recursive_mutex& PortListLock();

// Takes the first empty slot, else appends; returns the slot index.
int PortListAdd(TSioBaseDispatcher* dispatcher);

// Empties the slot and drops trailing empty slots.
void PortListRemove(int handle);

// The dispatcher in the slot, or nullptr for an empty or unknown slot.
// Call it under PortListLock() and keep the lock while using the result.
TSioBaseDispatcher* PortListAt(int handle);

// Number of slots, empty ones included.
int PortListSize();

}  // namespace sio
