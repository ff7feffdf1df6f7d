#pragma once
// The verifier plays replays that strangers send: whatever a replay does, the process that plays
// it can neither run long, nor grow, nor write, nor reach the network. Limits first, then, once
// the game is set up, a system call filter.
#include <cstdint>
#include <string>

namespace zx::verify {

struct TLimits {
    uint64_t CpuSeconds = 10;
    // Address space. Left unlimited in a sanitizer build, whose shadow memory alone is terabytes
    // of address space.
    uint64_t AddressSpace = uint64_t{256} << 20;
    uint64_t OpenFiles = 64;
};

// Process limits: CPU seconds (SIGXCPU: the caller's handler ends it), address space, no core
// dumps, no file growth (a little where stdout or stderr is a regular file, so that a caller's
// redirection still gets the answer), at most OpenFiles descriptors. False with the reason when
// one cannot be set.
bool SetLimits(const TLimits& limits, std::string* why);

// SIGXCPU (the CPU limit) and SIGALRM (wallSeconds after now, none for 0) end the process with
// status 3 and "refused: limit: CPU time" or "refused: limit: time" on stderr.
void InstallLimitHandlers(unsigned wallSeconds);

// From now on, for this process and every thread: no sockets, no open that could write or
// create, no rename, link, removal or new folder, no new program, no new process (threads are
// allowed). A refused call fails with EPERM. False with the reason when the kernel refuses the
// filter.
bool LockDown(std::string* why);

}  // namespace zx::verify
