#include "serial/core/port_list.h"

#include <vector>

namespace sio {

namespace {

std::vector<TSioBaseDispatcher*>& Slots() {
    static std::vector<TSioBaseDispatcher*> slots;
    return slots;
}

}  // namespace

std::recursive_mutex& PortListLock() {
    static std::recursive_mutex lock;
    return lock;
}

int PortListAdd(TSioBaseDispatcher* dispatcher) {
    std::lock_guard lock(PortListLock());
    auto& slots = Slots();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr) {
            slots[i] = dispatcher;
            return static_cast<int>(i);
        }
    }
    slots.push_back(dispatcher);
    return static_cast<int>(slots.size() - 1);
}

void PortListRemove(int handle) {
    std::lock_guard lock(PortListLock());
    auto& slots = Slots();
    if (handle < 0 || handle >= static_cast<int>(slots.size())) return;
    slots[handle] = nullptr;
    while (!slots.empty() && slots.back() == nullptr) slots.pop_back();
}

TSioBaseDispatcher* PortListAt(int handle) {
    std::lock_guard lock(PortListLock());
    auto& slots = Slots();
    if (handle < 0 || handle >= static_cast<int>(slots.size())) return nullptr;
    return slots[handle];
}

int PortListSize() {
    std::lock_guard lock(PortListLock());
    return static_cast<int>(Slots().size());
}

}  // namespace sio
