#include "verify/Sandbox.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace zx::verify {
namespace {

#if defined(__x86_64__)
constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
#error "the system call filter knows x86-64 and AArch64"
#endif

bool Limit(int resource, rlim_t soft, rlim_t hard, const char* what, std::string* why) {
    rlimit old{};
    getrlimit(resource, &old);
    // A limit is only ever lowered: an unprivileged process cannot raise its hard limit.
    rlimit l{std::min(soft, old.rlim_max), std::min(hard, old.rlim_max)};
    if (setrlimit(resource, &l) == 0) return true;
    if (why) *why = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// The filter, built as a list of instructions.
class TFilter {
public:
    void Add(sock_filter f) { code_.push_back(f); }
    void Load(uint32_t offset) { Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
    void Return(uint32_t value) { Add(BPF_STMT(BPF_RET | BPF_K, value)); }
    // Refuses the call nr outright.
    void Refuse(long nr, int error) {
        Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 1));
        Return(SECCOMP_RET_ERRNO | static_cast<uint32_t>(error));
    }
    // Refuses the call nr when its argument arg has any of the bits; the number is loaded again
    // after the test.
    void RefuseWithBits(long nr, int arg, uint32_t bits) {
        Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 3));
        Load(static_cast<uint32_t>(offsetof(seccomp_data, args) + 8 * static_cast<size_t>(arg)));
        Add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 0, 1));
        Return(SECCOMP_RET_ERRNO | EPERM);
        Load(static_cast<uint32_t>(offsetof(seccomp_data, nr)));
    }
    // Without the bits the call is refused (a clone that is not a thread).
    void RefuseWithoutBits(long nr, int arg, uint32_t bits) {
        Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 3));
        Load(static_cast<uint32_t>(offsetof(seccomp_data, args) + 8 * static_cast<size_t>(arg)));
        Add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 1, 0));
        Return(SECCOMP_RET_ERRNO | EPERM);
        Load(static_cast<uint32_t>(offsetof(seccomp_data, nr)));
    }
    std::vector<sock_filter>& Code() { return code_; }

private:
    std::vector<sock_filter> code_;
};

}  // namespace

namespace {

void Say(const char* text) {
    const size_t n = std::strlen(text);
    if (write(2, text, n) < 0) {
        // Nothing more to be done in a signal handler.
    }
}

extern "C" void OnCpuLimit(int) {
    Say("refused: limit: CPU time\n");
    _exit(3);
}

extern "C" void OnWallLimit(int) {
    Say("refused: limit: time\n");
    _exit(3);
}

}  // namespace

void InstallLimitHandlers(unsigned wallSeconds) {
    signal(SIGXCPU, OnCpuLimit);
    signal(SIGALRM, OnWallLimit);
    // A file that may not grow fails the write instead of ending the process unannounced.
    signal(SIGXFSZ, SIG_IGN);
    if (wallSeconds) alarm(wallSeconds);
}

bool SetLimits(const TLimits& limits, std::string* why) {
    bool ok = Limit(RLIMIT_CPU, limits.CpuSeconds, limits.CpuSeconds + 1, "CPU time", why) &&
              Limit(RLIMIT_CORE, 0, 0, "core dumps", why) &&
              Limit(RLIMIT_NOFILE, limits.OpenFiles, limits.OpenFiles, "open files", why);
    const rlim_t fsize = IsRegularFile(1) || IsRegularFile(2) ? 64 << 10 : 0;
    ok = ok && Limit(RLIMIT_FSIZE, fsize, fsize, "file size", why);
#if !defined(__SANITIZE_ADDRESS__)
    ok = ok && Limit(RLIMIT_AS, limits.AddressSpace, limits.AddressSpace, "address space", why);
#endif
    return ok;
}

bool LockDown(std::string* why) {
    TFilter f;
    f.Load(offsetof(seccomp_data, arch));
    f.Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
    f.Return(SECCOMP_RET_KILL_PROCESS);
    f.Load(offsetof(seccomp_data, nr));
    // x32 calls on x86-64 carry this bit: none is wanted.
#if defined(__x86_64__)
    f.Add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
    f.Return(SECCOMP_RET_ERRNO | EPERM);
#endif
    constexpr uint32_t kWrites = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    for (long nr : {
#ifdef __NR_socket
             long{__NR_socket}, long{__NR_socketpair}, long{__NR_connect}, long{__NR_bind},
                 long{__NR_listen}, long{__NR_accept}, long{__NR_accept4},
#endif
#ifdef __NR_creat
                 long{__NR_creat}, long{__NR_rename}, long{__NR_unlink}, long{__NR_mkdir},
                 long{__NR_rmdir}, long{__NR_link}, long{__NR_symlink}, long{__NR_fork},
                 long{__NR_vfork}, long{__NR_chmod}, long{__NR_chown}, long{__NR_mknod},
                 long{__NR_truncate},
#endif
                 long{__NR_renameat}, long{__NR_renameat2}, long{__NR_unlinkat}, long{__NR_mkdirat},
                 long{__NR_linkat}, long{__NR_symlinkat}, long{__NR_execve}, long{__NR_execveat},
                 long{__NR_fchmodat}, long{__NR_fchownat}, long{__NR_mknodat},
#if !defined(__SANITIZE_ADDRESS__)
                 long{__NR_ptrace},
#endif
                 long{__NR_process_vm_writev}, long{__NR_memfd_create},
                 long{__NR_name_to_handle_at}, long {
                 __NR_open_by_handle_at
             }
         })
        f.Refuse(nr, EPERM);
    // Not inspectable (its flags sit in a structure): the C library falls back to openat, and
    // threads to clone.
    f.Refuse(__NR_openat2, ENOSYS);
    f.Refuse(__NR_clone3, ENOSYS);
#ifdef __NR_open
    f.RefuseWithBits(__NR_open, 1, kWrites);
#endif
    f.RefuseWithBits(__NR_openat, 2, kWrites);
#if defined(__SANITIZE_ADDRESS__)
    // The leak check at the end stops the world from a task that shares the memory and traces
    // the threads: in the sanitizer build memory-sharing clones and ptrace stay, and only a clone
    // of a process of its own (a fork) is refused.
    f.RefuseWithoutBits(__NR_clone, 0, CLONE_VM);
#else
    f.RefuseWithoutBits(__NR_clone, 0, CLONE_THREAD);
#endif
    f.Return(SECCOMP_RET_ALLOW);

    sock_fprog prog{static_cast<unsigned short>(f.Code().size()), f.Code().data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0) {
        if (why) *why = std::string("system call filter: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zx::verify
