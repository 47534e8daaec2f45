#include "handle_objects.h"

#include <mutex>
#include <unordered_set>

namespace {

std::mutex& RegisterLock() {
    static std::mutex lock;
    return lock;
}

// A run may hold hundreds of thousands of handles at once, and close them
// in any order: looking one up costs the same however many there are.
std::unordered_set<const void*>& LiveObjects() {
    static std::unordered_set<const void*>* objects = new std::unordered_set<const void*>;
    return *objects;
}

} // namespace

void RegisterHandle(HandleObject* object, HandleKind kind) {
    std::lock_guard<std::mutex> guard(RegisterLock());
    object->kind = kind;
    LiveObjects().insert(object);
}

HandleObject* FindHandle(const void* handle, HandleKind kind) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    std::lock_guard<std::mutex> guard(RegisterLock());
    if (LiveObjects().count(handle) == 0)
        return nullptr;
    HandleObject* object = static_cast<HandleObject*>(const_cast<void*>(handle));
    return object->kind == kind ? object : nullptr;
}

bool UnregisterHandle(HandleObject* object) {
    std::lock_guard<std::mutex> guard(RegisterLock());
    return LiveObjects().erase(object) != 0;
}
