#include "model/FolderMonitor.h"

#include "platform/runtime/Console.h"
#include "platform/files/names/FileNames.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

using lg::printLine;

namespace {

// Changes of the folder's entries, and the end of writing a file, which counts
// only for a file created or changed while open (a file opened for writing and
// closed again without a change is no change). Content writes are reported when
// the writer closes the file, so a long copy does not report every single write.
// The folder itself renamed, moved or removed changes what its path lists too.
constexpr uint32_t entryChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr uint32_t watchedEvents = entryChanges | IN_MODIFY | IN_CLOSE_WRITE;
// Files being written, at most this many are remembered.
constexpr qsizetype maxFilesBeingWritten = 4096;

} // namespace

FolderMonitor::FolderMonitor(const QUrl &url, std::function<void()> handler)
    : m_url(url), m_handler(std::move(handler))
{
    start();
}

FolderMonitor::~FolderMonitor()
{
    release();
}

void FolderMonitor::start()
{
    if (m_state == State::on)
        return;
    m_state = State::on;
    open();
}

void FolderMonitor::stop()
{
    if (m_state == State::off)
        return;
    m_state = State::off;
    release();
}

bool FolderMonitor::open()
{
    const QString path = m_url.isLocalFile() ? lg::FileNames::pathOf(m_url) : QString();
    const QByteArray encoded = lg::FileNames::toNative(path);
    int error = ENOENT;
    if (!encoded.isEmpty()) {
        descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor < 0) {
            error = errno;
        } else {
            watch = ::inotify_add_watch(descriptor, encoded.constData(), watchedEvents | IN_ONLYDIR);
            if (watch < 0)
                error = errno;
        }
    }
    if (descriptor < 0 || watch < 0) {
        release();
        const QByteArray shown = encoded.isEmpty() ? m_url.toEncoded() : encoded;
        printLine("Cannot monitor folder " + shown + ": " + std::strerror(error));
        return false;
    }

    source = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    QObject::connect(source, &QSocketNotifier::activated, source, [this] { readEvents(); });
    return true;
}

void FolderMonitor::release()
{
    if (source) {
        // The notifier may be the one delivering right now: let it go once it is done.
        source->setEnabled(false);
        QObject::disconnect(source, nullptr, nullptr, nullptr);
        source->deleteLater();
        source = nullptr;
    }
    if (descriptor >= 0) {
        if (watch >= 0)
            ::inotify_rm_watch(descriptor, watch);
        ::close(descriptor);
    }
    descriptor = -1;
    watch = -1;
    m_filesBeingWritten.clear();
}

void FolderMonitor::readEvents()
{
    // Take everything that is waiting, then report once.
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    bool left = false;
    bool failed = false;
    for (;;) {
        const ssize_t length = ::read(descriptor, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            failed = errno != EAGAIN;
            break;
        }
        if (length == 0)
            break;
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            const QByteArray name = event->len > 0 ? QByteArray(event->name) : QByteArray();
            if (event->mask & IN_Q_OVERFLOW) {
                changed = true;
                m_filesBeingWritten.clear();
            }
            if (event->mask & entryChanges)
                changed = true;
            if (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF))
                left = true;
            if ((event->mask & (IN_CREATE | IN_MODIFY)) && !(event->mask & IN_ISDIR) && !name.isEmpty()
                && m_filesBeingWritten.size() < maxFilesBeingWritten)
                m_filesBeingWritten.insert(name);
            if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                m_filesBeingWritten.remove(name);
            if ((event->mask & IN_CLOSE_WRITE) && m_filesBeingWritten.remove(name))
                changed = true;
            if (event->mask & IN_IGNORED) {
                // The folder itself is gone (deleted or unmounted): its watch ended.
                if (event->wd == watch)
                    watch = -1;
            }
            offset += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    if (failed || watch < 0) {
        // Nothing more will come; stop asking.
        if (source)
            source->setEnabled(false);
    }
    if (changed && m_state == State::on) {
        // Last step: the handlers may destroy this monitor.
        const std::function<void()> handler = m_handler;
        const std::function<void()> leftHandler = left ? m_leftHandler : std::function<void()>();
        if (handler)
            handler();
        if (leftHandler)
            leftHandler();
    }
}
