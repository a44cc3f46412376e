// The decode workers: started, granted, watched and ended by the program.
#include "platform/image/DecodeWorkers.h"

#include "platform/image/DecodeWait.h"

#include "platform/files/names/FileNames.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

#if defined(__SANITIZE_ADDRESS__)
#define LG_GRANT_BY_RESIDENT_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LG_GRANT_BY_RESIDENT_MEMORY 1
#endif
#endif

namespace lg::image {

namespace {

constexpr const char *workerFileName = "lumengallery-decoder";
// How many workers wait, warm, for the next request: one for every thread
// that may ask for a decode at once (the thumbnails wanted now, those made
// ahead of need, and the viewer's), so that a folder's first screen starts
// none past its first few. A worker ended for want of a place is started
// again for the next request: its program, Qt and every codec module it
// loads (each read whole and its digest checked) cost far more than a decode.
size_t keptIdle()
{
    static const size_t kept = [] {
        const int threads = std::max(1, QThread::idealThreadCount());
        return size_t(2 * std::max(2, threads - 1) + std::max(2, std::min(4, threads)));
    }();
    return kept;
}
// How often a wait looks at the quit, the clock (and the worker's memory).
constexpr int lookEveryMs = 20;
// The most any decode may be granted (the viewer's one picture): the bound
// no grant set later may pass.
constexpr qint64 largestGrant = 2LL << 30;
// The bound on a worker's data that no grant passes, set once at its start.
constexpr qint64 hardDataBound = largestGrant + workerGrantSlack * 4;
// How long a worker may take to start.
constexpr int startLimitMs = 10000;

struct Worker
{
    pid_t pid = -1;
    int socket = -1;
    QString scratch;   // the folder it writes in
    int nice = 0;      // its scheduling priority: that of the thread that started it
};

// The nice value of the calling thread (on Linux each thread has its own; a
// process started from it inherits it). Work made ahead of need runs niced.
int threadNice()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    return errno == 0 ? nice : 0;
}

struct Workers
{
    std::mutex lock;
    std::vector<Worker> idle;
    std::vector<pid_t> alive;
    QString programForTesting;
    std::function<qint64()> clockForTesting;
    bool resolved = false;
    QString program;
    std::once_flag toldUnconfined;
};

Workers &workers()
{
    static Workers *made = new Workers;  // kept to the end: requests may run while statics go
    return *made;
}

std::atomic<bool> &decodingHere()
{
    static std::atomic<bool> here {false};
    return here;
}

// The worker program: the test's, else the first trusted module folder that
// holds one, found once. Called with the lock held.
QString resolvedProgram(Workers &all)
{
    if (!all.programForTesting.isEmpty())
        return all.programForTesting;
    if (!all.resolved) {
        all.resolved = true;
        for (const QString &folder : moduleFolders()) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(workerFileName);
            if (::access(FileNames::toNative(path).constData(), X_OK) != 0 || !untrustedFolderReason(folder).isEmpty())
                continue;
            all.program = path;
            break;
        }
        if (all.program.isEmpty())
            printLine(QStringLiteral("The decode worker %1 was not found beside the codec modules: pictures cannot be decoded.")
                          .arg(QLatin1String(workerFileName)));
    }
    return all.program;
}

void forget(pid_t pid)
{
    Workers &all = workers();
    const std::lock_guard guard(all.lock);
    std::erase(all.alive, pid);
}

// Ends worker and waits for it; how it ended, as a request's end.
WorkerEnd endWorker(const Worker &worker, bool kill)
{
    if (kill)
        ::kill(worker.pid, SIGKILL);
    ::close(worker.socket);
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(worker.pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    forget(worker.pid);
    removeDecoderScratch(worker.scratch);
    if (got == worker.pid && WIFEXITED(status) && WEXITSTATUS(status) == workerOverGrantStatus)
        return WorkerEnd::OverGrant;
    return WorkerEnd::Crashed;
}

// A field of /proc/PID/status (or another such file) in bytes (VmData,
// VmRSS, Pss); -1 when unknown.
qint64 statusBytes(pid_t pid, const char *field, const char *file = "status")
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

bool waitReadable(int socket, int ms)
{
    pollfd entry {socket, POLLIN, 0};
    return ::poll(&entry, 1, ms) > 0;
}

// A new worker, greeted; pid -1 when none could be started.
Worker started()
{
    Workers &all = workers();
    QString program;
    QStringList folders;
    {
        const std::lock_guard guard(all.lock);
        program = resolvedProgram(all);
    }
    if (program.isEmpty())
        return {};
    folders = moduleFolders();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return {};
    // The worker finds the codec modules in the program's folders, named absolutely.
    std::vector<QByteArray> arguments {QFile::encodeName(QLatin1String(workerFileName))};
    for (const QString &folder : folders)
        arguments.push_back(FileNames::toNative(folder));
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray path = FileNames::toNative(program);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 3);
    // The socket alone: the worker holds no other file of the program's.
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Signals the program blocks or ignores are the worker's own again.
    sigset_t none, every;
    sigemptyset(&none);
    sigfillset(&every);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &every);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        return {};
    }
    Worker worker {pid, pair[0], QString(), threadNice()};
    {
        const std::lock_guard guard(all.lock);
        all.alive.push_back(pid);
    }
