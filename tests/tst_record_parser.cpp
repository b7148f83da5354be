#include "lookup/record_parser.h"
#include "platform/codepage.h"
#include "lookup/page_text.h"

#include <QTest>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

const QString kMarker = u"<tbody id=\"table_tr\">"_s;

// A table body row in the site's usual shape: cell 2 holder then a tag, cell 4 number inside <a>.
QString recordRow(const QString &holder, const QString &type, const QString &number, const QString &site)
{
    return u"<tr><td>1</td><td>"_s + holder + u"<a href=\"/c/1.html\">详情</a></td><td>"_s + type
        + u"</td><td><a href=\"/icp/1.html\">"_s + number + u"</a></td><td>"_s + site
        + u"</td><td>www.example.cn</td></tr>"_s;
}

QString page(const QString &tableBody)
{
    return u"<html><body><table><tbody><tr><td>页头</td></tr></tbody>"_s + kMarker + tableBody
        + u"</tbody></table></body></html>"_s;
}

} // namespace

class TestRecordParser : public QObject
{
    Q_OBJECT
private slots:
    void cellText_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text then tag") << u"星辰科技<a>x</a>"_s << u"星辰科技"_s;
        QTest::newRow("no tag at all") << u"星辰科技"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("starts with tag") << u"<span>星辰</span>"_s << QString();
        QTest::newRow("blanks kept") << u"  企业 </td>"_s << u"  企业 "_s;
        QTest::newRow("first of several tags") << u"a<b>c<d>"_s << u"a"_s;
    }
    void cellText()
    {
        QFETCH(QString, piece);
        QFETCH(QString, expected);
        QCOMPARE(quernfold::cellText(piece), expected);
    }

    void parseRecordPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("expected"); // recordNo, holder, recordType, siteName

        const QString holder = u"杭州星辰科技有限公司"_s;
        const QString number = u"浙ICP备12345678号-1"_s;
        QTest::newRow("full row") << page(recordRow(holder, u"企业"_s, number, u"星辰官网"_s))
                                  << QStringList { number, holder, u"企业"_s, u"星辰官网"_s };
        QTest::newRow("holder wrapped in a tag") << page(u"<tr><td>1</td><td><span>"_s + holder
            + u"</span></td><td>企业</td><td><a>"_s + number + u"</a></td><td>官网</td></tr>"_s)
                                                 << QStringList { number, QString(), u"企业"_s, u"官网"_s };
        QTest::newRow("holder cell without <") << page(
            u"<tr><td>1</td><td>"_s + holder + u"<td>企业</td><td><a>"_s + number + u"</a></td><td>官网</td></tr>"_s)
                                               << QStringList { number, QString(), u"企业"_s, u"官网"_s };
        QTest::newRow("last cell without < up to the end of the page")
            << u"x"_s + kMarker + u"<td>1</td><td>甲</td><td>乙</td><td><a>号</a></td><td>站名"_s
            << QStringList { u"号"_s, u"甲"_s, u"乙"_s, QString() };
        QTest::newRow("blanks around every cell")
            << page(recordRow(u" "_s + holder, u" 企业"_s, u"   "_s + number + u"  "_s, u" 远山论坛"_s))
            << QStringList { number, holder, u"企业"_s, u"远山论坛"_s };
        QTest::newRow("line break and indentation") << page(recordRow(
            u"\r\n\t\t"_s + holder + u"\n  "_s, u"\t企业\t"_s, u"\n"_s + number + u"\r\n"_s, u"\n    远山论坛\n  "_s))
                                                    << QStringList { number, holder, u"企业"_s, u"远山论坛"_s };
        QTest::newRow("no-break and ideographic spaces") << page(recordRow(
            u"\u3000"_s + holder + u"\u00A0"_s, u"\u00A0企业"_s, u"\u3000"_s + number, u"\u3000\u3000远山论坛"_s))
                                                         << QStringList { number, holder, u"企业"_s, u"远山论坛"_s };
        QTest::newRow("no-break space as an entity") << page(recordRow(u"&nbsp;"_s + holder, u"企业&#160;"_s,
            u"&nbsp; "_s + number + u" &#xA0;"_s, u"&nbsp;&nbsp;\u3000远山论坛&nbsp;"_s))
                                                     << QStringList { number, holder, u"企业"_s, u"远山论坛"_s };
        QTest::newRow("inside a cell nothing changes")
            << page(recordRow(u" 杭州 星辰&nbsp;科技 "_s, u"企\u3000业"_s, u"浙ICP备 1号"_s, u"远山\n论坛"_s))
            << QStringList { u"浙ICP备 1号"_s, u"杭州 星辰&nbsp;科技"_s, u"企\u3000业"_s, u"远山\n论坛"_s };
        QTest::newRow("padding only") << page(recordRow(u" \t"_s, u"&nbsp;"_s, u"\u3000"_s, u"\n"_s))
                                      << QStringList { QString(), QString(), QString(), QString() };
        QTest::newRow("an entity cut short stays")
            << page(recordRow(u"&nbsp"_s + holder, u"企业&nbsp"_s, number, u"站"_s))
            << QStringList { number, u"&nbsp"_s + holder, u"企业&nbsp"_s, u"站"_s };
        QTest::newRow("number not wrapped")
            << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td><td>"_s + number + u"</td>\n   <td>官网</td></tr>"_s)
            << QStringList { QString(), u"甲"_s, u"企业"_s, u"官网"_s };
        QTest::newRow("number cell without >")
            << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td><td>"_s + number + u"<td>官网</td></tr>"_s)
            << QStringList { QString(), u"甲"_s, u"企业"_s, u"官网"_s };
        QTest::newRow("number ends at the first < after the >")
            << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td><td><a>浙ICP备1号<b>尾巴</b></td><td>官网</td>"_s)
            << QStringList { u"浙ICP备1号"_s, u"甲"_s, u"企业"_s, u"官网"_s };
        // The piece between the first and second ">" holds no "<", and a piece without a tag gives nothing.
        QTest::newRow("number holding a > gives nothing")
            << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td><td><a>浙ICP备1号>尾巴<b></td><td>官网</td>"_s)
            << QStringList { QString(), u"甲"_s, u"企业"_s, u"官网"_s };
        QTest::newRow("several rows: first row wins") << page(recordRow(holder, u"企业"_s, number, u"星辰官网"_s)
            + recordRow(u"第二"_s, u"个人"_s, u"京ICP备2号"_s, u"第二站"_s))
                                                      << QStringList { number, holder, u"企业"_s, u"星辰官网"_s };
        QTest::newRow("cells counted across rows") << page(
            u"<tr><td>1</td><td>甲<i></i></td><td>企业</td></tr><tr><td><a>京ICP备9号</a></td>"
            u"<td>次行站</td></tr>"_s) << QStringList { u"京ICP备9号"_s, u"甲"_s, u"企业"_s, u"次行站"_s };
        QTest::newRow("fewer than five cells") << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td></tr>"_s)
                                               << QStringList { QString(), u"甲"_s, u"企业"_s, QString() };
        QTest::newRow("two markers: only the first table body is read")
            << page(u"<tr><td>1</td><td>甲<i></i></td><td>企业</td></tr></tbody>"_s + kMarker
                   + recordRow(u"诱饵"_s, u"个人"_s, u"京ICP备0号"_s, u"诱饵站"_s))
            << QStringList { QString(), u"甲"_s, u"企业"_s, QString() };
        QTest::newRow("missing marker") << u"<html><td>1</td><td>甲<i></i></td><td>企业</td></html>"_s
                                        << QStringList { QString(), QString(), QString(), QString() };
        QTest::newRow("marker with single quotes is not the marker")
            << u"<tbody id='table_tr'>"_s + recordRow(holder, u"企业"_s, number, u"官网"_s)
            << QStringList { QString(), QString(), QString(), QString() };
        QTest::newRow("upper-case marker is not the marker")
            << u"<TBODY id=\"table_tr\">"_s + recordRow(holder, u"企业"_s, number, u"官网"_s)
            << QStringList { QString(), QString(), QString(), QString() };
        QTest::newRow("cell tag with attributes is not a cell") << page(
            u"<tr><td>1</td><td class=\"n\">甲</td><td>乙<i></i></td><td>丙</td><td><a>号</a></td>"
            u"<td>站</td></tr>"_s) << QStringList { u"号"_s, u"乙"_s, u"丙"_s, u"站"_s };
        QTest::newRow("empty page") << QString() << QStringList { QString(), QString(), QString(), QString() };
        QTest::newRow("marker at the very end")
            << u"abc"_s + kMarker << QStringList { QString(), QString(), QString(), QString() };
    }
    void parseRecordPage()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, expected);
        const FilingRecord info = quernfold::parseRecordPage(page);
        QCOMPARE(info.recordNo, expected.at(0));
        QCOMPARE(info.holder, expected.at(1));
        QCOMPARE(info.recordType, expected.at(2));
        QCOMPARE(info.siteName, expected.at(3));
    }

    void hasTableMarker_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("expected");
        QTest::newRow("present") << page(QString()) << true;
        QTest::newRow("absent") << u"<html><tbody><td>1</td></tbody></html>"_s << false;
        QTest::newRow("marker cut short") << u"<tbody id=\"table_tr\""_s << false;
        QTest::newRow("empty") << QString() << false;
    }
    void hasTableMarker()
    {
        QFETCH(QString, page);
        QFETCH(bool, expected);
        QCOMPARE(quernfold::hasTableMarker(page), expected);
    }

    void decodePage_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        const QByteArray gbk = codepage::toNarrow(u"域名备案"_s); // D3F2 C3FB B1B8 B0B8
        const QByteArray utf8 = u"域名备案"_s.toUtf8();
        const QString text = u"域名备案"_s;
        const QByteArray metaGbk = "<meta charset=\"gbk\">";
        const QByteArray metaHttpEquiv = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=GB2312\">";

        QTest::newRow("header gbk") << QByteArray("text/html; charset=gbk") << gbk << text;
        QTest::newRow("header gb2312") << QByteArray("text/html;charset=gb2312") << gbk << text;
        QTest::newRow("header GB18030 upper case") << QByteArray("text/html; Charset=GB18030") << gbk << text;
        QTest::newRow("header quoted") << QByteArray("text/html; charset=\"GBK\"") << gbk << text;
        QTest::newRow("header charset after another parameter")
            << QByteArray("text/html; q=1; charset=gbk") << gbk << text;
        // Sites labelled gb2312 still send characters that only GB18030 has, such as an emoji.
        QTest::newRow("gb2312 label still decodes GB18030-only characters")
            << QByteArray("text/html; charset=gb2312") << codepage::toNarrow(u"甲😀"_s) << u"甲😀"_s;
        QTest::newRow("header utf-8") << QByteArray("text/html; charset=utf-8") << utf8 << text;
        QTest::newRow("meta charset") << QByteArray("text/html") << metaGbk + gbk
                                      << QString::fromLatin1(metaGbk) + text;
        QTest::newRow("meta http-equiv, upper case")
            << QByteArray() << metaHttpEquiv + gbk << QString::fromLatin1(metaHttpEquiv) + text;
        QTest::newRow("header wins over meta")
            << QByteArray("text/html; charset=utf-8") << metaGbk + utf8 << QString::fromLatin1(metaGbk) + text;
        QTest::newRow("unknown header label falls back to meta")
            << QByteArray("text/html; charset=x-nonsense") << metaGbk + gbk << QString::fromLatin1(metaGbk) + text;
        QTest::newRow("no charset anywhere is utf-8") << QByteArray("text/html") << utf8 << text;

        const QByteArray padding(2100, ' ');
        QTest::newRow("meta beyond 2 KB ignored")
            << QByteArray("text/html") << padding + metaGbk + utf8 << QString::fromLatin1(padding + metaGbk) + text;
        QTest::newRow("invalid utf-8 byte becomes U+FFFD") << QByteArray("text/html; charset=utf-8")
                                                           << QByteArray("a\xFF"
                                                                         "b")
                                                           << u"a"_s + QChar(QChar::ReplacementCharacter) + u"b"_s;
        QTest::newRow("invalid gbk sequence becomes U+FFFD") << QByteArray("text/html; charset=gbk")
                                                             << QByteArray("a\x81\x20"
                                                                           "b")
                                                             << u"a"_s + QChar(QChar::ReplacementCharacter) + u" b"_s;
        QTest::newRow("utf-8 byte order mark wins over a gbk label")
            << QByteArray("text/html; charset=gbk") << QByteArray("\xEF\xBB\xBF") + utf8 << text;
        QTest::newRow("latin-1 label") << QByteArray("text/html; charset=iso-8859-1") << QByteArray("caf\xE9")
                                       << u"café"_s;
        QTest::newRow("empty body") << QByteArray("text/html; charset=gbk") << QByteArray() << QString();
    }
    void decodePage()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(pagetext::decodePage(contentType, body), expected);
    }

    void charsetFromContentType_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << QByteArray("text/html; charset=GBK") << QByteArray("gbk");
        QTest::newRow("blanks around =") << QByteArray("text/html; charset = utf-8 ") << QByteArray("utf-8");
        QTest::newRow("none") << QByteArray("text/html") << QByteArray();
        QTest::newRow("empty value") << QByteArray("text/html; charset=") << QByteArray();
        QTest::newRow("not the charset parameter") << QByteArray("text/html; xcharset=gbk") << QByteArray();
    }
    void charsetFromContentType()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, expected);
        QCOMPARE(codepage::charsetFromContentType(contentType), expected);
    }
};

QTEST_GUILESS_MAIN(TestRecordParser)
#include "tst_record_parser.moc"
