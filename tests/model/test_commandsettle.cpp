// The settle after a file command: which thumbnails follow, which failures are told.
#include "model/CommandSettle.h"
#include "model/ThumbnailCache.h"
#include "tests/support/TestSupport.h"

#include <QTest>

namespace QTest {
template <>
inline char *toString(const ThumbnailChange &change)
{
    const QByteArray text = (change.kind == ThumbnailChange::Moved ? "moved " : "removed ") + change.from.toUtf8()
                          + " -> " + change.to.toUtf8();
    return qstrdup(text.constData());
}
} // namespace QTest

namespace {

// The outcomes a command's item can have.
enum class Outcome {
    Done, DoneNotAllKept, InPlaceButLeftSome, SameFile, SourceMissing, TargetExists, Denied, Cancelled
};

lg::FileOpResult resultOf(Outcome outcome, const QString &name = QStringLiteral("photo.jpg"))
{
    lg::FileOpResult r;
    r.source = QStringLiteral("/photos/") + name;
    r.target = QStringLiteral("/elsewhere/") + name;
    switch (outcome) {
    case Outcome::Done: break;
    case Outcome::DoneNotAllKept: r.attributesNotKept = {r.target}; break;
    case Outcome::InPlaceButLeftSome: r.error = lg::FileOpError::Other; r.itemInPlace = true; break;
    case Outcome::SameFile: r.error = lg::FileOpError::SameFile; r.target = r.source; break;
    case Outcome::SourceMissing: r.error = lg::FileOpError::SourceMissing; break;
    case Outcome::TargetExists: r.error = lg::FileOpError::TargetExists; break;
    case Outcome::Denied: r.error = lg::FileOpError::Denied; break;
    case Outcome::Cancelled: r.error = lg::FileOpError::Cancelled; break;
    }
    return r;
}

const char *nameOf(lg::FileOpKind command)
{
    switch (command) {
    case lg::FileOpKind::Copy: return "copy";
    case lg::FileOpKind::Move: return "move";
    case lg::FileOpKind::Trash: return "trash";
    }
    return "?";
}

// A rename is settled as a move within its folder.
constexpr lg::FileOpKind allCommands[] = {lg::FileOpKind::Copy, lg::FileOpKind::Move, lg::FileOpKind::Trash};

} // namespace

Q_DECLARE_METATYPE(lg::FileOpKind)
Q_DECLARE_METATYPE(Outcome)

class CommandSettleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failuresAreToldByOneRule_data()
    {
        QTest::addColumn<lg::FileOpKind>("command");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("told");
        const struct
        {
            const char *name;
            Outcome outcome;
        } outcomes[] = {
            {"done", Outcome::Done},
            {"done, not all it held kept", Outcome::DoneNotAllKept},
            {"arrived, but something left behind", Outcome::InPlaceButLeftSome},
            {"onto itself", Outcome::SameFile},
            {"source gone", Outcome::SourceMissing},
            {"target exists", Outcome::TargetExists},
            {"denied", Outcome::Denied},
            {"cancelled", Outcome::Cancelled},
        };
        for (const lg::FileOpKind command : allCommands) {
            for (const auto &o : outcomes) {
                bool told = o.outcome != Outcome::Done;
                // Replacing an item by itself leaves it where it was asked to be.
                if (o.outcome == Outcome::SameFile && (command == lg::FileOpKind::Copy || command == lg::FileOpKind::Move))
                    told = false;
                // An item to be trashed that is already gone is what was asked.
                if (o.outcome == Outcome::SourceMissing && command == lg::FileOpKind::Trash)
                    told = false;
                QTest::addRow("%s: %s", nameOf(command), o.name) << command << o.outcome << told;
            }
        }
    }
    void failuresAreToldByOneRule()
    {
        QFETCH(lg::FileOpKind, command);
        QFETCH(Outcome, outcome);
        QFETCH(bool, told);
        const QList<lg::FileOpResult> results = {resultOf(outcome)};
        QCOMPARE(failuresToTell(command, results).size(), told ? 1 : 0);
        // The thumbnails are settled alongside; what is told is the same.
        ThumbnailCache cache;
        cache.setStore(nullptr);
        QCOMPARE(settleCommand(command, results, cache).size(), told ? 1 : 0);
    }

    void thumbnailsFollowWhatArrived_data()
    {
        QTest::addColumn<lg::FileOpKind>("command");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("change");   // -1 none, else a ThumbnailChange::Kind
        const int moved = ThumbnailChange::Moved, removed = ThumbnailChange::Removed;
        QTest::newRow("copy: done") << lg::FileOpKind::Copy << Outcome::Done << -1;
        QTest::newRow("copy: not all kept") << lg::FileOpKind::Copy << Outcome::DoneNotAllKept << -1;
        QTest::newRow("move: done") << lg::FileOpKind::Move << Outcome::Done << moved;
        QTest::newRow("move: not all kept") << lg::FileOpKind::Move << Outcome::DoneNotAllKept << moved;
        QTest::newRow("move: arrived, something left behind")
            << lg::FileOpKind::Move << Outcome::InPlaceButLeftSome << moved;
        QTest::newRow("move: target exists") << lg::FileOpKind::Move << Outcome::TargetExists << -1;
        QTest::newRow("move: denied") << lg::FileOpKind::Move << Outcome::Denied << -1;
        QTest::newRow("rename: done") << lg::FileOpKind::Move << Outcome::Done << moved;
        QTest::newRow("rename: target exists") << lg::FileOpKind::Move << Outcome::TargetExists << -1;
        QTest::newRow("trash: done") << lg::FileOpKind::Trash << Outcome::Done << removed;
        QTest::newRow("trash: arrived, something left behind")
            << lg::FileOpKind::Trash << Outcome::InPlaceButLeftSome << removed;
        QTest::newRow("trash: source gone") << lg::FileOpKind::Trash << Outcome::SourceMissing << -1;
        QTest::newRow("trash: denied") << lg::FileOpKind::Trash << Outcome::Denied << -1;
    }
    void thumbnailsFollowWhatArrived()
    {
        QFETCH(lg::FileOpKind, command);
        QFETCH(Outcome, outcome);
        QFETCH(int, change);
        const lg::FileOpResult result = resultOf(outcome);
        QList<ThumbnailChange> expected;
        if (change >= 0)
            expected.append({ThumbnailChange::Kind(change), result.source, result.target});
        QCOMPARE(thumbnailChanges(command, {result}), expected);
    }

    void aBatchIsSettledItemByItemInOrder()
    {
        const QList<lg::FileOpResult> batch = {
            resultOf(Outcome::Done, QStringLiteral("a.jpg")), resultOf(Outcome::Denied, QStringLiteral("b.jpg")),
            resultOf(Outcome::SameFile, QStringLiteral("c.jpg")),
            resultOf(Outcome::DoneNotAllKept, QStringLiteral("d.jpg")),
            resultOf(Outcome::TargetExists, QStringLiteral("e.jpg"))};
        const QList<lg::FileOpResult> told = failuresToTell(lg::FileOpKind::Move, batch);
        QStringList toldSources;
        for (const lg::FileOpResult &r : told)
            toldSources << r.source;
        QCOMPARE(toldSources, (QStringList{QStringLiteral("/photos/b.jpg"), QStringLiteral("/photos/d.jpg"),
                                           QStringLiteral("/photos/e.jpg")}));
        const QList<ThumbnailChange> changes = thumbnailChanges(lg::FileOpKind::Move, batch);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(0).from, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(changes.at(1).from, QStringLiteral("/photos/d.jpg"));
    }
};

LG_TEST(CommandSettleTest)
#include "test_commandsettle.moc"
