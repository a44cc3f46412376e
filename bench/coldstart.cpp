// How fast the program starts cold: the time from launch to its window being
// mapped on the X display ("window shown"), and to the photographs it was
// given (30 of 3000 x 2000, handed over as a file manager does; the first opens
// in the viewer) being on screen ("first screen"), against a bare
// Qt Widgets window of 30 icons (lg_barewindow) launched the same way in the
// same run. Both run in a private Xvfb with a private session bus, HOME and
// XDG folders; the benchmark watches the display as an X client of its own
// (a MapNotify of a new top-level window, then the window's pixels), so the
// program needs no hook for it. The page cache is dropped before every launch
// when the benchmark may (as root, with /proc/sys/vm/drop_caches writable);
// otherwise it says so and the figures are warm.
//
// usage: bench_coldstart [ROUNDS]   (5 by default). The medians are printed;
// the ratio is the median of each round's ratio (both launched in that round).
#include "app/Essentials.h"
#include "bench/BenchSupport.h"
#include "platform/desktop/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

constexpr int photoCount = 30;
const QSize photoSize(3000, 2000);
constexpr int launchTimeoutMs = 20000;
constexpr int settledAfterMs = 2500;   // the window's pictures unchanged this long: the first screen is complete

// A magenta photograph with grain: the only magenta on screen is its picture.
QImage makePhoto(int index)
{
    QImage image(photoSize, QImage::Format_RGB32);
    QRandomGenerator random(quint32(index + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(40u)) - 20;
            line[x] = qRgb(225 + grain / 2, 25 + grain, 225 - grain / 2);
        }
    }
    return image;
}

// The photographs, made once in the build folder.
QStringList photos()
{
    const QString folder = QDir::currentPath() + QStringLiteral("/coldstart-photos");
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < photoCount; ++i) {
        const QString path = QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(i + 1, 4, 10, QLatin1Char('0'));
        if (!QFile::exists(path)) {
            QImageWriter writer(path, "jpeg");
            writer.setQuality(90);
            if (!writer.write(makePhoto(i)))
                return {};
        }
        paths << path;
    }
    return paths;
}

// Empties the page cache, so that every library and file is read from disk.
bool dropPageCache()
{
    if (geteuid() != 0)
        return false;
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2 && control.flush();
}

// A helper process (Xvfb, the session bus) that reports one line when ready.
std::unique_ptr<QProcess> startHelper(const QString &program, const QStringList &arguments, QString *line)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(program, arguments);
    QElapsedTimer clock;
    clock.start();
    while (process->state() != QProcess::NotRunning && !process->canReadLine() && clock.elapsed() < 10000)
        process->waitForReadyRead(100);
    if (!process->canReadLine())
        return nullptr;
    *line = QString::fromLocal8Bit(process->readLine()).trimmed();
    return process;
}

void stop(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

struct Launch
{
    qint64 windowShownMs = -1;
    qint64 firstScreenMs = -1;   // -1: not asked for, or nothing appeared
};

class Display
{
public:
    explicit Display(const QString &name)
    {
        m_connection = xcb_connect(name.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
        m_ok = true;
    }
    ~Display() { xcb_disconnect(m_connection); }
    bool ok() const { return m_ok; }

    // Drops the events of earlier launches.
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // The first top-level window mapped before the deadline.
    std::optional<xcb_window_t> waitForMappedWindow(const QElapsedTimer &clock, qint64 deadlineMs)
    {
        const int fd = xcb_get_file_descriptor(m_connection);
        while (clock.elapsed() < deadlineMs) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                std::optional<xcb_window_t> mapped;
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                    const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                    if (map->event == m_root && !map->override_redirect)
                        mapped = map->window;
                }
                std::free(event);
                if (mapped)
                    return mapped;
            }
            if (xcb_connection_has_error(m_connection))
                return std::nullopt;
            pollfd wait {fd, POLLIN, 0};
            ::poll(&wait, 1, 5);
        }
        return std::nullopt;
    }

    // How many sampled pixels of the window are the photographs' magenta; -1 when it cannot be read.
    qint64 magentaPixels(xcb_window_t window)
    {
        xcb_get_geometry_reply_t *geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (!geometry)
            return -1;
        const uint16_t width = geometry->width, height = geometry->height;
        std::free(geometry);
        xcb_get_image_reply_t *image = xcb_get_image_reply(
            m_connection, xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u),
            nullptr);
        if (!image)
            return -1;
        const int length = xcb_get_image_data_length(image);
        const uint8_t *data = xcb_get_image_data(image);
        qint64 count = 0;
        if (length >= int(width) * height * 4) {
            for (int y = 0; y < height; y += 2) {
                const uint8_t *row = data + size_t(y) * width * 4;
                for (int x = 0; x < width; x += 2) {
                    const uint8_t b = row[x * 4], g = row[x * 4 + 1], r = row[x * 4 + 2];
                    if (r > 170 && b > 170 && g < 90)
                        ++count;
                }
            }
        }
        std::free(image);
        return count;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_ok = false;
};

