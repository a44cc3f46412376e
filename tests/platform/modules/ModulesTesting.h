#pragma once
// What the tests of the modules room share: the stand-in HEIC modules the
// build makes (tests/CMakeLists.txt), the small program that loads modules as
// the program does (helper/moduleshelper.cpp) installed in folders of a test's
// own, the conversation with it, and damage done to a module file as a bad
// disk or a bad download would. The tests run on the main thread.
#include "platform/modules/Modules.h"
#include "tests/support/ElfSections.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

namespace modulestest {

using namespace lg::test;
using namespace lg::test::fixtures;

inline const QString realModules = QStringLiteral(LG_REAL_MODULES);

inline QString stubModule(const char *variant)
{
    return QStringLiteral(LG_STUB_MODULES "/%1/lumengallery_heif.so").arg(QLatin1String(variant));
}

// The stand-in modules the helper takes as this build's.
inline QStringList acceptedStubs()
{
    return {stubModule("good"), stubModule("missingsymbol")};
}

inline bool copyFile(const QString &from, const QString &to, QFile::Permissions permissions = QFile::Permissions(0x7755))
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, permissions);
}

// Renames a new file over path, as a package manager replaces a file.
inline bool replaceByRename(const QString &from, const QString &path)
{
    const QString next = path + QStringLiteral(".dpkg-new");
    return copyFile(from, next) && ::rename(QFile::encodeName(next).constData(), QFile::encodeName(path).constData()) == 0;
}

inline bool makeFolder(const QString &path, mode_t mode = 0755)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// The helper program installed as the program is: <root>/bin and
// <root>/lib/lumengallery, with heif (empty: none) as its HEIC module.
inline QString installHelper(const QString &root, const QString &heif, const QString &bin = QStringLiteral("bin"))
{
    const QString program = QDir(root).filePath(bin + QStringLiteral("/moduleshelper"));
    const QString modules = QDir(root).filePath(QStringLiteral("lib/lumengallery"));
    if (!makeFolder(QFileInfo(program).path()) || !makeFolder(modules) || !copyFile(QStringLiteral(LG_MODULES_HELPER), program))
        return {};
    if (!heif.isEmpty() && !copyFile(heif, QDir(modules).filePath(QStringLiteral("lumengallery_heif.so"))))
        return {};
    return program;
}

struct Helper
{
    QProcess process;

    // A stand-in module whose code runs creates marker (empty: none); the
    // program takes the stand-ins accepted as this build's, and is started
    // through wrapper (a command such as unshare's; empty: none).
    bool start(const QString &program, const QString &workingFolder, const QString &marker = QString(),
               const QStringList &accepted = acceptedStubs(), const QStringList &wrapper = {})
    {
        process.setWorkingDirectory(workingFolder);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!marker.isEmpty())
            environment.insert(QStringLiteral("LG_STUB_MARKER"), marker);
        process.setProcessEnvironment(environment);
        if (wrapper.isEmpty())
            process.start(program, accepted);
        else
            process.start(wrapper.constFirst(), wrapper.mid(1) + QStringList {program} + accepted);
        return process.waitForStarted(30000) && answer().isEmpty();
    }
    // The lines before "done" (or "ready"); a last line says when it ended instead.
    QStringList answer()
    {
        QStringList lines;
        while (true) {
            while (!process.canReadLine()) {
                if (!process.waitForReadyRead(60000)) {
                    process.waitForFinished(1000);
                    return lines << QStringLiteral("(ended: exit %1, %2)")
                                        .arg(process.exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed")
                                                                                           : QString::number(process.exitCode()),
                                             QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
                }
            }
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line == QLatin1String("done") || line == QLatin1String("ready"))
                return lines;
            lines << line;
        }
    }
    QStringList ask(const QString &command)
    {
        process.write((command + QLatin1Char('\n')).toLocal8Bit());
        return answer();
    }
    ~Helper()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(10000);
    }
};

// Whether programs can be started through wrapper here (a namespace made,
// a folder mounted): "true" started through it ends well.
inline bool wrapperRuns(const QStringList &wrapper)
{
    return run(wrapper.constFirst(), wrapper.mid(1) + QStringList {QStringLiteral("true")});
}

inline QString joined(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}

// The lines about the HEIC module but those of the log: a first refusal has
// the other modules checked too, and the helper's folders hold no other.
inline QStringList heifLines(const QStringList &lines)
{
    QStringList heif;
    for (const QString &line : lines)
        if ((!line.startsWith(QLatin1String("problem ")) || line.startsWith(QLatin1String("problem HEIC")))
            && !line.startsWith(QLatin1String("log ")))
            heif << line;
    return heif;
}

// The lines of the log among lines.
inline QStringList logLines(const QStringList &lines)
{
    QStringList log;
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("log ")))
            log << line;
    return log;
}


// Damages the module file at path as a bad disk or a bad download would, its
// layout intact: zeros over the start of its code or its dynamic section, or
// its string table pointed far outside it.
inline bool damageModule(const QString &path, const QString &how)
{
    QByteArray bytes = readAll(path);
    if (how == QLatin1String("zero code")) {
        const auto text = sectionOf(bytes, ".text");
        if (!text)
            return false;
        std::memset(bytes.data() + text->first, 0, size_t(std::min<qint64>(4096, text->second)));
    } else if (how == QLatin1String("zero dynamic")) {
        const auto dynamic = sectionOf(bytes, ".dynamic");
        if (!dynamic)
            return false;
        std::memset(bytes.data() + dynamic->first, 0, size_t(dynamic->second));
    } else if (how == QLatin1String("string table elsewhere")) {
        const auto dynamic = sectionOf(bytes, ".dynamic");
        if (!dynamic)
            return false;
        bool moved = false;
        for (qint64 at = dynamic->first; at + qint64(sizeof(ElfW(Dyn))) <= dynamic->first + dynamic->second;
             at += sizeof(ElfW(Dyn))) {
            ElfW(Dyn) entry;
            std::memcpy(&entry, bytes.constData() + at, sizeof entry);
            if (entry.d_tag == DT_STRTAB) {
                entry.d_un.d_ptr = 0x7ffffff0;
                std::memcpy(bytes.data() + at, &entry, sizeof entry);
                moved = true;
            }
        }
        if (!moved)
            return false;
    } else if (how == QLatin1String("note cut") || how == QLatin1String("note damaged")) {
        // The build note: 12 bytes of sizes and type, the name, the identifier.
        const auto note = sectionOf(bytes, ".note.lumengallery");
        if (!note)
            return false;
        if (how == QLatin1String("note cut")) {
            const std::uint32_t runsOut = 0x10000;
            std::memcpy(bytes.data() + note->first + 4, &runsOut, sizeof runsOut);
        } else {
            const qsizetype plus = bytes.indexOf('+', note->first + 12);
            if (plus < 0 || plus >= note->first + note->second)
                return false;
            bytes[plus] = '\x01';
        }
    } else {
        return false;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace modulestest
