#include "app/FileHandover.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "sidebar/sideMenuvc.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <utility>

using lg::printLine;

namespace {

const QString savedRootsKey = QStringLiteral("arrPaths");
const QString pathsMember = QStringLiteral("paths");
constexpr int maxForwardedPaths = 100000;

// Paths from outside are used only when absolute and present.
QStringList existingAbsolutePaths(const QStringList &paths)
{
    QStringList kept;
    for (const QString &path : paths) {
        if (!path.isEmpty() && QDir::isAbsolutePath(path) && lg::FileNames::exists(path))
            kept.append(QDir::cleanPath(path));
    }
    return kept;
}

// Folders, and files whose extension the program lists; one line names the rest.
QStringList listedMediaOnly(const QStringList &paths)
{
    QStringList kept, leftOut;
    for (const QString &path : paths) {
        if (lg::FileNames::isFolder(path) || mediaExtensions.contains(QFileInfo(path).suffix().toLower()))
            kept.append(path);
        else
            leftOut.append(lg::FileNames::shown(path));
    }
    if (!leftOut.isEmpty())
        printLine(QStringLiteral("Not a media file, left out: ") + leftOut.join(QStringLiteral(", ")));
    return kept;
}

mainvc *existingHub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

mainWindowController *existingWindow()
{
    return qobject_cast<mainWindowController *>(
        lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
}

} // namespace

// ---------------------------------------------------------------- FileHandover

FileHandover::FileHandover(QStringList &openWithPath, lg::Timer *&timerForOpenwith, QObject *parent)
    : QObject(parent), m_openWithPath(openWithPath), m_timerForOpenwith(timerForOpenwith)
{
    setObjectName(QStringLiteral("FileHandover"));
    handOver = [](const QStringList &paths) { sidebarController()->revealFolderOfFile(paths); };
}

void FileHandover::application_openFiles(const QStringList &paths, bool appstart)
{
    // Nothing is opened before the welcome screen has been passed.
    if (!lg::Settings::intValue(firstRunKey))
        return;
    const QStringList kept = listedMediaOnly(existingAbsolutePaths(paths));
    if (kept.isEmpty())
        return;
    if (!appstart)
        openedFromFinder = true;

    printLine(QStringLiteral("(") + lg::FileNames::shown(kept.join(QStringLiteral(", "))) + QStringLiteral(")"));
    m_openWithPath.append(kept);

    // A hand-over arrives whole (the command line, one message from another
    // start), so the first of a batch is shown at once; those that follow
    // within batchDelayMs of the one before join it, and show when the timer
    // ends.
    const bool batchOpen = m_timerForOpenwith != nullptr;
    if (!m_timerForOpenwith) {
        m_timerForOpenwith = new lg::Timer(this);
        m_timerForOpenwith->setObjectName(QStringLiteral("timerForOpenwith"));
        m_timerForOpenwith->setSingleShot(true);
        connect(m_timerForOpenwith, &lg::Timer::timeout, this, &FileHandover::openWithFinder_menu);
    }
    m_timerForOpenwith->start(batchDelayMs);
    // Before the launch sequence there is no screen to replace yet: the files
    // show when it has run (launchSequenceEnded), or when the timer ends.
    if (!batchOpen && appstart)
        showCollected();
}

bool FileHandover::filesWaitForLaunch() const
{
    return m_timerForOpenwith && !m_batchShown && !m_openWithPath.isEmpty();
}

void FileHandover::launchSequenceEnded()
{
    if (filesWaitForLaunch())
        showCollected();
}

void FileHandover::openWithFinder_menu()
{
    if (m_timerForOpenwith) {
        // The timer exists only while a batch is open.
        m_timerForOpenwith->stop();
        m_timerForOpenwith->deleteLater();
        m_timerForOpenwith = nullptr;
    }
    if (!m_openWithPath.isEmpty() || !m_batchShown)
        showCollected();
    m_batchFiles.clear();
    m_batchShown = false;
}

void FileHandover::showCollected()
{
    const QStringList arrived = m_openWithPath;
    m_openWithPath.clear();
    // Files that joined a batch already shown are shown with the batch's
    // earlier files, so that the sidebar ends as it would after the whole batch
    // at once (its first file chooses the folder and the file to focus); a
    // folder is handed over once (a second time it would be added twice).
    QStringList batch = m_batchFiles;
    for (const QString &path : arrived) {
        batch.append(path);
        if (!lg::FileNames::isFolder(path))
            m_batchFiles.append(path);
    }
    m_batchShown = true;
    mainWindowNeverShown = 0;

    if (currentScreenMode == ScreenHome || currentScreenMode == ScreenWelcome) {
        // Made before the mode is set: nothing it sets up while being made may
        // override the mode.
        mainvc *hub = contentHub();
        enterScreenModeOfSelectedStyle();
        // The files take the place of the home screen's choice: the folders
        // saved before are not loaded, and stay saved.
        sidebarController()->keepSavedRoots();
        mainWindowController *window = mainWindow();
        window->setResizable(true);
        window->setContentViewController(hub);
        window->showWindow();
        // The home screen has stepped aside for good: it need not hide the
        // window when it next appears.
        openedFromFinder = false;
    }

    if (batch.isEmpty())
        return;
    handOverWhenIdle(batch);
}

void FileHandover::handOverWhenIdle(const QStringList &batch)
{
    const quint64 ticket = ++m_handOverTicket;
    // A waiting batch starts with the same files; only its folders may be
    // missing from this one.
    QStringList whole = std::exchange(m_waitingBatch, QStringList());
    if (whole.isEmpty()) {
        whole = batch;
    } else {
        for (const QString &path : batch)
            if (!whole.contains(path))
                whole.append(path);
    }
    if (whole.isEmpty())
        return;
    mainvc *hub = existingHub();
    if (!hub || !isBusy) {
        if (handOver)
            handOver(whole);
        return;
    }
    // Wait for the overlay to go; the hand-over runs on the main thread after
    // hideBusyLoader has returned, unless a newer one has taken its place.
    m_waitingBatch = whole;
    auto connection = std::make_shared<QMetaObject::Connection>();
    QPointer<FileHandover> self(this);
    *connection = connect(hub, &mainvc::busyLoaderHidden, this, [self, ticket, connection] {
        QObject::disconnect(*connection);
        lg::onMain([self, ticket] {
            if (self && ticket == self->m_handOverTicket)
                self->handOverWhenIdle({});
        });
    });
}

void FileHandover::applicationWillTerminate()
{
    mainWindowController *window = existingWindow();
    mainvc *hub = existingHub();
    // From the home or welcome screen the sidebar was never built in this run:
    // the roots saved before must survive.
    if (!window || !hub || window->contentViewController() != hub)
        return;
    // The entry of opened files is not a folder, and saved folders this run
    // never showed stay saved.
    sidebarController()->saveRoots();
}

// ---------------------------------------------------------------- InstanceChannel

InstanceChannel::InstanceChannel(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("InstanceChannel"));
}

