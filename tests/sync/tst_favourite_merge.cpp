// The one rule by which a clip's favourite mark meets the service's, as pushes, pulls,
// reconciliations and set-favourite answers apply it.
#include "sync/FavouriteMerge.h"

#include <QtTest>

using FavouriteMerge::Tie;

class TestFavouriteMerge final : public QObject
{
    Q_OBJECT

private slots:
    // A mark of 0 in a decision is an unmark.
    void newerDecisionWins_data()
    {
        QTest::addColumn<qint64>("local");
        QTest::addColumn<qint64>("remote");
        QTest::addColumn<int>("tie");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<qint64>("mark");
        const int keep = int(Tie::KeepLocal);
        const int take = int(Tie::TakeRemote);
        QTest::newRow("later mark") << qint64(100) << qint64(200) << keep << true << qint64(200);
        QTest::newRow("later unmark") << qint64(100) << qint64(-200) << keep << true << qint64(0);
        QTest::newRow("older unmark") << qint64(300) << qint64(-200) << keep << false << qint64(0);
        QTest::newRow("older mark") << qint64(-300) << qint64(200) << keep << false << qint64(0);
        QTest::newRow("never marked there") << qint64(50) << qint64(0) << take << false << qint64(0);
        QTest::newRow("tie kept") << qint64(200) << qint64(-200) << keep << false << qint64(0);
        QTest::newRow("tie to the answer") << qint64(200) << qint64(-200) << take << true << qint64(0);
    }

    void newerDecisionWins()
    {
        QFETCH(qint64, local);
        QFETCH(qint64, remote);
        QFETCH(int, tie);
        QFETCH(bool, changes);
        QFETCH(qint64, mark);
        const auto decision = FavouriteMerge::merged(local, remote, Tie(tie));
        QCOMPARE(decision.has_value(), changes);
        if (decision)
            QCOMPARE(std::make_pair(decision->mark, decision->unmarked), std::make_pair(mark, mark == 0));
    }
};

QTEST_GUILESS_MAIN(TestFavouriteMerge)
#include "tst_favourite_merge.moc"
