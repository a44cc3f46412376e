// The desktop around the program: the file manager, other applications and the desktop picture.
// GLib names a member "signals": its header comes before any Qt header.
#include <gio/gio.h>

#include "platform/desktop/Workspace.h"

#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace lg {

namespace {

constexpr int callTimeoutMs = 5000;

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString fileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");

QString contentTypeOf(const QString &path)
{
    return QMimeDatabase().mimeTypeForFile(path).name();
}

// Calls fn for each application of the file's type that the desktop shows,
// until it returns false.
void forEachApplication(const QString &path, const std::function<bool(GAppInfo *)> &fn)
{
    const QByteArray type = contentTypeOf(path).toUtf8();
    GList *list = g_app_info_get_all_for_type(type.constData());
    for (GList *node = list; node; node = node->next) {
        auto *info = static_cast<GAppInfo *>(node->data);
        if (!g_app_info_should_show(info))
            continue;
        if (!fn(info))
            break;
    }
    g_list_free_full(list, g_object_unref);
}

bool launchApplication(const QString &id, const QStringList &uris, QString *error)
{
    GAppInfo *info = nullptr;
    GList *all = g_app_info_get_all();
    for (GList *node = all; node && !info; node = node->next) {
        const char *candidate = g_app_info_get_id(static_cast<GAppInfo *>(node->data));
        if (candidate && QString::fromUtf8(candidate) == id)
            info = G_APP_INFO(g_object_ref(node->data));
    }
    g_list_free_full(all, g_object_unref);
    if (!info) {
        *error = QStringLiteral("The application %1 is not installed.").arg(id);
        return false;
    }
    QList<QByteArray> encoded;
    GList *list = nullptr;
    for (const QString &uri : uris)
        encoded.append(uri.toUtf8());
    for (auto it = encoded.rbegin(); it != encoded.rend(); ++it)
        list = g_list_prepend(list, it->data());
    GError *gerror = nullptr;
    const bool started = g_app_info_launch_uris(info, list, nullptr, &gerror);
    if (gerror) {
        *error = QString::fromUtf8(gerror->message);
        g_error_free(gerror);
    }
    g_list_free(list);
    g_object_unref(info);
    return started;
}

const QByteArray folderType = QByteArrayLiteral("inode/directory");
const QString noFileManager = QStringLiteral("No file manager is installed.");

bool hasDefaultApplication(const QByteArray &contentType)
{
    GAppInfo *info = g_app_info_get_default_for_type(contentType.constData(), FALSE);
    if (!info)
        return false;
    g_object_unref(info);
    return true;
}

bool runProcess(const ExternalCall &call, QString *error)
{
    QProcess process;
    process.start(call.program, call.arguments);
    if (!process.waitForStarted(callTimeoutMs)) {
        *error = QStringLiteral("%1 could not be started.").arg(call.program);
        return false;
    }
    if (!process.waitForFinished(callTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        *error = QStringLiteral("%1 did not answer in time.").arg(call.program);
        return false;
    }
    if (call.output)
        *call.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        *error = said.isEmpty() ? QStringLiteral("%1 failed (exit code %2).").arg(call.program).arg(process.exitCode())
                                : said;
        return false;
    }
    return true;
}

bool runDBus(const ExternalCall &call, QString *error)
{
    if (call.arguments.size() < 3) {
        *error = QStringLiteral("Incomplete D-Bus call.");
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = QStringLiteral("No session bus.");
        return false;
    }
    // A name nobody owns and nothing can start fails at once instead of after the time limit.
    if (QDBusConnectionInterface *names = bus.interface()) {
        if (!names->isServiceRegistered(call.program).value()
            && !names->activatableServiceNames().value().contains(call.program)) {
            *error = QStringLiteral("%1 is not available.").arg(call.program);
            return false;
        }
    }
    QDBusMessage message = QDBusMessage::createMethodCall(call.program, call.arguments[0], call.arguments[1],
                                                          call.arguments[2]);
    message.setArguments(call.dbusArguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return false;
    }
    return true;
}

bool realRunner(const ExternalCall &call, QString *error)
{
    switch (call.kind) {
    case ExternalCall::Kind::Process:
        return runProcess(call, error);
    case ExternalCall::Kind::DBus:
        return runDBus(call, error);
    case ExternalCall::Kind::Application:
        if (!call.program.isEmpty())
            return launchApplication(call.program, call.arguments, error);
        for (const QString &uri : call.arguments) {
            // A folder needs a file manager; the desktop opener would fail
            // later, out of sight, without one.
            const QUrl url(uri);
            if (url.isLocalFile() && lg::FileNames::isFolder(lg::FileNames::pathOf(url))
                && !hasDefaultApplication(folderType)) {
                *error = noFileManager;
                return false;
            }
            if (!QDesktopServices::openUrl(url)) {
                *error = QStringLiteral("No application opens %1.").arg(QUrl(uri).fileName());
                return false;
            }
        }
        return true;
    }
    return false;
}

Workspace::Runner &testRunner()
{
    static Workspace::Runner runner;
    return runner;
}

bool run(const ExternalCall &call, QString *error)
{
    QString reason;
    const bool ok = testRunner() ? testRunner()(call, &reason) : realRunner(call, &reason);
    if (!ok && error)
        *error = reason.isEmpty() ? QStringLiteral("%1 failed.").arg(call.program) : reason;
    return ok;
}

QStringList urisOf(const QStringList &paths)
{
    QStringList uris;
    for (const QString &path : paths)
        uris.append(QString::fromUtf8(lg::FileNames::urlOf(path).toEncoded()));
    return uris;
}

ExternalCall fileManagerCall(const QString &method, const QStringList &paths)
{
    ExternalCall call;
    call.kind = ExternalCall::Kind::DBus;
    call.program = fileManagerService;
    call.arguments = {fileManagerPath, fileManagerService, method};
    call.dbusArguments = {urisOf(paths), QString()};
    call.arguments.append(urisOf(paths));
    return call;
}

ExternalCall processCall(const QString &program, const QStringList &arguments, bool optional = false)
{
    ExternalCall call;
    call.program = program;
    call.arguments = arguments;
    call.optional = optional;
    return call;
}

ExternalCall gsettingsSet(const QString &schema, const QString &key, const QString &value, bool optional = false)
{
    return processCall(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, key, value}, optional);
}