#ifndef LG_GRANT_BY_RESIDENT_MEMORY
    // No later grant may pass this; the worker cannot raise it.
    const rlimit bound {rlim_t(hardDataBound), rlim_t(hardDataBound)};
    ::prlimit(pid, RLIMIT_DATA, &bound, nullptr);
#endif
    QElapsedTimer clock;
    clock.start();
    while (!waitReadable(worker.socket, lookEveryMs)) {
        if (isShuttingDown() || clock.elapsed() > startLimitMs) {
            endWorker(worker, true);
            return {};
        }
    }
    QString unconfined;
    if (!receiveGreeting(worker.socket, &worker.scratch, &unconfined)) {
        endWorker(worker, true);
        return {};
    }
    if (!unconfined.isEmpty())
        std::call_once(all.toldUnconfined, [&] { printLine(QStringLiteral("Decode workers run %1.").arg(unconfined)); });
    return worker;
}

// A waiting worker of the caller's priority (a decode wanted now never waits
// on a worker niced for work ahead of need), else a new one.
Worker taken()
{
    Workers &all = workers();
    const int nice = threadNice();
    {
        const std::lock_guard guard(all.lock);
        for (auto worker = all.idle.rbegin(); worker != all.idle.rend(); ++worker) {
            if (worker->nice == nice) {
                const Worker found = *worker;
                all.idle.erase(std::next(worker).base());
                return found;
            }
        }
    }
    return started();
}

void giveBack(const Worker &worker)
{
    Workers &all = workers();
    {
        const std::lock_guard guard(all.lock);
        if (all.idle.size() < keptIdle() && !isShuttingDown()) {
            all.idle.push_back(worker);
            return;
        }
    }
    endWorker(worker, true);
}

} // namespace

bool decodesInThisProcess()
{
    return decodingHere().load(std::memory_order_relaxed);
}

void setDecodesInThisProcess(bool here)
{
    decodingHere().store(here);
}

WorkerReply decodeInWorker(const WorkerTask &task, int fileDescriptor, qint64 grantBytes, int timeLimitMs,
                           DecodeWait *wait)
{
    return decodeSeriesInWorker(task, fileDescriptor, grantBytes, timeLimitMs, {}, nullptr, wait);
}

WorkerReply decodeSeriesInWorker(const WorkerTask &task, int fileDescriptor, qint64 grantBytes, int timeLimitMs,
                                 const std::function<bool(WorkerReply &part)> &part, const std::atomic<bool> *stop,
                                 DecodeWait *wait)
{
    WorkerReply reply;
    if (isShuttingDown()) {
        reply.end = WorkerEnd::Stopped;
        return reply;
    }
    Worker worker = taken();
    if (worker.pid < 0) {
        reply.end = isShuttingDown() ? WorkerEnd::Stopped : WorkerEnd::Unavailable;
        return reply;
    }
    const qint64 grant = std::clamp<qint64>(grantBytes, 0, largestGrant) + workerGrantSlack;
#ifdef LG_GRANT_BY_RESIDENT_MEMORY
    // Its peak counts from now (clear_refs 5 sets it to what it holds now).
    QFile peak(QStringLiteral("/proc/%1/clear_refs").arg(worker.pid));
    if (peak.open(QIODevice::WriteOnly))
        peak.write("5");
    peak.close();
    const qint64 residentBound = std::max<qint64>(0, statusBytes(worker.pid, "VmRSS")) + grant;
    const auto overBound = [&] { return statusBytes(worker.pid, "VmHWM") > residentBound; };
#else
    // What it holds now (libraries, what earlier decodes left in its heap) and the grant.
    const qint64 data = statusBytes(worker.pid, "VmData");
    const rlimit limit {rlim_t(std::min(std::max<qint64>(0, data) + grant, hardDataBound)), rlim_t(hardDataBound)};
    if (data < 0 || ::prlimit(worker.pid, RLIMIT_DATA, &limit, nullptr) != 0) {
        reply.end = endWorker(worker, true) == WorkerEnd::OverGrant ? WorkerEnd::OverGrant : WorkerEnd::Crashed;
        return reply;
    }
#endif
    if (!sendTask(worker.socket, task, fileDescriptor)) {
        reply.end = endWorker(worker, true);
        return reply;
    }
    std::function<qint64()> clock;
    {
        const std::lock_guard guard(workers().lock);
        clock = workers().clockForTesting;
    }
    QElapsedTimer realClock;
    realClock.start();
    if (!clock)
        clock = [&realClock] { return realClock.elapsed(); };
    qint64 began = clock();
    for (;;) {
        pollfd entry {worker.socket, POLLIN, 0};
        const int ready = ::poll(&entry, 1, lookEveryMs);
        if (ready > 0) {
            if ((entry.revents & POLLIN) && receiveReply(worker.socket, &reply)) {
#ifdef LG_GRANT_BY_RESIDENT_MEMORY
                if (overBound()) {
                    endWorker(worker, true);
                    reply = WorkerReply {};
                    reply.end = WorkerEnd::OverGrant;
                    return reply;
                }
#endif
                if (reply.end == WorkerEnd::More) {
                    // A part of a series: the worker goes on unless the rest is unwanted.
                    const bool wanted = part && part(reply);
                    reply = WorkerReply {};
                    if (!wanted) {
                        endWorker(worker, true);
                        reply.end = part ? WorkerEnd::Done : WorkerEnd::Failed;
                        return reply;
                    }
                    began = clock();   // and the quit is looked at before the next part
                } else {
                    giveBack(worker);
                    return reply;
                }
            } else {
                reply = WorkerReply {};
                reply.end = endWorker(worker, false);
                return reply;
            }
        }
        const bool unwanted = stop && stop->load();
        if (isShuttingDown() || unwanted || (wait && wait->stopped())) {
            endWorker(worker, true);
            reply.end = unwanted && !isShuttingDown() ? WorkerEnd::Done : WorkerEnd::Stopped;
            return reply;
        }
        const bool pastTime = timeLimitMs > 0 && clock() - began > timeLimitMs;
        if (pastTime && wait) {
            // Its caller offers to keep waiting: the worker runs on meanwhile.
            if (wait->pastTime())
                began = clock();
        } else if (pastTime) {
            endWorker(worker, true);
            reply.end = WorkerEnd::TimedOut;
            return reply;
        }
#ifdef LG_GRANT_BY_RESIDENT_MEMORY
        if (overBound()) {
            endWorker(worker, true);
            reply.end = WorkerEnd::OverGrant;
            return reply;
        }
#endif
    }
}

