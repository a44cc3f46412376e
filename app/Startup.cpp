#include "app/Startup.h"

#include "app/AppDelegate.h"
#include "model/SharedState.h"
#include "platform/desktop/Alert.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/Journal.h"
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Timer.h"

#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QMessageBox>
#include <QPalette>
#include <QWindow>
#include <QPointer>
#include <QStyleFactory>
#include <QTimer>
#include <QToolTip>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// The colours of the dark look; the accent is the selection orange of the browser.
QPalette darkPalette()
{
    const QColor window(0x2b, 0x2b, 0x2b);
    const QColor base(0x1e, 0x1e, 0x1e);
    const QColor alternate(0x26, 0x26, 0x26);
    const QColor text(0xe6, 0xe6, 0xe6);
    const QColor button(0x35, 0x35, 0x35);
    const QColor accent = accentOrange();
    const QColor disabledText(0x7a, 0x7a, 0x7a);

    QPalette pal;
    pal.setColor(QPalette::Window, window);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Base, base);
    pal.setColor(QPalette::AlternateBase, alternate);
    pal.setColor(QPalette::ToolTipBase, window);
    pal.setColor(QPalette::ToolTipText, text);
    pal.setColor(QPalette::PlaceholderText, disabledText);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::Button, button);
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::BrightText, Qt::white);
    pal.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4a));
    pal.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x40));
    pal.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    pal.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    pal.setColor(QPalette::Shadow, Qt::black);
    pal.setColor(QPalette::Highlight, accent);
    pal.setColor(QPalette::HighlightedText, base);
    pal.setColor(QPalette::Link, QColor(0x5a, 0xa9, 0xff));
    pal.setColor(QPalette::LinkVisited, QColor(0xb0, 0x8c, 0xff));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        pal.setColor(QPalette::Disabled, role, disabledText);
    pal.setColor(QPalette::Disabled, QPalette::Button, window);
    pal.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x55, 0x55, 0x55));
    return pal;
}

// Watches every object's events for the first exposed window, then hands the
// work to the event loop: the expose paints the window before it runs.
class FirstFrameWatch : public QObject
{
public:
    FirstFrameWatch(QObject *context, std::function<void()> work, int latestMs)
        : m_context(context), m_work(std::move(work))
    {
        qApp->installEventFilter(this);
        lg::Timer::singleShot(latestMs, this, [this] { fire(); });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !m_fired) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed())
                QTimer::singleShot(0, this, [this] { fire(); });
        }
        return false;
    }

private:
    void fire()
    {
        if (std::exchange(m_fired, true))
            return;
        qApp->removeEventFilter(this);
        if (m_context)
            m_work();
        deleteLater();
    }

    QPointer<QObject> m_context;
    std::function<void()> m_work;
    bool m_fired = false;
};

} // namespace

void afterFirstFrame(QObject *context, std::function<void()> work, int latestMs)
{
    new FirstFrameWatch(context, std::move(work), latestMs);
}

void applyApplicationLook()
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    const QPalette palette = darkPalette();
    QApplication::setPalette(palette);
    // Tooltips keep a palette of their own.
    QToolTip::setPalette(palette);
}

void scheduleLaunch(AppDelegate &delegate, const QStringList &paths)
{
    QPointer<AppDelegate> guard(&delegate);
    QTimer::singleShot(0, &delegate, [guard, paths] {
        if (!guard)
            return;
        // Files handed over before the launch sequence: the home screen steps
        // aside for them instead of showing until their batch comes.
        if (!paths.isEmpty())
            guard->application_openFiles(paths);
        guard->applicationDidFinishLaunching();
        afterFirstWindow();
    });
}

void afterFirstWindow()
{
    afterFirstFrame(qApp, [] {
        if (lg::isShuttingDown())
            return;
        // A Replace that a killed run stopped is told once the cleanup has
        // settled it, whenever that is.
        static bool listening = false;
        if (!std::exchange(listening, true))
            lg::onStoppedReplaceNoted(qApp, [] { tellStoppedMoves(); });
        lg::startCleaningFoldersLeftByKilledRuns();
        // A decode worker waits, warm, for the first thumbnail.
        lg::image::warmUpDecodeWorkers();
        tellStoppedMoves();
        // A card that a stopped move's note waits for may come back while
        // the program runs: its move is told then.
        static bool watching = false;
        if (!std::exchange(watching, true))
            lg::onMountTableChange(qApp, [] { tellStoppedMoves(); });
    });
}

