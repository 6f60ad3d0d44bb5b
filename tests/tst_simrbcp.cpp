#include <QtTest>

class TstPlaceholder : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TstPlaceholder)
#include "tst_simrbcp.moc"