qint64 viewerDecodeGrant()
{
    qint64 available = 0;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:"))
                available = line.mid(13).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return std::min(available / 5 * 4, largestGrant);
}

void warmUpDecodeWorkers()
{
    if (decodesInThisProcess())
        return;
    {
        Workers &all = workers();
        const std::lock_guard guard(all.lock);
        if (!all.idle.empty() || !all.alive.empty())
            return;
    }
    (void)runOnPool([] {
        const Worker worker = started();
        if (worker.pid >= 0)
            giveBack(worker);
    });
}

QList<pid_t> decodeWorkerIds()
{
    Workers &all = workers();
    const std::lock_guard guard(all.lock);
    return QList<pid_t>(all.alive.begin(), all.alive.end());
}

qint64 residentBytesWithWorkers()
{
    // Proportional: the pages of the libraries they share count once.
    qint64 total = std::max<qint64>(0, statusBytes(::getpid(), "Pss", "smaps_rollup"));
    for (const pid_t pid : decodeWorkerIds())
        total += std::max<qint64>(0, statusBytes(pid, "Pss", "smaps_rollup"));
    return total;
}

void endIdleDecodeWorkers()
{
    Workers &all = workers();
    std::vector<Worker> idle;
    {
        const std::lock_guard guard(all.lock);
        idle.swap(all.idle);
    }
    for (const Worker &worker : idle)
        endWorker(worker, true);
}

void removeDecoderScratch(const QString &folder)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray parent = runtime.startsWith('/') ? runtime : QByteArray("/tmp");
    const QByteArray path = FileNames::toNative(folder);
    const QByteArray prefix = parent + "/lumengallery-decoder-";
    if (!path.startsWith(prefix) || path.size() != prefix.size() + 6 || path.indexOf('/', prefix.size()) >= 0)
        return;
    const int dir = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return;
    // Only what stands in it: the temporaries, never a folder or what a link leads to.
    if (DIR *entries = ::fdopendir(::fcntl(dir, F_DUPFD_CLOEXEC, 0))) {
        while (const dirent *entry = ::readdir(entries)) {
            struct stat st {};
            if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                ::unlinkat(dir, entry->d_name, 0);
        }
        ::closedir(entries);
    }
    ::close(dir);
    ::rmdir(path.constData());
}

void setDecodeClockForTesting(std::function<qint64()> clock)
{
    Workers &all = workers();
    const std::lock_guard guard(all.lock);
    all.clockForTesting = std::move(clock);
}

void setDecodeWorkerProgramForTesting(const QString &program)
{
    endIdleDecodeWorkers();
    Workers &all = workers();
    const std::lock_guard guard(all.lock);
    all.programForTesting = program;
}

} // namespace lg::image