QString plasmaScript(const QString &uri)
{
    // The URI as a JavaScript string literal (JSON quoting).
    QString literal = QString::fromUtf8(QJsonDocument(QJsonArray{uri}).toJson(QJsonDocument::Compact));
    literal = literal.mid(1, literal.size() - 2);
    return QStringLiteral(
               "var all = desktops();\n"
               "for (var i = 0; i < all.length; i++) {\n"
               "    var d = all[i];\n"
               "    d.wallpaperPlugin = \"org.kde.image\";\n"
               "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
               "    d.writeConfig(\"Image\", %1);\n"
               "}\n")
        .arg(literal);
}

// ---- The small properties window ----
QString sizeText(const QFileInfo &info)
{
    if (info.isDir() && !info.isSymLink()) {
        const qsizetype count = QDir(info.absoluteFilePath())
                                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                                    .size();
        return count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
    }
    return QLocale().formattedDataSize(info.size(), 1, QLocale::DataSizeTraditionalFormat) + QStringLiteral(" (")
           + QLocale().toString(info.size()) + QStringLiteral(" bytes)");
}

void showOwnProperties(const QString &path, QWidget *parent)
{
    const QFileInfo info(path);
    auto *window = new QDialog(parent);
    window->setObjectName(QStringLiteral("propertiesWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(info.fileName() + QStringLiteral(" Info"));
    QPalette palette = window->palette();
    const QColor background(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6);
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x33, 0x33, 0x33));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x5f, 0xa8));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    window->setPalette(palette);
    window->setAutoFillBackground(true);

    auto *form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    const auto addRow = [&](const QString &label, const QString &value, const char *name) {
        auto *field = new QLabel(value);
        field->setObjectName(QString::fromLatin1(name));
        field->setTextInteractionFlags(Qt::TextSelectableByMouse);
        field->setWordWrap(true);
        field->setMinimumWidth(260);
        field->setMaximumWidth(420);
        auto *caption = new QLabel(label);
        caption->setStyleSheet(QStringLiteral("color: #9a9a9a;"));
        form->addRow(caption, field);
    };
    const QLocale locale;
    addRow(QStringLiteral("Name:"), info.fileName(), "propertyName");
    addRow(QStringLiteral("Kind:"),
           info.isDir() ? QStringLiteral("Folder") : QMimeDatabase().mimeTypeForFile(info).comment(), "propertyKind");
    addRow(QStringLiteral("Size:"), sizeText(info), "propertySize");
    addRow(QStringLiteral("Where:"), info.absolutePath(), "propertyWhere");
    if (info.birthTime().isValid())
        addRow(QStringLiteral("Created:"), locale.toString(info.birthTime(), QLocale::ShortFormat), "propertyCreated");
    addRow(QStringLiteral("Modified:"), locale.toString(info.lastModified(), QLocale::ShortFormat), "propertyModified");
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->addLayout(form);
    window->adjustSize();
    window->show();
}

} // namespace

