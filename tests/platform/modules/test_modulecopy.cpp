// What is loaded of a module is the bytes that were checked, by a name other
// processes can open: a sealed memory copy, or where the system refuses to
// run code from memory files, a file copy in a folder only the user may change.
#include "tests/platform/modules/ModulesTesting.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace modulestest;
using lg::image::Module;

namespace {

// Where size bytes of elf lie that the loader maps and the check does not
// cover: right after the end of an executable segment, in its last page; -1
// where there are none.
qint64 uncheckedMappedBytes(const QByteArray &elf, qint64 size)
{
    ElfW(Ehdr) header;
    if (elf.size() < qsizetype(sizeof header))
        return -1;
    std::memcpy(&header, elf.constData(), sizeof header);
    if (elf.size() < qsizetype(header.e_phoff + header.e_phnum * sizeof(ElfW(Phdr))))
        return -1;
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    std::memcpy(segments.data(), elf.constData() + header.e_phoff, segments.size() * sizeof(ElfW(Phdr)));
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    for (const ElfW(Phdr) &code : segments) {
        if (code.p_type != PT_LOAD || (code.p_flags & PF_X) == 0)
            continue;
        const qint64 end = qint64(code.p_offset + code.p_filesz);
        if ((end + page - 1) / page * page < end + size || end + size > elf.size())
            continue;
        const bool covered = std::any_of(segments.begin(), segments.end(), [&](const ElfW(Phdr) &other) {
            return other.p_type == PT_LOAD && qint64(other.p_offset) < end + size && qint64(other.p_offset + other.p_filesz) > end;
        });
        if (!covered)
            return end;
    }
    return -1;
}

// The rows of a test run where the system allows running code from memory
// files and where it refuses it.
void memoryRows()
{
    QTest::addColumn<bool>("memoryRefused");
    QTest::newRow("sealed memory copy") << false;
    QTest::newRow("memory files refused") << true;
}

} // namespace

class ModuleCopyTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_dng;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("modules"));
        m_dng = writeModuleDng(m_folder);
    }

    // The module is loaded by a name that another process, such as a
    // debugger or a profiler, can open while the program runs, and that holds
    // the bytes that were checked: never /proc/self/..., which names the
    // opener's own handles. Where the system refuses to run code from memory
    // files, that is a file copy in a folder only the user may change.
    void theLoadedModuleHasANameOthersCanOpen_data()
    {
        memoryRows();
    }

    void theLoadedModuleHasANameOthersCanOpen()
    {
        QFETCH(bool, memoryRefused);
        const QString root = freshFolder(QStringLiteral("named"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        if (memoryRefused)
            QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
        const QStringList said = helper.ask(QStringLiteral("object"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QLatin1String("object /")), qPrintable(said[0]));
        const QString name = said[0].mid(7);
        QVERIFY2(!name.startsWith(QLatin1String("/proc/self/")), qPrintable(name));
        QVERIFY2(name != root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so"), "the module file itself was loaded");
        // Opened here, in another process, as gdb and perf open it, and kept
        // once the process has ended, for a crash report: a copy in a folder
        // only the user may change.
        QCOMPARE(readAll(name), readAll(stubModule("good")));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(name).path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        // What runs is the sealed memory copy, where the system allows it.
        if (!memoryRefused)
            for (const QString &line : helper.ask(QStringLiteral("maps")))
                QVERIFY2(line.startsWith(QLatin1String("mapped /memfd:lumengallery_heif.so")), qPrintable(line));
    }

    // Where the system refuses to run code from memory files, modules run from
    // copies of their files, which the log says once; bytes written over the
    // module file after its check still never run, and a module that cannot
    // be loaded from its copy is refused, never loaded another way.
    void whereMemoryFilesMayNotRunOnlyWhatWasCheckedRuns()
    {
        const QString root = freshFolder(QStringLiteral("no-memory-exec"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString modules = root + QStringLiteral("/lib/lumengallery");
        const QString installed = modules + QStringLiteral("/lumengallery_heif.so");
        QVERIFY(copyFile(realModules + QStringLiteral("/lumengallery_raw.so"), modules + QStringLiteral("/lumengallery_raw.so")));
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList {QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; the one checked 4321x1.
        const QStringList heif = helper.ask(QStringLiteral("heif ") + program);
        QCOMPARE(joined(heifLines(heif)), QStringLiteral("heif 4321x1"));
        QVERIFY(readAll(installed) == readAll(stubModule("foreign")));
        QStringList log = logLines(heif);
        QCOMPARE(log.size(), 1);
        QVERIFY2(log[0].contains(QLatin1String("does not run code from memory files: the codec modules run from copies "
                                               "of their files")),
                 qPrintable(log[0]));
        // Another module loads the same way, without a second word.
        QVERIFY(!m_dng.isEmpty());
        const QStringList raw = helper.ask(QStringLiteral("show ") + m_dng);
        QCOMPARE(joined(raw), QStringLiteral("show 60x40"));
        const QStringList maps = helper.ask(QStringLiteral("maps"));
        QVERIFY(!maps.isEmpty());
        for (const QString &line : maps)
            QVERIFY2(!line.contains(modules) && !line.contains(QLatin1String("/memfd:")), qPrintable(line));
    }

    // A module written over in place after its bytes were checked and before
    // they are loaded: what is loaded is what was checked.
    void aModuleWrittenOverBetweenItsCheckAndItsLoadIsLoadedAsChecked()
    {
        const QString root = freshFolder(QStringLiteral("swapped"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList{QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; this build's answers 4321x1.
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
    }

    // In a pid namespace that sees the host's /proc (unshare --pid without a
    // /proc of its own, bwrap --unshare-pid without --proc), the process's own
    // number names another process there: the memory copy is named by the
    // number /proc gives, and is loaded from there.
    void inAPidNamespaceTheMemoryCopyIsNamedByProcsNumber()
    {
        const QStringList wrapper = {QStringLiteral("unshare"), QStringLiteral("--pid"), QStringLiteral("--fork"),
                                     QStringLiteral("--")};
        if (!wrapperRuns(wrapper))
            QSKIP("no pid namespace can be made here");
        const QString root = freshFolder(QStringLiteral("pid-namespace"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root, QString(), acceptedStubs(), wrapper));
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
        const QStringList maps = helper.ask(QStringLiteral("maps"));
        QVERIFY(!maps.isEmpty());
        for (const QString &line : maps)
            QVERIFY2(line.startsWith(QLatin1String("mapped /memfd:lumengallery_heif.so")), qPrintable(line));
    }

    // Where memory files may not run code, each folder a copy may be kept in
    // is tried in turn: a session folder mounted noexec gives way to the cache
    // folder; where none allows running code, the window says so and offers
    // no reinstall. The folders are mounted noexec in a mount namespace of the
    // helper's own.
    void whereAFolderMayNotRunCodeTheNextIsTried_data()
    {
        QTest::addColumn<QStringList>("noexec");   // the variables naming the folders mounted noexec
        QTest::addColumn<bool>("loads");
        QTest::newRow("the session's folder") << QStringList {QStringLiteral("XDG_RUNTIME_DIR")} << true;
        QTest::newRow("every folder") << QStringList {QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("XDG_CACHE_HOME")}
                                      << false;
    }

    void whereAFolderMayNotRunCodeTheNextIsTried()
    {
        QFETCH(QStringList, noexec);
        QFETCH(bool, loads);
        QString mounts;
        for (const QString &variable : std::as_const(noexec))
            mounts += QStringLiteral("mount -t tmpfs -o noexec,mode=0700 lumengallery-noexec \"$%1\" && ").arg(variable);
        const QStringList wrapper = {QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("--"),
                                     QStringLiteral("sh"), QStringLiteral("-c"), mounts + QStringLiteral("exec \"$@\""),
                                     QStringLiteral("sh")};
        if (!wrapperRuns(wrapper))
            QSKIP("no folder can be mounted noexec here");
        const QString root = freshFolder(QStringLiteral("noexec"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root, QString(), acceptedStubs(), wrapper));
        QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});

        const QStringList answer = helper.ask(QStringLiteral("heif ") + program);
        const QStringList lines = heifLines(answer);
        if (loads) {
            QCOMPARE(joined(lines), QStringLiteral("heif 4321x1"));
            const QString cache = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/lumengallery/modules/");
            const QStringList log = logLines(answer);
            QVERIFY2(log.size() == 1 && log[0].contains(cache), qPrintable(joined(log)));
            const QStringList maps = helper.ask(QStringLiteral("maps"));
            QVERIFY(!maps.isEmpty());
            for (const QString &line : maps)
                QVERIFY2(line.startsWith(QLatin1String("mapped ") + cache), qPrintable(line));
            return;
        }
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QCOMPARE(lines[0], QStringLiteral("problem HEIC and AVIF pictures cannot be shown | The HEIC module cannot be run: "
                                          "this system runs code neither from memory nor from the folders where Lumen "
                                          "Gallery may keep a copy of it."));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(QLatin1String("does not allow running code")),
                 qPrintable(lines[1]));
    }

    // Two programs running modules from copies at once never remove each
    // other's: the copy one of them loaded stays under its name once the
    // other, with a module of its own, has loaded it.
    void copiesAnotherProgramLoadedStay()
    {
        const QString first = freshFolder(QStringLiteral("first"));
        const QString second = freshFolder(QStringLiteral("second"));
        const QString firstProgram = installHelper(first, stubModule("good"));
        const QString secondProgram = installHelper(second, stubModule("foreign"));
        QVERIFY(!firstProgram.isEmpty() && !secondProgram.isEmpty());
        Helper one;
        Helper other;
        QVERIFY(one.start(firstProgram, first));
        QVERIFY(other.start(secondProgram, second, QString(), {stubModule("foreign")}));
        for (Helper *helper : {&one, &other})
            QCOMPARE(helper->ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});

        QCOMPARE(joined(heifLines(one.ask(QStringLiteral("heif ") + firstProgram))), QStringLiteral("heif 4321x1"));
        QCOMPARE(joined(heifLines(other.ask(QStringLiteral("heif ") + secondProgram))), QStringLiteral("heif 1234x5"));
        const QStringList named = one.ask(QStringLiteral("object"));
        QCOMPARE(named.size(), 1);
        QCOMPARE(readAll(named[0].mid(7)), readAll(stubModule("good")));
        const QStringList maps = one.ask(QStringLiteral("maps"));
        QVERIFY(!maps.isEmpty());
        for (const QString &line : maps)
            QVERIFY2(!line.endsWith(QLatin1String("(deleted)")), qPrintable(line));
    }

    // A crash report read after the process is gone names the module's frames
    // and the program's own below them: gdb makes a core of the helper stopped
    // by an abort inside a stand-in module, and another gdb reads it once the
    // process has ended.
    void aCoreNamesTheModulesFrames_data()
    {
        memoryRows();
    }

    void aCoreNamesTheModulesFrames()
    {
        QFETCH(bool, memoryRefused);
        if (!hasTool(QStringLiteral("gdb")))
            QSKIP("gdb is not installed");
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("a core of a program built with AddressSanitizer holds its shadow memory, many gigabytes");
#endif
        const QString root = freshFolder(QStringLiteral("core"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString commands = root + QStringLiteral("/commands");
        writeFile(commands, QByteArray(memoryRefused ? "nomemexec\n" : "") + "heif " + QFile::encodeName(program) + '\n');
        const QString core = root + QStringLiteral("/core");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LG_STUB_ABORT"), QStringLiteral("1"));
        environment.remove(QStringLiteral("DEBUGINFOD_URLS"));   // never the network
        const QStringList quiet = {QStringLiteral("-batch"), QStringLiteral("-nx"), QStringLiteral("-iex"),
                                   QStringLiteral("set debuginfod enabled off")};
        QProcess made;
        made.setProcessChannelMode(QProcess::MergedChannels);
        made.setProcessEnvironment(environment);
        made.setWorkingDirectory(root);
        // run's words replace the arguments: they are given there, through the shell.
        QString run = QStringLiteral("run");
        for (const QString &stub : acceptedStubs())
            run += QStringLiteral(" '%1'").arg(stub);
        made.start(QStringLiteral("gdb"), quiet + QStringList {QStringLiteral("-ex"), run + QStringLiteral(" < commands > /dev/null"),
                                                              QStringLiteral("-ex"), QStringLiteral("gcore ") + core,
                                                              QStringLiteral("-ex"), QStringLiteral("kill"), program});
        QVERIFY(made.waitForFinished(120000));
        const QString making = QString::fromLocal8Bit(made.readAll());
        const auto removeCore = qScopeGuard([&core] { QFile::remove(core); });
        if (!making.contains(QLatin1String("Saved corefile")))
            QSKIP(qPrintable(QStringLiteral("no core can be made here: ") + making));

        QProcess reader;
        reader.setProcessChannelMode(QProcess::MergedChannels);
        reader.setProcessEnvironment(environment);
        reader.start(QStringLiteral("gdb"), quiet + QStringList {QStringLiteral("-ex"), QStringLiteral("bt"), program, core});
        QVERIFY(reader.waitForFinished(120000));
        const QString said = QString::fromLocal8Bit(reader.readAll());
        QVERIFY2(said.contains(QRegularExpression(QStringLiteral("#[0-9]+ .*lumengallery_stub_stops_here"))), qPrintable(said));
        QVERIFY2(said.contains(QRegularExpression(QStringLiteral("#[0-9]+ .* in main \\("))), qPrintable(said));
    }

    // The bytes of the pages the loader maps that the check does not cover
    // (past a segment's end in its last page) never load: a payload placed
    // there is nowhere in those pages once the module is loaded, from the
    // memory copy or a file copy alike.
    void bytesMappedButNotCheckedNeverLoad_data()
    {
        memoryRows();
    }

    void bytesMappedButNotCheckedNeverLoad()
    {
        QFETCH(bool, memoryRefused);
        const QByteArray payload = "lumengallery: a payload the check never saw";
        QByteArray module = readAll(stubModule("good"));
        const qint64 at = uncheckedMappedBytes(module, payload.size());
        if (at < 0)
            QSKIP("the stand-in module has no unchecked bytes after its code");
        module.replace(at, payload.size(), payload);
        const QString root = freshFolder(QStringLiteral("payload"));
        const QString program = installHelper(root, QString());
        QVERIFY(!program.isEmpty());
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        writeFile(installed, module);
        QVERIFY(QFile::setPermissions(installed, QFile::Permissions(0x7755)));
        Helper helper;
        QVERIFY(helper.start(program, root));
        if (memoryRefused)
            QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});

        // What the check covers is the stand-in's: it loads.
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
        QCOMPARE(helper.ask(QStringLiteral("finds ") + QString::fromLatin1(payload)), QStringList {QStringLiteral("finds no")});
    }
};

LG_TEST(ModuleCopyTest)
#include "test_modulecopy.moc"
