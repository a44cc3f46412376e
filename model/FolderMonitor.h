#pragma once
// Watches one folder and calls a handler on the main thread whenever an entry
// of the folder is created, deleted or renamed, when the folder itself is
// renamed, moved or removed, and when a file that was
// created or changed has been closed after writing (not for a file opened for
// writing and closed unchanged). Changes inside
// sub-folders are not seen. The handler is not told what changed; changes that
// arrive before the main thread gets to them come as one call.
//
// Made, started, stopped and destroyed on the main thread.
#include <QByteArray>
#include <QSet>
#include <QUrl>
#include <functional>

class QSocketNotifier;

class FolderMonitor
{
public:
    enum class State { on, off };

    // Starts watching the folder at once. A path that is not a readable folder
    // gives a monitor that never calls its handler (isValid() is false), and
    // prints one line saying so.
    FolderMonitor(const QUrl &url, std::function<void()> handler);
    // Stops watching; the handler is not called afterwards.
    ~FolderMonitor();

    FolderMonitor(const FolderMonitor &) = delete;
    FolderMonitor &operator=(const FolderMonitor &) = delete;

    // Watches the folder again after stop(); nothing when already on.
    void start();
    // Stops watching and releases the watch; nothing when already off.
    // Changes made while stopped are not reported.
    void stop();

    // Called on the main thread, after the change handler, when the watched
    // folder itself was renamed, moved or removed.
    void setFolderLeftHandler(std::function<void()> handler) { m_leftHandler = std::move(handler); }

    State state() const { return m_state; }
    // True while the folder is being watched.
    bool isValid() const { return descriptor >= 0 && watch >= 0; }
    QUrl url() const { return m_url; }

private:
    bool open();
    void release();
    void readEvents();

    QSocketNotifier *source = nullptr;  // delivers readiness of descriptor on the main thread
    int descriptor = -1;                // the inotify instance
    int watch = -1;                     // the folder's watch in descriptor
    State m_state = State::off;
    QUrl m_url;
    std::function<void()> m_handler;
    std::function<void()> m_leftHandler;
    QSet<QByteArray> m_filesBeingWritten;  // names created or changed, not yet closed
};
