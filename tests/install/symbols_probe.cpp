// Takes the address of every public function as the exact function type a
// caller of the library declares: text parameters are char*, never const
// char*, because the types are part of the exported (mangled) names. The
// static_casts fail to compile if talvor/api.h declares any other type, and
// the compiler's references in this object are the names the library must
// export.
#include <talvor/api.h>

using text = char *;

void *const public_functions[] = {
    reinterpret_cast<void *>(static_cast<int (*)(text)>(&TalvorConnect)),
    reinterpret_cast<void *>(static_cast<void (*)()>(&TalvorDisconnect)),
    reinterpret_cast<void *>(static_cast<int (*)()>(&TalvorError)),
    reinterpret_cast<void *>(
        static_cast<int (*)(text, text, int, int, text, text, text)>(&TalvorSearch)),
    reinterpret_cast<void *>(static_cast<void (*)(int)>(&TalvorClose)),
    reinterpret_cast<void *>(static_cast<int (*)(int)>(&TalvorTotal)),
    reinterpret_cast<void *>(static_cast<void (*)(int, int)>(&TalvorSetCurrentPosition)),
    reinterpret_cast<void *>(static_cast<int (*)(int)>(&TalvorGetCurrentPosition)),
    reinterpret_cast<void *>(static_cast<int (*)(int)>(&TalvorLocked)),
    reinterpret_cast<void *>(static_cast<char *(*)(int, text)>(&TalvorGetValue)),
    reinterpret_cast<void *>(static_cast<void (*)(int, text, text)>(&TalvorSetValue)),
    reinterpret_cast<void *>(static_cast<void (*)(int)>(&TalvorCreateNewRecord)),
    reinterpret_cast<void *>(static_cast<void (*)(int)>(&TalvorRemoveRecord)),
    reinterpret_cast<void *>(static_cast<void (*)(int)>(&TalvorDeleteRecord)),
    reinterpret_cast<void *>(static_cast<void (*)(int, text)>(&TalvorSort)),
    reinterpret_cast<void *>(static_cast<int (*)(int, text)>(&TalvorSubSet)),
    reinterpret_cast<void *>(static_cast<int (*)(int)>(&TalvorParent)),
    reinterpret_cast<void *>(static_cast<void (*)(int, text, int)>(&TalvorReparent)),
    reinterpret_cast<void *>(static_cast<char *(*)(int, text, text, int)>(&TalvorRunProgram)),
};

// Linked, never run: the link itself shows every reference resolves.
int main() { return public_functions[0] == nullptr; }