namespace {

// What the start says of a stopped move: the step it stopped at, and only
// what is so now.
QString stoppedMoveText(const lg::StoppedMove &move)
{
    if (!move.copyPlaced)
        return (QStringLiteral("Moving “%1” to “%2” was stopped before any of the originals was removed. An item "
                               "stands at “%2” now that may not be its copy: it ")
                + (move.copyWhole ? QStringLiteral("holds all that “%1” holds.")
                                  : QStringLiteral("does not hold all that “%1” holds."))
                + QStringLiteral(" Both are kept; nothing was deleted."))
            .arg(move.source, move.target);
    const QString stopped =
        move.removalBegun
            ? QStringLiteral("Moving “%1” to “%2” was stopped while the originals were being removed")
            : QStringLiteral("Moving “%1” to “%2” was stopped after its copy was put in place, before any of the "
                             "originals was removed");
    if (move.inBothPlaces && move.copyWhole)
        return (stopped + QStringLiteral(". Its items are now in both places: the copy in “%2” is whole, and what was "
                                         "not yet removed is still in “%1”. Nothing more was deleted."))
            .arg(move.source, move.target);
    if (move.inBothPlaces)
        return (stopped + QStringLiteral(". Its items are now in both places, but the copy in “%2” is not the same as "
                                         "what is still in “%1”: keep “%1” until you have checked the copy. Nothing "
                                         "more was deleted."))
            .arg(move.source, move.target);
    if (move.emptyFolderLeft)
        return (stopped + QStringLiteral(", after the last of them was gone: the move is complete, and all of it is in "
                                         "“%2”. The empty folder “%1” could not be removed."))
            .arg(move.source, move.target);
    return (stopped + QStringLiteral(", after the last of them was gone: the move is complete, and all of it is in "
                                     "“%2”. The empty folders it left were removed."))
        .arg(move.source, move.target);
}

void showStoppedMoves(QWidget *window, const QList<lg::StoppedMove> &moves,
                      const QList<lg::StoppedReplace> &replaces)
{
    if (!window)
        window = qobject_cast<QWidget *>(lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
    QList<lg::AlertSpec> specs;
    for (const lg::StoppedMove &move : moves) {
        lg::AlertSpec spec;
        spec.title = QStringLiteral("A move was stopped before it finished.");
        spec.text = stoppedMoveText(move);
        specs.append(spec);
    }
    for (const lg::StoppedReplace &replace : replaces) {
        lg::AlertSpec spec;
        spec.title = QStringLiteral("A replace was stopped before it finished.");
        spec.text = replace.text;
        specs.append(spec);
    }
    for (lg::AlertSpec &spec : specs) {
        spec.style = lg::AlertSpec::Style::Informational;
        // The main window comes to the front first, then its sheet over it:
        // without a window manager, a window raised after its sheet covers
        // the sheet and takes no clicks while the sheet is open.
        if (window) {
            window->raise();
            window->activateWindow();
        }
        lg::Alert::show(window, spec);
        if (!window)
            continue;
        const QList<QMessageBox *> boxes = window->findChildren<QMessageBox *>(QStringLiteral("lgAlert"));
        if (!boxes.isEmpty() && boxes.last()->isVisible()) {
            boxes.last()->raise();
            boxes.last()->activateWindow();
        }
    }
}

// The one reading of the notes at a time, on a thread of its own that nobody
// waits for (a note may name a share whose server is away, which blocks its
// reader in the kernel); a reading asked for meanwhile follows the current one.
struct NoteReadings
{
    std::mutex mutex;
    bool running = false;
    bool again = false;
    QPointer<QWidget> window;   // where the next reading's moves are told
    bool toMainWindow = true;
};
NoteReadings &noteReadings()
{
    static NoteReadings *readings = new NoteReadings;   // never destroyed: the thread may outlive main()
    return *readings;
}

} // namespace

void tellStoppedMoves(QWidget *window)
{
    NoteReadings &readings = noteReadings();
    {
        std::lock_guard<std::mutex> lock(readings.mutex);
        readings.window = window;
        readings.toMainWindow = window == nullptr;
        if (readings.running) {
            readings.again = true;
            return;
        }
        readings.running = true;
    }
    std::thread([] {
        NoteReadings &readings = noteReadings();
        for (;;) {
            QList<lg::StoppedMove> moves;
            QList<lg::StoppedReplace> replaces;
            if (!lg::isShuttingDown())
                moves = lg::takeStoppedMoves();
            if (!lg::isShuttingDown())
                replaces = lg::takeStoppedReplaces();
            if ((!moves.isEmpty() || !replaces.isEmpty()) && !lg::isShuttingDown()) {
                lg::onMain([moves, replaces] {
                    NoteReadings &readings = noteReadings();
                    QPointer<QWidget> window;
                    bool toMainWindow = true;
                    {
                        std::lock_guard<std::mutex> lock(readings.mutex);
                        window = readings.window;
                        toMainWindow = readings.toMainWindow;
                    }
                    if (!lg::isShuttingDown() && (window || toMainWindow))
                        showStoppedMoves(window, moves, replaces);
                });
            }
            std::lock_guard<std::mutex> lock(readings.mutex);
            if (!readings.again || lg::isShuttingDown()) {
                readings.running = false;
                return;
            }
            readings.again = false;
        }
    }).detach();
}

bool isReadingStoppedMovesForTesting()
{
    NoteReadings &readings = noteReadings();
    std::lock_guard<std::mutex> lock(readings.mutex);
    return readings.running;
}

namespace {

// The guard's state: never destroyed, since exit() may come from any frame.
struct LostDisplay
{
    std::mutex mutex;
    std::function<void()> cleanEnd;   // empty once main() is done with the guard
    std::function<void(int)> end;
    QtMessageHandler previous = nullptr;
    std::atomic<bool> ending{false};
    bool atExitRegistered = false;
};
LostDisplay &lostDisplay()
{
    static LostDisplay *state = new LostDisplay;
    return *state;
}

// Qt's X11 plugin, right before it calls exit(1) because its connection to the
// display broke.
bool saysTheDisplayIsLost(QtMsgType type, const QString &message)
{
    return type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke ("));
}

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LostDisplay &state = lostDisplay();
    if (state.previous)
        state.previous(type, context, message);
    if (!saysTheDisplayIsLost(type, message) || !lg::isMainThread() || state.ending.exchange(true))
        return;
    std::function<void()> cleanEnd;
    std::function<void(int)> end;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        cleanEnd = state.cleanEnd;
        end = state.end;
    }
    if (!cleanEnd) {
        state.ending = false;
        return;
    }
    cleanEnd();
    std::fflush(nullptr);
    if (end)
        end(0);
    else
        std::exit(0);   // as after SIGTERM, before Qt's exit(1)
}

void beginShutdownAtExit()
{
    LostDisplay &state = lostDisplay();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.cleanEnd && lg::isMainThread())
        lg::beginShutdown();
}

} // namespace

EndOnLostDisplay::EndOnLostDisplay(std::function<void()> cleanEnd)
{
    LostDisplay &state = lostDisplay();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.cleanEnd = std::move(cleanEnd);
        if (!std::exchange(state.atExitRegistered, true))
            std::atexit(beginShutdownAtExit);
    }
    state.ending = false;
    state.previous = qInstallMessageHandler(watchMessages);
}

EndOnLostDisplay::~EndOnLostDisplay()
{
    LostDisplay &state = lostDisplay();
    qInstallMessageHandler(state.previous);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.cleanEnd = {};
}

void EndOnLostDisplay::setEndForTesting(std::function<void(int status)> end)
{
    LostDisplay &state = lostDisplay();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.end = std::move(end);
}