// Launches program, times its window, and with watchPictures the moment the
// window's magenta stops growing (within 2% of where it settles).
Launch launch(Display &display, const QString &program, const QStringList &arguments,
              const QProcessEnvironment &environment, bool watchPictures)
{
    Launch result;
    display.drain();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const std::optional<xcb_window_t> window = display.waitForMappedWindow(clock, launchTimeoutMs);
    if (window) {
        result.windowShownMs = clock.elapsed();
        if (watchPictures) {
            QList<QPair<qint64, qint64>> samples;   // (ms, magenta pixels)
            qint64 changedAt = clock.elapsed();
            qint64 last = -1;
            while (clock.elapsed() < launchTimeoutMs && clock.elapsed() - changedAt < settledAfterMs) {
                const qint64 count = display.magentaPixels(*window);
                if (count < 0)
                    break;
                if (count != last) {
                    last = count;
                    changedAt = clock.elapsed();
                }
                samples.append({clock.elapsed(), count});
                QThread::msleep(10);
            }
            if (last > 0) {
                for (const auto &[ms, count] : samples) {
                    if (count * 100 >= last * 98) {
                        result.firstScreenMs = ms;
                        break;
                    }
                }
            }
        }
    }
    stop(&process);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumengallery"));
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const QStringList pictures = photos();
    if (pictures.size() != photoCount) {
        std::fprintf(stderr, "the photographs could not be written\n");
        return 1;
    }

    // A returning user's settings, in private folders.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/lg-coldstart-XXXXXX"));
    const QString root = home.path();
    for (const char *sub : {"/config", "/cache", "/data", "/state", "/runtime"})
        QDir().mkpath(root + QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", root.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
    lg::Settings::reload();
    lg::Settings::setValue(firstRunKey, 1);
    lg::Settings::sync();

    QString displayNumber;
    const std::unique_ptr<QProcess> xvfb = startHelper(
        QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                 QStringLiteral("0"), QStringLiteral("1440x900x24"), QStringLiteral("-nolisten"),
                                 QStringLiteral("tcp")},
        &displayNumber);
    if (!xvfb) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    const QString displayName = QLatin1Char(':') + displayNumber;
    QString busAddress;
    const std::unique_ptr<QProcess> bus = startHelper(
        QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")},
        &busAddress);

    Display display(displayName);
    if (!display.ok()) {
        std::fprintf(stderr, "cannot watch the display %s\n", qPrintable(displayName));
        stop(xvfb.get());
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    environment.insert(QStringLiteral("HOME"), root);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    if (bus)
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    else
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    const bool cold = dropPageCache();
    std::printf("page cache: %s\n", cold ? "dropped before every launch"
                                         : "not dropped (needs root and a writable /proc/sys/vm/drop_caches): warm figures");
    std::printf("session bus: %s\n", bus ? "private" : "none (dbus-daemon did not start)");

    QList<double> shown, bareShown, ratios, firstScreen;
    for (int round = 0; round < rounds; ++round) {
        if (cold)
            dropPageCache();
        const Launch bare = launch(display, QStringLiteral(LG_BARE_WINDOW), {}, environment, false);
        // Nothing the round before made is kept: the photographs are as never seen.
        QDir(root + QStringLiteral("/cache/thumbnails")).removeRecursively();
        if (cold)
            dropPageCache();
        const Launch program = launch(display, QStringLiteral(LG_PROGRAM), pictures, environment, true);
        std::printf("round %d: bare window %lld ms, window %lld ms, first screen %lld ms\n", round + 1,
                    bare.windowShownMs, program.windowShownMs, program.firstScreenMs);
        std::fflush(stdout);
        if (bare.windowShownMs >= 0)
            bareShown << double(bare.windowShownMs);
        if (program.windowShownMs >= 0)
            shown << double(program.windowShownMs);
        // The machine's load changes from round to round: each round's pair gives one ratio.
        if (program.windowShownMs >= 0 && bare.windowShownMs > 0)
            ratios << double(program.windowShownMs) / double(bare.windowShownMs);
        if (program.firstScreenMs >= 0)
            firstScreen << double(program.firstScreenMs);
    }
    stop(bus.get());
    stop(xvfb.get());

    if (shown.isEmpty() || bareShown.isEmpty() || ratios.isEmpty()) {
        std::fprintf(stderr, "a window never showed\n");
        return 1;
    }
    const double windowMs = bench::median(shown), bareMs = bench::median(bareShown);
    std::printf("window shown: %.0f ms\n", windowMs);
    std::printf("bare window shown: %.0f ms\n", bareMs);
    std::printf("window ratio to bare Qt: %.2f\n", bench::median(ratios));
    if (firstScreen.isEmpty())
        std::printf("first screen: none (no photograph appeared)\n");
    else
        std::printf("first screen: %.0f ms\n", bench::median(firstScreen));
    return 0;
}