InstanceChannel::~InstanceChannel()
{
    if (m_server)
        m_server->close();  // removes the socket file
}

QString InstanceChannel::defaultSocketPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    QString user = lg::Paths::userName();
    user.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    if (user.isEmpty())
        user = QString::number(::getuid());
    return folder + QStringLiteral("/lumengallery-") + user;
}

bool InstanceChannel::forwardToRunningInstance(const QStringList &paths, const QString &socketPath)
{
    const QFileInfo info(socketPath);
    // Only a socket of our own user is ever spoken to.
    if (!info.exists() || info.ownerId() != ::getuid())
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    const QJsonObject message{{pathsMember, QJsonArray::fromStringList(paths)}};
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(3000)) {
            printLine(QStringLiteral("Could not hand the files to the running Lumen Gallery: ")
                      + socket.errorString());
            return false;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    return true;
}

bool InstanceChannel::listen(const QString &socketPath)
{
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::acceptConnections);
    }
    if (m_server->isListening())
        return true;
    if (m_server->listen(socketPath))
        return true;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Left behind by an instance that did not end cleanly (nobody answered
        // the caller's hand-over): replace it, if it is ours.
        const QFileInfo info(socketPath);
        if (info.ownerId() == ::getuid() && QLocalServer::removeServer(socketPath) && m_server->listen(socketPath))
            return true;
    }
    printLine(QStringLiteral("Cannot listen for other starts on ") + socketPath + QStringLiteral(": ")
              + m_server->errorString());
    return false;
}

