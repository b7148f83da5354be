#include "platform/codepage.h"

#include <QTest>

using namespace quernfold;

class TestCodepage : public QObject
{
    Q_OBJECT
private slots:
    void narrow_roundTripsGbkAndBeyond()
    {
        // "域名" in GBK is D3F2 C3FB; an emoji has no GBK code and must still survive the trip.
        QCOMPARE(codepage::toNarrow(u"域名"), QByteArray("\xD3\xF2\xC3\xFB"));
        const QString mixed = QStringLiteral("a域😀b");
        QCOMPARE(codepage::fromNarrow(codepage::toNarrow(mixed)), mixed);
    }
    void fromNarrow_invalidBytesBecomeReplacement()
    {
        // A lead byte followed by a byte that cannot trail it.
        const QString decoded = codepage::fromNarrow(QByteArray("a\x81\x20"
                                                                "b"));
        QVERIFY(decoded.startsWith(u'a'));
        QVERIFY(decoded.endsWith(u'b'));
        QVERIFY(decoded.contains(QChar(0xFFFD)));
    }
    void gbkCode_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("code");
        QTest::newRow("ascii") << QStringLiteral("a") << 97;
        QTest::newRow("double-byte is negative") << QStringLiteral("中") << int(qint16(quint16(0xD6D0)));
        QTest::newRow("outside gbk") << QString(QChar(0xD83D)) << 63;
    }
    void gbkCode()
    {
        QFETCH(QString, unit);
        QFETCH(int, code);
        QCOMPARE(codepage::gbkCode(unit.at(0).unicode()), code);
    }
    void isValidUtf8_tellsUtf8FromGbk()
    {
        QVERIFY(codepage::isValidUtf8(QByteArray("\xE5\x9F\x9F")));
        QVERIFY(!codepage::isValidUtf8(QByteArray("\xD3\xF2\xC3\xFB")));
    }
};

QTEST_GUILESS_MAIN(TestCodepage)
#include "tst_codepage.moc"
