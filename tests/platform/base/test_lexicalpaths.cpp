// Path rules by the spelling alone: the cleaned absolute form and containment
// by whole components.
#include "platform/base/LexicalPaths.h"
#include "tests/support/TestSupport.h"

#include <QDir>

class LexicalPathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isInsideComparesWholeComponents_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("inside");
        QTest::newRow("the base itself") << "/a/Trip" << "/a/Trip" << true;
        QTest::newRow("a child") << "/a/Trip/x" << "/a/Trip" << true;
        QTest::newRow("deeper") << "/a/Trip/x/y.jpg" << "/a/Trip" << true;
        QTest::newRow("trailing separators") << "/a/Trip/" << "/a/Trip/" << true;
        QTest::newRow("same prefix, other folder") << "/a/Trip 2" << "/a/Trip" << false;
        QTest::newRow("same prefix, no space") << "/a/Tripx/y" << "/a/Trip" << false;
        QTest::newRow("case differs") << "/a/trip/x" << "/a/Trip" << false;
        QTest::newRow("the parent") << "/a" << "/a/Trip" << false;
        QTest::newRow("dot-dot leaves") << "/a/Trip/../Other" << "/a/Trip" << false;
        QTest::newRow("dot-dot stays") << "/a/Trip/x/../y" << "/a/Trip" << true;
        QTest::newRow("root holds all") << "/etc/x" << "/" << true;
        QTest::newRow("empty path") << "" << "/a" << false;
        QTest::newRow("empty base") << "/a" << "" << false;
    }

    void isInsideComparesWholeComponents()
    {
        QFETCH(QString, path);
        QFETCH(QString, base);
        QFETCH(bool, inside);
        QCOMPARE(lg::LexicalPaths::isInside(path, base), inside);
    }

    void cleanGivesTheAbsolutePathWithoutDotsOrTrailingSeparators_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("cleaned");
        QTest::newRow("already clean") << "/a/b" << "/a/b";
        QTest::newRow("trailing separator") << "/a/b/" << "/a/b";
        QTest::newRow("doubled separators") << "/a//b" << "/a/b";
        QTest::newRow("dot and dot-dot") << "/a/./b/../c" << "/a/c";
        QTest::newRow("the root") << "/" << "/";
        QTest::newRow("relative") << "x/../y" << QDir::currentPath() + "/y";
        QTest::newRow("empty") << "" << QString();
    }

    void cleanGivesTheAbsolutePathWithoutDotsOrTrailingSeparators()
    {
        QFETCH(QString, path);
        QFETCH(QString, cleaned);
        QCOMPARE(lg::LexicalPaths::clean(path), cleaned);
    }
};

LG_TEST(LexicalPathsTest)
#include "test_lexicalpaths.moc"
