// Win32 handles of the stand-in are pointers to these objects. Every live
// object is registered, so that a stale or made-up handle is recognised and
// answered with ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include "../windows.h"

enum class HandleKind {
    File,
    Find,
    RegistryKey,
    HashAlgorithm,
    Hash,
    SignatureAlgorithm,
    Key,
    Thread,
    Semaphore
};

struct HandleObject {
    HandleKind kind;
};

void RegisterHandle(HandleObject* object, HandleKind kind);

// The live object behind handle if it is of the given kind, else null.
HandleObject* FindHandle(const void* handle, HandleKind kind);

// Takes the object out of the register; false when it was not live.
bool UnregisterHandle(HandleObject* object);
