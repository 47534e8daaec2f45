#include "handle_objects.h"

#include <mutex>

namespace {

std::mutex& RegisterLock() {
    static std::mutex lock;
    return lock;
}

HandleObject* liveObjects = nullptr;

} // namespace

void RegisterHandle(HandleObject* object, HandleKind kind) {
    std::lock_guard<std::mutex> guard(RegisterLock());
    object->kind = kind;
    object->next = liveObjects;
    liveObjects = object;
}

HandleObject* FindHandle(const void* handle, HandleKind kind) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    std::lock_guard<std::mutex> guard(RegisterLock());
    for (HandleObject* object = liveObjects; object != nullptr; object = object->next) {
        if (object == handle)
            return object->kind == kind ? object : nullptr;
    }
    return nullptr;
}

bool UnregisterHandle(HandleObject* object) {
    std::lock_guard<std::mutex> guard(RegisterLock());
    for (HandleObject** link = &liveObjects; *link != nullptr; link = &(*link)->next) {
        if (*link == object) {
            *link = object->next;
            return true;
        }
    }
    return false;
}