void Workspace::setRunnerForTesting(Runner runner)
{
    testRunner() = std::move(runner);
}

namespace {
std::optional<QString> &testDesktop()
{
    static std::optional<QString> desktop;
    return desktop;
}
} // namespace

void Workspace::setDesktopForTesting(std::optional<QString> desktop)
{
    testDesktop() = std::move(desktop);
}

bool Workspace::revealInFileManager(const QStringList &paths, QString *error)
{
    if (paths.isEmpty())
        return false;
    if (run(fileManagerCall(QStringLiteral("ShowItems"), paths), nullptr))
        return true;
    return openFolder(QFileInfo(paths.first()).absolutePath(), error);
}

void Workspace::showInFileManager(const QStringList &paths, QWidget *parent)
{
    QString error;
    if (paths.isEmpty() || revealInFileManager(paths, &error))
        return;
    std::printf("%s\n", error.toLocal8Bit().constData());
    std::fflush(stdout);
    const QString name = QFileInfo(paths.first()).fileName();
    Alert::inform(parent,
                  paths.size() == 1 ? QStringLiteral("“%1” could not be shown in the File Manager.").arg(name)
                                    : QStringLiteral("The items could not be shown in the File Manager."),
                  error);
}

bool Workspace::openFolder(const QString &folder, QString *error)
{
    ExternalCall call;
    call.kind = ExternalCall::Kind::Application;
    call.arguments = urisOf({folder});
    return run(call, error);
}

void Workspace::showProperties(const QStringList &paths, QWidget *parent)
{
    if (paths.isEmpty())
        return;
    if (run(fileManagerCall(QStringLiteral("ShowItemProperties"), paths), nullptr))
        return;
    for (const QString &path : paths)
        showOwnProperties(path, parent);
}

QList<ApplicationInfo> Workspace::applicationsFor(const QString &path)
{
    QList<ApplicationInfo> applications;
    forEachApplication(path, [&applications](GAppInfo *info) {
        const char *id = g_app_info_get_id(info);
        const char *name = g_app_info_get_display_name(info);
        if (!id || !name)
            return true;
        QString iconName;
        if (GIcon *icon = g_app_info_get_icon(info)) {
            if (G_IS_THEMED_ICON(icon)) {
                const gchar *const *names = g_themed_icon_get_names(G_THEMED_ICON(icon));
                if (names && names[0])
                    iconName = QString::fromUtf8(names[0]);
            }
        }
        applications.append({QString::fromUtf8(id), QString::fromUtf8(name), iconName});
        return true;
    });
    return applications;
}

bool Workspace::openWith(const QString &applicationId, const QStringList &paths, QString *error)
{
    if (applicationId.isEmpty() || paths.isEmpty()) {
        if (error)
            *error = QStringLiteral("Nothing to open.");
        return false;
    }
    ExternalCall call;
    call.kind = ExternalCall::Kind::Application;
    call.program = applicationId;
    call.arguments = urisOf(paths);
    return run(call, error);
}

namespace {
QFileIconProvider &iconProvider()
{
    static QFileIconProvider provider;
    return provider;
}
}

QIcon Workspace::fileIcon(const QString &path)
{
    return iconProvider().icon(QFileInfo(path));
}

QIcon Workspace::plainFileIcon()
{
    return iconProvider().icon(QAbstractFileIconProvider::File);
}

