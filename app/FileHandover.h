#pragma once
// Files handed to Lumen Gallery from outside (the command line, the file
// manager's "Open With", a second start while one runs) and the roots saved at
// quit.
//
// FileHandover shows opened files in batches: the first hand-over of a batch
// at once, and those that arrive within a second of the one before join it (the
// sidebar ends as after one hand-over of them all). It brings up the content hub
// and hands the files to the sidebar once the hub is no longer busy. It works on
// the application delegate's openWithPath and timerForOpenwith.
//
// InstanceChannel makes one running instance per user: a later start hands its
// files to the running one over a local socket and ends.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;
namespace lg { class Timer; }

class FileHandover : public QObject
{
    Q_OBJECT
public:
    // openWithPath and timerForOpenwith are the delegate's fields; they must
    // outlive this object (the delegate owns it).
    FileHandover(QStringList &openWithPath, lg::Timer *&timerForOpenwith, QObject *parent = nullptr);

    // How long a batch stays open for more files after each hand-over.
    static constexpr int batchDelayMs = 1000;

    // Where a batch goes: the sidebar's revealFolderOfFile unless replaced.
    std::function<void(const QStringList &paths)> handOver;

    // Takes files handed over: the first of a batch shows at once, later ones
    // join it. Ignored until the first run is over; appstart false means the
    // application was started to open them (they show at launchSequenceEnded).
    void application_openFiles(const QStringList &paths, bool appstart);
    // The launch sequence has shown its first screen: files that started the
    // application show now.
    void launchSequenceEnded();
    // True while files that started the application wait for
    // launchSequenceEnded: they will be the first screen.
    bool filesWaitForLaunch() const;
    // Shows the files that joined the batch and closes it; the action of
    // timerForOpenwith.
    void openWithFinder_menu();

    // At quit: stores the sidebar's top-level folders under "arrPaths" when the
    // hub is the window's content; otherwise the saved roots stay as they are.
    static void applicationWillTerminate();

private:
    // Shows what openWithPath holds (with the batch's earlier files) and brings
    // up the hub.
    void showCollected();
    // Hands the batch over now, or once the busy overlay has gone. A batch
    // still waiting is taken into this one (its folders are in no later batch)
    // and does not run on its own.
    void handOverWhenIdle(const QStringList &batch);

    QStringList &m_openWithPath;
    lg::Timer *&m_timerForOpenwith;
    // The files of the open batch already shown, in order.
    QStringList m_batchFiles;
    bool m_batchShown = false;
    // The batch waiting for the busy overlay to go, and the ticket of the newest
    // hand-over: a wait whose ticket is older has been taken into a newer batch.
    QStringList m_waitingBatch;
    quint64 m_handOverTicket = 0;
};

class InstanceChannel : public QObject
{
    Q_OBJECT
public:
    explicit InstanceChannel(QObject *parent = nullptr);
    ~InstanceChannel() override;

    // The per-user socket: "lumengallery-" + the user name in $XDG_RUNTIME_DIR
    // (the temporary folder when that is not set).
    static QString defaultSocketPath();

    // Hands the paths to the instance listening on socketPath. True when it took
    // them (the caller then ends); false when no instance of ours runs.
    static bool forwardToRunningInstance(const QStringList &paths, const QString &socketPath = defaultSocketPath());

    // Listens for later starts. A socket left behind by an instance that ended
    // without cleaning up is replaced. False when listening is not possible.
    bool listen(const QString &socketPath = defaultSocketPath());
    bool isListening() const;
    // Stops listening and removes the socket, so that a new start (a restart
    // after an update) becomes the running instance.
    void stopListening();

    enum class Role { Primary, Secondary };
    // At start: Secondary when a running instance took the paths (this start
    // is done), else Primary, listening when it can.
    Role claim(const QStringList &paths, const QString &socketPath = defaultSocketPath());

    // Largest message accepted from a later start.
    static constexpr qint64 maxMessageBytes = 4 * 1024 * 1024;
    // Later starts served at once, the bytes they may have sent in all, and how
    // long one may take before it is dropped.
    static constexpr int maxConnections = 8;
    static constexpr qint64 maxBytesInFlight = 8 * 1024 * 1024;
    static constexpr int connectionTimeoutMs = 5000;
    int connectionCount() const { return m_connections; }
    qint64 bytesInFlight() const { return m_bytesInFlight; }

Q_SIGNALS:
    // A later start handed over files (absolute paths of existing entries).
    void filesReceived(const QStringList &paths);
    // A later start had nothing to open: bring the window forward.
    void activationRequested();

private:
    void acceptConnections();
    void finishMessage(QLocalSocket *socket, const QByteArray &message);

    QLocalServer *m_server = nullptr;
    int m_connections = 0;
    qint64 m_bytesInFlight = 0;
};
