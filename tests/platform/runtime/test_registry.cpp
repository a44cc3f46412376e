// The controller registry: one instance per identifier, reset, and the
// programming mistakes it stops on.
#include "platform/runtime/ControllerRegistry.h"
#include "tests/support/TestSupport.h"

#include <QPointer>
#include <QProcess>
#include <QObject>

namespace {

int madeCount = 0;

class PanelController : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
};

class OtherController : public QObject
{
    Q_OBJECT
};

const char *mistakeVariable = "LG_REGISTRY_MISTAKE";

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Run again as a child process by fatalMistakesStopWithAClearMessage.
        const QByteArray mistake = qgetenv(mistakeVariable);
        if (mistake == "unknown")
            lg::ControllerRegistry::instance<PanelController>(QStringLiteral("NoSuchScene"));
        if (mistake == "wrongClass") {
            lg::ControllerRegistry::registerFactory(QStringLiteral("OtherController"), [] { return new OtherController; });
            lg::ControllerRegistry::instance<PanelController>(QStringLiteral("OtherController"));
        }

        lg::ControllerRegistry::registerFactory(QStringLiteral("PanelController"), [] {
            ++madeCount;
            return new PanelController;
        });
        // A controller made as the child of another.
        lg::ControllerRegistry::registerFactory(QStringLiteral("ChildController"), [] {
            return new QObject(lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController")));
        });
    }

    void init()
    {
        lg::ControllerRegistry::reset();
        madeCount = 0;
    }

    void oneInstancePerIdentifier()
    {
        QVERIFY(lg::ControllerRegistry::hasFactory(QStringLiteral("PanelController")));
        QVERIFY(!lg::ControllerRegistry::hasFactory(QStringLiteral("NoSuchScene")));
        QCOMPARE(lg::ControllerRegistry::existing(QStringLiteral("PanelController")), nullptr);
        QCOMPARE(madeCount, 0);  // existing() never makes one

        auto *first = lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController"));
        auto *second = lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController"));
        QVERIFY(first);
        QCOMPARE(first, second);
        QCOMPARE(madeCount, 1);
        QCOMPARE(lg::ControllerRegistry::existing(QStringLiteral("PanelController")), first);
        // Asked for as a base class, the same instance.
        QCOMPARE(lg::ControllerRegistry::instance<QObject>(QStringLiteral("PanelController")), first);
    }

    void resetDeletesEveryInstanceOnce()
    {
        QPointer<PanelController> parent = lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController"));
        QPointer<QObject> child = lg::ControllerRegistry::instance<QObject>(QStringLiteral("ChildController"));
        QCOMPARE(child->parent(), parent.data());
        QObject outside;  // a parent that the registry does not own
        QPointer<QObject> adopted = lg::ControllerRegistry::instance<QObject>(QStringLiteral("ChildController"));
        adopted->setParent(&outside);

        lg::ControllerRegistry::reset();
        QVERIFY(parent.isNull());
        QVERIFY(child.isNull());
        QVERIFY(adopted.isNull());
        QCOMPARE(lg::ControllerRegistry::existing(QStringLiteral("PanelController")), nullptr);
        QVERIFY(outside.children().isEmpty());

        // The factories stay: the next use makes a new one.
        QVERIFY(lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController")));
        QCOMPARE(madeCount, 2);
    }

    void instanceDeletedElsewhereIsMadeAnew()
    {
        auto *first = lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController"));
        delete first;
        QCOMPARE(lg::ControllerRegistry::existing(QStringLiteral("PanelController")), nullptr);
        QVERIFY(lg::ControllerRegistry::instance<PanelController>(QStringLiteral("PanelController")));
        QCOMPARE(madeCount, 2);
    }

    void fatalMistakesStopWithAClearMessage_data()
    {
        QTest::addColumn<QByteArray>("mistake");
        QTest::addColumn<QString>("message");
        QTest::newRow("no factory") << QByteArray("unknown")
                                    << QStringLiteral("ControllerRegistry: no factory is registered for \"NoSuchScene\"");
        QTest::newRow("wrong class")
            << QByteArray("wrongClass")
            << QStringLiteral("ControllerRegistry: the controller \"OtherController\" is a OtherController, not a PanelController");
    }

    void fatalMistakesStopWithAClearMessage()
    {
        QFETCH(QByteArray, mistake);
        QFETCH(QString, message);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(mistakeVariable), QString::fromLatin1(mistake));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:handle_abort=0"));
        // The child stops without cleaning up: its temporary home goes inside ours.
        environment.insert(QStringLiteral("TMPDIR"), lg::test::freshFolder(QStringLiteral("child-tmp")));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-silent")});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
        const QString output = QString::fromLocal8Bit(child.readAllStandardError() + child.readAllStandardOutput());
        QVERIFY2(output.contains(message), qPrintable(output));
    }
};

LG_TEST(RegistryTest)
#include "test_registry.moc"