bool Workspace::openWithDefault(const QString &path, QString *error)
{
    ExternalCall call;
    call.kind = ExternalCall::Kind::Application;
    call.arguments = urisOf({path});
    return run(call, error);
}

QList<ExternalCall> Workspace::desktopPictureCalls(const QString &desktop, const QString &imagePath)
{
    const QString uri = QString::fromUtf8(lg::FileNames::urlOf(imagePath).toEncoded());
    const QStringList names = desktop.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto is = [&names](const char *name) { return names.contains(QString::fromLatin1(name)); };
    if (is("X-CINNAMON") || is("CINNAMON"))
        return {gsettingsSet(QStringLiteral("org.cinnamon.desktop.background"), QStringLiteral("picture-uri"), uri)};
    if (is("MATE"))
        return {gsettingsSet(QStringLiteral("org.mate.background"), QStringLiteral("picture-filename"), imagePath)};
    if (is("GNOME") || is("UNITY") || is("BUDGIE") || is("PANTHEON")) {
        const QString schema = QStringLiteral("org.gnome.desktop.background");
        return {gsettingsSet(schema, QStringLiteral("picture-uri"), uri),
                gsettingsSet(schema, QStringLiteral("picture-uri-dark"), uri, true)};
    }
    if (is("KDE")) {
        ExternalCall call;
        call.kind = ExternalCall::Kind::DBus;
        call.program = QStringLiteral("org.kde.plasmashell");
        call.arguments = {QStringLiteral("/PlasmaShell"), QStringLiteral("org.kde.PlasmaShell"),
                          QStringLiteral("evaluateScript")};
        const QString script = plasmaScript(uri);
        call.dbusArguments = {script};
        call.arguments.append(script);
        return {call};
    }
    if (is("XFCE"))
        return {processCall(QStringLiteral("xfconf-query"), {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"),
                                                             QStringLiteral("-l")})};
    return {};
}

QList<ExternalCall> Workspace::xfceBackdropCalls(const QString &listing, const QString &imagePath)
{
    const QString channel = QStringLiteral("xfce4-desktop");
    QList<ExternalCall> calls;
    for (const QString &line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString property = line.trimmed();
        if (property.startsWith(QLatin1String("/backdrop/")) && property.endsWith(QLatin1String("/last-image")))
            calls.append(processCall(QStringLiteral("xfconf-query"),
                                     {QStringLiteral("-c"), channel, QStringLiteral("-p"), property,
                                      QStringLiteral("-s"), imagePath}));
    }
    if (calls.isEmpty())
        calls.append(processCall(QStringLiteral("xfconf-query"),
                                 {QStringLiteral("-c"), channel, QStringLiteral("-p"),
                                  QStringLiteral("/backdrop/screen0/monitor0/workspace0/last-image"),
                                  QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("string"),
                                  QStringLiteral("-s"), imagePath}));
    return calls;
}

bool Workspace::setDesktopPicture(const QString &imagePath, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!QFileInfo(imagePath).isFile())
        return fail(QStringLiteral("The picture %1 does not exist.").arg(imagePath));
    const QString desktop = testDesktop() ? *testDesktop() : qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    QList<ExternalCall> calls = desktopPictureCalls(desktop, QFileInfo(imagePath).absoluteFilePath());
    if (calls.isEmpty())
        return fail(desktop.isEmpty() ? QStringLiteral("The desktop picture cannot be set: the desktop is not known.")
                                      : QStringLiteral("The desktop picture cannot be set on %1.").arg(desktop));
    QString listing;
    const bool xfce = calls.size() == 1 && calls.first().program == QLatin1String("xfconf-query");
    if (xfce)
        calls.first().output = &listing;
    for (qsizetype i = 0; i < calls.size(); ++i) {
        QString reason;
        if (!run(calls[i], &reason) && !calls[i].optional)
            return fail(QStringLiteral("The desktop picture could not be set: ") + reason);
        if (xfce && i == 0) {
            calls.append(xfceBackdropCalls(listing, QFileInfo(imagePath).absoluteFilePath()));
            calls.first().output = nullptr;
        }
    }
    return true;
}

} // namespace lg
