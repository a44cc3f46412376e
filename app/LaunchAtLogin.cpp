#include "app/LaunchAtLogin.h"

#include "platform/desktop/Paths.h"

#include "Version.h"
#include "platform/runtime/Console.h"
#include "platform/files/names/FileNames.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

using lg::printLine;

namespace {

// The escapes of a desktop-entry string value, applied after the Exec quoting.
QString escapeStringValue(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        default: out += c; break;
        }
    }
    return out;
}

QString unescapeStringValue(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        switch (next.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default:
            out += c;
            out += next;
            break;
        }
    }
    return out;
}

QString applicationPath(const QUrl &appUrl)
{
    return appUrl.isLocalFile() ? lg::FileNames::pathOf(appUrl) : QString();
}

} // namespace

QString LaunchOnStartup::entryFileName(const QString &program)
{
    const QString path = program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString named = canonical.isEmpty() ? lg::LexicalPaths::clean(path) : canonical;
    const QByteArray hash = QCryptographicHash::hash(named.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    return QStringLiteral(LG_APPLICATION_NAME "-") + QString::fromLatin1(hash) + QStringLiteral(".desktop");
}

QString LaunchOnStartup::entryPath(const QString &program)
{
    return lg::Paths::autostart() + QLatin1Char('/') + entryFileName(program);
}

QStringList LaunchOnStartup::candidateEntries()
{
    const QDir folder(lg::Paths::autostart());
    QStringList paths;
    // The plain name is what earlier versions wrote.
    for (const QString &name : folder.entryList({QStringLiteral(LG_APPLICATION_NAME ".desktop"),
                                                 QStringLiteral(LG_APPLICATION_NAME "-*.desktop")},
                                                QDir::Files | QDir::Hidden, QDir::Name))
        paths.append(folder.filePath(name));
    return paths;
}

QString LaunchOnStartup::execValue(const QString &program)
{
    // Always quoted: inside the quotes, " ` $ and \ take a backslash; a literal
    // % is written %%. The string escapes of the file format come on top.
    QString quoted = QStringLiteral("\"");
    for (QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
    }
    quoted += QLatin1Char('"');
    return escapeStringValue(quoted);
}

std::optional<QString> LaunchOnStartup::programOfExecValue(const QString &value)
{
    const QString command = unescapeStringValue(value).trimmed();
    if (command.isEmpty())
        return std::nullopt;
    QString program;
    qsizetype i = 0;
    const bool quoted = command.at(0) == QLatin1Char('"');
    if (quoted)
        ++i;
    for (; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quoted && c == QLatin1Char('"'))
            return program.isEmpty() ? std::nullopt : std::optional<QString>(program);
        if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t')))
            break;
        if (quoted && c == QLatin1Char('\\') && i + 1 < command.size()) {
            program += command.at(++i);
            continue;
        }
        if (c == QLatin1Char('%')) {
            if (i + 1 < command.size() && command.at(i + 1) == QLatin1Char('%')) {
                program += QLatin1Char('%');
                ++i;
            }
            // Any other field code stands for no text here.
            else if (i + 1 < command.size()) {
                ++i;
            }
            continue;
        }
        program += c;
    }
    if (quoted)  // the closing quote is missing
        return std::nullopt;
    return program.isEmpty() ? std::nullopt : std::optional<QString>(program);
}

std::optional<QString> LaunchOnStartup::programOfEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec"))
            continue;
        return programOfExecValue(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

bool LaunchOnStartup::samePath(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return lg::LexicalPaths::clean(a) == lg::LexicalPaths::clean(b);
}

LoginItemReferences loginItemReferences(const QUrl &appUrl)
{
    LoginItemReferences references;
    const QString application = applicationPath(appUrl);
    for (const QString &path : LaunchOnStartup::candidateEntries()) {
        const std::optional<QString> program = LaunchOnStartup::programOfEntry(path);
        if (program && LaunchOnStartup::samePath(*program, application)) {
            references.existingItem = path;
            break;
        }
    }
    return references;
}

void setLaunchAtLogin(bool enable, const QUrl &appUrl)
{
    const LoginItemReferences references = loginItemReferences(appUrl);
    if (!enable) {
        if (references.existingItem)
            addLoginitem::shared().itemRefInLoginItems();
        return;
    }
    if (references.existingItem)
        return;
    const QString program = applicationPath(appUrl);
    if (program.isEmpty())
        return;
    const QString folder = lg::Paths::autostart();
    if (!QDir().mkpath(folder)) {
        printLine(QStringLiteral("Could not create the autostart folder ") + folder);
        return;
    }
    const QString text = QStringLiteral(
                             "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=" LG_DISPLAY_NAME "\n"
                             "Exec=%1\n"
                             "Icon=" LG_APPLICATION_NAME "\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n")
                             .arg(LaunchOnStartup::execValue(program));
    const QString entry = LaunchOnStartup::entryPath(program);
    if (QFileInfo::exists(entry) || QFileInfo(entry).isSymLink()) {
        // Named like ours but starting something else: not ours to replace.
        printLine(QStringLiteral("The autostart entry ") + entry + QStringLiteral(" starts another program; it is left alone"));
        return;
    }
    QSaveFile file(entry);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        printLine(QStringLiteral("Could not write the autostart entry ") + file.fileName());
}

addLoginitem &addLoginitem::shared()
{
    static addLoginitem instance;
    return instance;
}

std::optional<QString> addLoginitem::itemRefInLoginItems()
{
    const QString bundlePath = QCoreApplication::applicationFilePath();
    QString path;  // when several start this program, the last one
    for (const QString &candidate : LaunchOnStartup::candidateEntries()) {
        const std::optional<QString> program = LaunchOnStartup::programOfEntry(candidate);
        if (program && LaunchOnStartup::samePath(*program, bundlePath))
            path = candidate;
    }
    if (path.isEmpty())
        return std::nullopt;
    if (!QFile::remove(path)) {
        printLine(QStringLiteral("Could not remove the autostart entry ") + path);
        return std::nullopt;
    }
    return path;
}