bool InstanceChannel::isListening() const
{
    return m_server && m_server->isListening();
}

void InstanceChannel::stopListening()
{
    if (m_server)
        m_server->close();
}

InstanceChannel::Role InstanceChannel::claim(const QStringList &paths, const QString &socketPath)
{
    if (forwardToRunningInstance(paths, socketPath))
        return Role::Secondary;
    if (listen(socketPath))
        return Role::Primary;
    // Another start may have begun listening in the meantime.
    if (forwardToRunningInstance(paths, socketPath))
        return Role::Secondary;
    return Role::Primary;
}

void InstanceChannel::acceptConnections()
{
    struct Pending
    {
        QByteArray data;
        bool done = false;
    };
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections >= maxConnections) {
            printLine(QStringLiteral("Too many other starts at once; one is turned away"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        // What the socket itself holds stays small; the message is counted here.
        socket->setReadBufferSize(64 * 1024);
        auto pending = std::make_shared<Pending>();
        QPointer<InstanceChannel> self(this);
        // Ends the connection once: its bytes are no longer in flight.
        auto close = [self, socket, pending](bool deliver) {
            if (pending->done || !self)
                return;
            pending->done = true;
            QObject::disconnect(socket, nullptr, self, nullptr);
            --self->m_connections;
            self->m_bytesInFlight -= pending->data.size();
            const QByteArray message = std::move(pending->data);
            pending->data = QByteArray();
            socket->abort();
            socket->deleteLater();
            if (deliver)
                self->finishMessage(socket, message);
        };
        // Moves what has arrived into the message, within both limits.
        auto take = [self, socket, pending, close]() {
            if (pending->done || !self)
                return false;
            const QByteArray chunk = socket->readAll();
            if (pending->data.size() + chunk.size() > maxMessageBytes
                || self->m_bytesInFlight + chunk.size() > maxBytesInFlight) {
                printLine(QStringLiteral("A message from another start was too long; it is ignored"));
                close(false);
                return false;
            }
            pending->data.append(chunk);
            self->m_bytesInFlight += chunk.size();
            return true;
        };
        // The sender writes its message and closes: the message is complete
        // once the connection has ended. One that stays open too long is dropped.
        auto *deadline = new lg::Timer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &lg::Timer::timeout, this, [close] {
            printLine(QStringLiteral("Another start sent nothing in time; it is ignored"));
            close(false);
        });
        deadline->start(connectionTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [take] { take(); });
        connect(socket, &QLocalSocket::disconnected, this, [take, close] {
            if (take())
                close(true);
        });
        if (socket->state() == QLocalSocket::UnconnectedState && take())
            close(true);
    }
}

void InstanceChannel::finishMessage(QLocalSocket *, const QByteArray &message)
{
    if (message.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        printLine(QStringLiteral("A message from another start could not be read; it is ignored"));
        return;
    }
    const QJsonArray array = document.object().value(pathsMember).toArray();
    QStringList paths;
    for (const QJsonValue &value : array) {
        if (paths.size() >= maxForwardedPaths)
            break;
        if (value.isString())
            paths.append(value.toString());
    }
    const QStringList kept = existingAbsolutePaths(paths);
    if (kept.isEmpty())
        Q_EMIT activationRequested();
    else
        Q_EMIT filesReceived(kept);
}
