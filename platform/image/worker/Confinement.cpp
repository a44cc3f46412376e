// The decode worker's confinement: namespaces and the system-call filter.
#include "platform/image/worker/Confinement.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lg::image {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The calls a decode makes: reading what it was handed (and the libraries,
// tables and fonts it opens for reading), memory, threads, time, signals and
// the socket to the program. Anything else fails with EPERM.
constexpr const char *allowedCalls[] = {
    "read", "readv", "pread64", "preadv", "preadv2", "write", "writev", "pwrite64", "pwritev", "lseek",
    "close", "close_range", "fstat", "newfstatat", "statx", "stat", "lstat", "fstatfs", "statfs", "access",
    "faccessat", "faccessat2", "readlink", "readlinkat", "getdents64", "getcwd", "fcntl", "dup", "dup2", "dup3",
    "memfd_create", "ftruncate", "fadvise64", "mmap", "munmap", "mremap", "mprotect", "madvise", "mincore", "brk",
    "futex", "set_robust_list", "get_robust_list", "rseq", "clone", "clone3", "exit", "exit_group",
    "set_tid_address", "sched_yield", "sched_getaffinity", "sched_getparam", "sched_getscheduler", "nanosleep",
    "clock_nanosleep", "clock_gettime", "clock_getres", "gettimeofday", "time", "rt_sigaction", "rt_sigprocmask",
    "rt_sigreturn", "sigaltstack", "tgkill", "getpid", "gettid", "getppid", "getuid", "geteuid", "getgid",
    "getegid", "getresuid", "getresgid", "getrandom", "uname", "sysinfo", "sendmsg", "recvmsg", "sendto",
    "recvfrom", "poll", "ppoll", "select", "pselect6", "eventfd2", "pipe2", "epoll_create1", "epoll_ctl",
    "epoll_wait", "epoll_pwait", "membarrier", "getrlimit", "restart_syscall", "getpriority", "sched_get_priority_max",
    "sched_get_priority_min", "shutdown", "times", "getrusage",
};

// What Landlock keeps a worker from doing outside its scratch folder (the
// rights of its first version: a worker never needs the later ones).
constexpr quint64 writeRights = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR
    | LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR
    | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO
    | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;

// Writes only beneath scratch from now on; the reason when that cannot be held.
QString heldToScratch(const QByteArray &scratch)
{
    if (scratch.isEmpty())
        return QStringLiteral("it has no scratch folder");
    landlock_ruleset_attr attributes {};
    attributes.handled_access_fs = writeRights;
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0));
    if (ruleset < 0)
        return QStringLiteral("Landlock: %1").arg(systemError(errno));
    QString refused;
    landlock_path_beneath_attr beneath {};
    beneath.allowed_access = writeRights;
    beneath.parent_fd = ::open(scratch.constData(), O_PATH | O_CLOEXEC | O_DIRECTORY);
    if (beneath.parent_fd < 0 || ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) != 0
        || ::syscall(SYS_landlock_restrict_self, ruleset, 0) != 0)
        refused = QStringLiteral("Landlock: %1").arg(systemError(errno));
    if (beneath.parent_fd >= 0)
        ::close(beneath.parent_fd);
    ::close(ruleset);
    return refused;
}

QString filtered(bool writesHeld)
{
    const scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return QStringLiteral("without a system-call filter (it could not be made)");
    int failure = 0;
    const auto allow = [&](int call, unsigned count = 0, const scmp_arg_cmp *args = nullptr) {
        if (call >= 0 || call < -1) {
            const int result = count > 0 ? seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, count, args)
                                         : seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
            if (result != 0 && failure == 0)
                failure = -result;
        }
    };
    for (const char *name : allowedCalls) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR)
            allow(call);
    }
    if (writesHeld) {
        // Landlock keeps writes within the scratch folder.
        for (const char *name : {"openat", "open", "unlink", "unlinkat", "mkdir", "mkdirat", "rename", "renameat",
                                 "renameat2", "rmdir"})
            allow(seccomp_syscall_resolve_name(name));
    } else {
        // Files are opened for reading only, never made.
        // (O_TMPFILE needs O_WRONLY or O_RDWR; its own bits hold O_DIRECTORY.)
        const scmp_datum_t writes = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
        const scmp_arg_cmp readOnlyAt[] = {SCMP_A2(SCMP_CMP_MASKED_EQ, writes, 0)};
        allow(seccomp_syscall_resolve_name("openat"), 1, readOnlyAt);
        const scmp_arg_cmp readOnly[] = {SCMP_A1(SCMP_CMP_MASKED_EQ, writes, 0)};
        allow(seccomp_syscall_resolve_name("open"), 1, readOnly);
    }
    // Limits are read, never set.
    const scmp_arg_cmp readLimit[] = {SCMP_A2(SCMP_CMP_EQ, 0)};
    allow(seccomp_syscall_resolve_name("prlimit64"), 1, readLimit);
    // A thread's name, and whether a terminal is there.
    for (const scmp_datum_t option : {scmp_datum_t(PR_SET_NAME), scmp_datum_t(PR_GET_NAME), scmp_datum_t(PR_GET_DUMPABLE)}) {
        const scmp_arg_cmp prctlOption[] = {SCMP_A0(SCMP_CMP_EQ, option)};
        allow(seccomp_syscall_resolve_name("prctl"), 1, prctlOption);
    }
    const scmp_arg_cmp terminal[] = {SCMP_A1(SCMP_CMP_EQ, TCGETS)};
    allow(seccomp_syscall_resolve_name("ioctl"), 1, terminal);
    if (failure == 0)
        failure = -seccomp_load(filter);
    seccomp_release(filter);
    return failure == 0 ? QString() : QStringLiteral("without a system-call filter (%1)").arg(systemError(failure));
}

} // namespace

QString confineDecodeWorker(const QByteArray &scratch)
{
    QStringList refused;
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        refused << QStringLiteral("without namespaces of their own (%1)").arg(systemError(errno));
    const QString scratchRefused = heldToScratch(scratch);
    if (!scratchRefused.isEmpty())
        refused << QStringLiteral("without a folder of their own to write in (%1), so pictures that ImageMagick "
                                  "reads through temporary files (OpenEXR, some PSD) are not shown")
                       .arg(scratchRefused);
    if (const QString filter = filtered(scratchRefused.isEmpty()); !filter.isEmpty())
        refused << filter;
    return refused.join(QStringLiteral(" and "));
}

} // namespace lg::image
