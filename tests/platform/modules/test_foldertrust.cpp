// Where the codec modules are found and which folders are trusted: the
// program's own module folder, never one that users other than root and ours
// may change, and a group's folder only where nobody but its owner is in it.
#include "platform/modules/Modules.h"
#include "tests/platform/modules/ModulesTesting.h"

#include <QtTest>

#include <optional>
#include <vector>

using namespace modulestest;
using lg::image::Module;

class FolderTrustTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theModuleFolderIsTheProgramsOwn_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("buildFolder");
        QTest::addColumn<QString>("folder");
        QTest::newRow("build tree") << QStringLiteral("/home/ann/src/lg/build/lumengallery")
                                    << QStringLiteral("/home/ann/src/lg/build") << QStringLiteral("/home/ann/src/lg/build");
        QTest::newRow("build tree in /tmp") << QStringLiteral("/tmp/build/lumengallery") << QStringLiteral("/tmp/build/")
                                            << QStringLiteral("/tmp/build");
        QTest::newRow("installed") << QStringLiteral("/usr/bin/lumengallery") << QStringLiteral("/tmp/build")
                                   << QStringLiteral("/usr/lib/lumengallery");
        QTest::newRow("installed in /opt") << QStringLiteral("/opt/lg/bin/lumengallery") << QStringLiteral("/home/ann/build")
                                           << QStringLiteral("/opt/lg/lib/lumengallery");
    }

    void theModuleFolderIsTheProgramsOwn()
    {
        QFETCH(QString, executable);
        QFETCH(QString, buildFolder);
        QFETCH(QString, folder);
        QCOMPARE(lg::image::moduleFolderForProgram(executable, buildFolder), folder);
    }

    // Modules in a folder that users other than root and ours may change are
    // never used: a build folder made in a shared one, like "cmake -B /tmp/build".
    void foldersOthersMayChangeAreNotSearched_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("refused");   // in the reason; empty: loaded
        QTest::newRow("own folders") << QStringLiteral("own") << QString();
        QTest::newRow("build folder in a shared folder") << QStringLiteral("shared parent")
                                                         << QStringLiteral("/shared may be changed by other users");
        QTest::newRow("module folder writable by a group of others") << QStringLiteral("group folder")
                                                                     << QStringLiteral("/lib/lumengallery may be changed by other users");
        QTest::newRow("module file others may write") << QStringLiteral("open file")
                                                      << QStringLiteral("lumengallery_heif.so may be changed by other users");
        QTest::newRow("module folder a link into a shared one") << QStringLiteral("link")
                                                                << QStringLiteral("/open may be changed by other users");
        QTest::newRow("another user's folder in a sticky one") << QStringLiteral("sticky")
                                                               << QStringLiteral("/lib/lumengallery belongs to another user");
    }

    void foldersOthersMayChangeAreNotSearched()
    {
        QFETCH(QString, shape);
        QFETCH(QString, refused);
        QString root = freshFolder(QStringLiteral("shared"));
        QVERIFY(makeFolder(root));
        QString bin = QStringLiteral("bin");
        if (shape == QLatin1String("shared parent") || shape == QLatin1String("sticky")) {
            if (shape == QLatin1String("sticky") && geteuid() != 0)
                QSKIP("only root gives a folder to another user");
            root += QStringLiteral("/shared");
            QVERIFY(makeFolder(root, shape == QLatin1String("sticky") ? 01777 : 0777));
            bin = QStringLiteral("build");
        }
        const QString program = installHelper(root, stubModule("good"), bin);
        QVERIFY(!program.isEmpty());
        const QByteArray modules = QFile::encodeName(root + QStringLiteral("/lib/lumengallery"));
        if (shape == QLatin1String("group folder")) {
            // nogroup: the primary group of nobody and of system users.
            if (geteuid() != 0)
                QSKIP("only root gives a folder to another group");
            QCOMPARE(::chown(modules.constData(), geteuid(), 65534), 0);
            QCOMPARE(::chmod(modules.constData(), 0775), 0);
        }
        if (shape == QLatin1String("open file"))
            QCOMPARE(::chmod((modules + "/lumengallery_heif.so").constData(), 0666), 0);
        if (shape == QLatin1String("link")) {
            // lib -> open/lib, where open is writable by all and open/lib is not.
            const QString open = root + QStringLiteral("/open");
            QVERIFY(makeFolder(open, 0777));
            QVERIFY(QFile::rename(root + QStringLiteral("/lib"), open + QStringLiteral("/lib")));
            QVERIFY(QFile::link(open + QStringLiteral("/lib"), root + QStringLiteral("/lib")));
        }
        if (shape == QLatin1String("sticky")) {
            for (const QByteArray &path : {QFile::encodeName(root + QStringLiteral("/lib")), modules, modules + "/lumengallery_heif.so"})
                QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        }
        Helper helper;
        QVERIFY(helper.start(program, root));
        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        if (refused.isEmpty()) {
            QCOMPARE(joined(lines), QStringLiteral("heif 4321x1"));
            return;
        }
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].contains(QLatin1String("The HEIC module, or the folder it is in, may be changed by other users, so it is not used.")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(refused), qPrintable(lines[1]));
    }

    // A folder its group may change is trusted when nobody but its owner is
    // in that group (a user-private group, or root's on an install made with
    // umask 002), as OpenSSH rules for its own files; never when the group is
    // unknown, holds nobody (programs set to run as it write with it) or
    // holds another user, by name or as the user's primary group.
    void aFolderOnlyItsOwnersGroupMayChangeIsTrusted_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("known");           // the group
        QTest::addColumn<QList<uint>>("members");  // 0: its owner, else another user
        QTest::addColumn<bool>("trusted");
        QTest::newRow("its owner's group alone") << 0775 << true << QList<uint> {0} << true;
        QTest::newRow("its owner, by name and as primary") << 0775 << true << QList<uint> {0, 0} << true;
        QTest::newRow("another member") << 0775 << true << QList<uint> {0, 4242} << false;
        QTest::newRow("another user's group alone") << 0775 << true << QList<uint> {4242} << false;
        QTest::newRow("a group of nobody") << 0775 << true << QList<uint> {} << false;
        QTest::newRow("an unknown group") << 0775 << false << QList<uint> {} << false;
        QTest::newRow("writable by all") << 0777 << true << QList<uint> {0} << false;
        QTest::newRow("not group-writable") << 0755 << true << QList<uint> {0, 4242} << true;
    }

    void aFolderOnlyItsOwnersGroupMayChangeIsTrusted()
    {
        QFETCH(int, mode);
        QFETCH(bool, known);
        QFETCH(QList<uint>, members);
        QFETCH(bool, trusted);
        const QString folder = freshFolder(QStringLiteral("grouped")) + QStringLiteral("/lib/lumengallery");
        QVERIFY(makeFolder(folder, mode_t(mode)));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QList<gid_t> asked;
        lg::image::setGroupMembersLookupForTesting([&](gid_t group) -> std::optional<std::vector<uid_t>> {
            asked << group;
            if (!known)
                return std::nullopt;
            std::vector<uid_t> users;
            for (const uint member : std::as_const(members))
                users.push_back(member == 0 ? st.st_uid : uid_t(member));
            return users;
        });
        const auto restore = qScopeGuard([] { lg::image::setGroupMembersLookupForTesting({}); });
        const QString reason = lg::image::untrustedFolderReason(folder);
        if (trusted) {
            QCOMPARE(reason, QString());
        } else {
            QCOMPARE(reason, folder + QStringLiteral(" may be changed by other users"));
        }
        if (mode == 0775)
            QVERIFY(asked.contains(st.st_gid));
    }
};

LG_TEST(FolderTrustTest)
#include "test_foldertrust.moc"
