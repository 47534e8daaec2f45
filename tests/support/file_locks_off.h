// A process in which file locks do not work, as on a file system without
// them: a seccomp filter makes every fcntl lock call fail with ENOLCK, for
// the process and for every program it starts. Linux only.
#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#if defined(__x86_64__)
#define FILE_LOCKS_OFF_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define FILE_LOCKS_OFF_ARCH AUDIT_ARCH_AARCH64
#endif

// Turns file locks off for good; call it in a child process only. False
// where that cannot be done (another architecture, no seccomp).
inline bool TurnFileLocksOff() {
#if defined(FILE_LOCKS_OFF_ARCH) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The command is the low half of the second argument.
    const unsigned kCommand = offsetof(struct seccomp_data, args[1]);
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, FILE_LOCKS_OFF_ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fcntl, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kCommand),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_OFD_SETLK, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_OFD_SETLKW, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_OFD_GETLK, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_SETLK, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_SETLKW, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_GETLK, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOLCK & SECCOMP_RET_DATA)),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])),
                                 filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    return false;
#endif
}
