#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>
#include <utility>
#include <unistd.h>

namespace {

// The active object's pair: [0] is written by the handler, [1] read on the
// main thread; -1 when none.
int signalPipe[2] = {-1, -1};
// Where the handler writes: the active object's [0], or the one left open by
// an object that ended while its program was quitting on a signal; -1: none.
std::atomic<int> handlerFd{-1};
// What each handled signal did before; a signal ignored then stays ignored
// (started with nohup, or in the background of a shell).
struct sigaction previousActions[3];
bool installed[3] = {false, false, false};
// When the first handled signal came (CLOCK_MONOTONIC, ns; 0: none yet), and
// how long repeats are only forwarded after it. Written in the handler and by
// the constructor, before any handler is installed.
std::atomic<long long> firstSignalNs{0};
std::atomic<long long> graceNs{0};

long long monotonicNs()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);   // async-signal-safe
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const long long now = monotonicNs();
    long long first = 0;
    if (!firstSignalNs.compare_exchange_strong(first, now) && now - first > graceNs.load()) {
        // Long past the first request and still running: the default action,
        // as for a program that does not handle the signal.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signalNumber, &fallback, nullptr);
        ::raise(signalNumber);
        errno = savedErrno;
        return;
    }
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Async-signal-safe; a full pipe (signals faster than they are read) drops
    // the repeat, which asks for the same quit.
    // Nothing reads it once the object has gone: the send fails quietly.
    if (const int fd = handlerFd.load(); fd >= 0) {
        [[maybe_unused]] const ssize_t sent = ::send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    errno = savedErrno;
}

} // namespace

const int QuitSignals::handledSignals[3] = {SIGTERM, SIGINT, SIGHUP};

QuitSignals::QuitSignals(QObject *parent, int graceMs) : QObject(parent)
{
    setObjectName(QStringLiteral("QuitSignals"));
    if (signalPipe[0] != -1) {
        std::fprintf(stderr, "Termination signals are already handled\n");
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("Termination signals cannot be handled");
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    handlerFd.store(signalPipe[0]);
    m_notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readSignals);

    firstSignalNs.store(0);
    graceNs.store(static_cast<long long>(graceMs) * 1000000LL);
    // The handler stays: a repeat within the grace asks for the quit again.
    // The three signals are held off while one is handled.
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : handledSignals)
        sigaddset(&action.sa_mask, signalNumber);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        installed[i] = false;
        if (::sigaction(handledSignals[i], nullptr, &previousActions[i]) != 0
            || previousActions[i].sa_handler == SIG_IGN)
            continue;
        installed[i] = ::sigaction(handledSignals[i], &action, nullptr) == 0;
    }
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    if (firstSignalNs.load() != 0) {
        // The program is ending on a signal and this is the rest of its
        // teardown: the handlers stay, so that a repeat is still only a repeat
        // (dropped now). The end they write to stays open, so that its number
        // is never taken by a file the handler would then write into.
        for (bool &kept : installed)
            kept = false;
        ::close(signalPipe[1]);
    } else {
        for (int i = 0; i < 3; ++i)
            if (std::exchange(installed[i], false))
                ::sigaction(handledSignals[i], &previousActions[i], nullptr);
        handlerFd.store(-1);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
    }
    signalPipe[0] = signalPipe[1] = -1;
}

void QuitSignals::readSignals()
{
    unsigned char byte = 0;
    while (::read(signalPipe[1], &byte, 1) == 1)
        Q_EMIT quitRequested(int(byte));
}
