// Names as registries see them: what the import makes of a line and why it skips one, the shortcut for plain names
// against the library, repeats among the spellings of one name, and the registrable domain.
#include "domainlist/domain_cleaner.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/domain_name.h"
#include "domainlist/duplicate_domains.h"
#include "domainlist/import_file.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QUrl>

using namespace quernfold;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(quernfold::NameVerdict)

namespace {

ImportResult importText(const QString &text, ImportKind kind)
{
    QByteArray bytes = text.toUtf8();
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    return readDomainDevice(device, u"list"_s, {}, 64 * 1024, kind);
}

QStringList listTexts(const DomainListModel &model)
{
    QStringList texts;
    for (int i = 0; i < model.count(); ++i)
        texts << model.row(i).domain;
    return texts;
}

// What the import appends of `text` to `model`, as the window does it; returns the lines skipped.
qsizetype importOnto(DomainListModel &model, const QString &text)
{
    ImportResult result = importText(text, ImportKind::Lines);
    const qsizetype skipped = result.skipped + dropDuplicateDomains(result.rows, &model);
    model.appendRows(std::move(result.rows));
    return skipped;
}

// The plainest comparison there is: the library's form of the text, without a leading "www.".
QString referenceKey(const QString &text)
{
    QString form = checkDomainNameThroughLibrary(text).name;
    if (form.isEmpty())
        form = text;
    return form.startsWith(u"www."_s) && form.size() > 4 ? form.sliced(4) : form;
}

const QString kLongLabel = u"一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳"_s;

} // namespace

class TestDomainName : public QObject
{
    Q_OBJECT
private slots:
    void import_mapsOrSkipsWithItsReason_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("listed"); // null: skipped
        QTest::addColumn<NameVerdict>("verdict");
        const auto kept = [](const char *row, const QString &line, const QString &listed) {
            QTest::newRow(row) << line << listed << NameVerdict::Domain;
        };
        const auto skipped = [](const char *row, const QString &line, NameVerdict why) {
            QTest::newRow(row) << line << QString() << why;
        };
        kept("ideographic full stop", u"例子。中国"_s, u"例子.中国"_s);
        kept("halfwidth and full-width stops", u"例子｡公司．cn"_s, u"例子.公司.cn"_s);
        kept("full-width letters", u"ＡＢＣ.com"_s, u"abc.com"_s);
        kept("capital umlaut", u"BÜCHER.de"_s, u"bücher.de"_s);
        kept("A-label shown as Unicode", u"xn--fiqs8s.cn"_s, u"中国.cn"_s);
        kept("capital A-label", u"XN--FIQS8S.CN"_s, u"中国.cn"_s);
        kept("decomposed accent composed", u"e\u0301cole.fr"_s, u"école.fr"_s);
        kept("sharp s kept", u"faß.de"_s, u"faß.de"_s);
        kept("soft hyphen dropped", u"ex\u00ADample.com"_s, u"example.com"_s);
        kept("final ideographic stop", u"例子.中国。"_s, u"例子.中国"_s);
        kept("full-width www. taken off", u"ＷＷＷ．例子.公司"_s, u"例子.公司"_s);
        kept("address of a page", u"https://user@例子.中国:8080/路径?q#f"_s, u"例子.中国"_s);
        kept("suffix of two labels", u"shop.example.com.cn"_s, u"shop.example.com.cn"_s);
        kept("plain name", u"a-1.example.net"_s, u"a-1.example.net"_s);
        skipped("IPv4 address", u"192.168.0.1"_s, NameVerdict::Address);
        skipped("IPv4 in full-width digits", u"１９２．１６８．０．１"_s, NameVerdict::Address);
        skipped("IPv6 with port", u"[2001:db8::1]:443"_s, NameVerdict::Address);
        skipped("IPv6 in an address", u"http://[::1]/x"_s, NameVerdict::Address);
        skipped("bare IPv6", u"2001:db8::1"_s, NameVerdict::Address);
        skipped("first column of a CSV", u"12345"_s, NameVerdict::Address);
        skipped("www. alone", u"www."_s, NameVerdict::SingleLabel);
        skipped("localhost", u"localhost"_s, NameVerdict::SingleLabel);
        skipped("header line", u"域名列表"_s, NameVerdict::SingleLabel);
        skipped("www.com without its www.", u"www.com"_s, NameVerdict::SingleLabel);
        skipped("no such suffix", u"a.b"_s, NameVerdict::UnlistedSuffix);
        skipped("local network name", u"printer.local"_s, NameVerdict::UnlistedSuffix);
        skipped("underscore", u"a_b.com"_s, NameVerdict::Malformed);
        skipped("blank inside", u"a b.com"_s, NameVerdict::Malformed);
        skipped("hyphens third and fourth", u"ab--cd.com"_s, NameVerdict::Malformed);
        skipped("broken A-label", u"xn--abc.com"_s, NameVerdict::Malformed);
        skipped("joiner out of context", u"a\u200Db.com"_s, NameVerdict::Malformed);
        skipped("right-to-left digit after a letter", u"a\u0661.com"_s, NameVerdict::Malformed);
        skipped("emoji", u"😀.com"_s, NameVerdict::Malformed);
        skipped("ASCII form over 63", kLongLabel + u".cn"_s, NameVerdict::Malformed);
        skipped("empty label", u"foo..bar.com"_s, NameVerdict::Malformed);
        skipped("two final dots", u"example.cn.."_s, NameVerdict::Malformed);
        skipped("lone surrogate", u"a"_s + QChar(0xD800) + u".com"_s, NameVerdict::Malformed);
        skipped("NUL", QStringView(u"exa\0mple.com", 12).toString(), NameVerdict::Malformed);
        skipped("over-long line", u"a"_s + QString(1100, QChar(0xAD)) + u".com"_s, NameVerdict::Malformed);
        skipped("scheme only", u"https:///path"_s, NameVerdict::Empty);
    }
    void import_mapsOrSkipsWithItsReason()
    {
        QFETCH(QString, line);
        QFETCH(QString, listed);
        QFETCH(NameVerdict, verdict);
        const CheckedName checked = importedName(line);
        QCOMPARE(checked.verdict, verdict);
        if (verdict == NameVerdict::Domain)
            QCOMPARE(checked.name, listed);
        // The real import: a text file, and someone else's CSV with a header.
        const QString quoted = u'"' + QString(line).replace(u'"', u"\"\""_s) + u'"';
        for (const ImportKind kind : { ImportKind::Lines, ImportKind::Csv }) {
            const ImportResult result
                = importText(kind == ImportKind::Csv ? u"域名\r\n"_s + quoted : line + u"\r\n"_s, kind);
            QCOMPARE(result.domains(), listed.isNull() ? QStringList() : QStringList { listed });
            QCOMPARE(result.skipped, listed.isNull() ? 1 : 0);
        }
    }

    // The shortcut for plain names, and the list form assumed for rows of LDH, Latin-1 letters and ideographs,
    // must be the library's answer.
    void shortcuts_answerAsTheLibrary_data()
    {
        QTest::addColumn<QString>("text");
        for (const QString &text : { u"example.com"_s, u"a--b.cn"_s, u"ab--c.cn"_s, u"xn--fiqs8s.cn"_s, u"xn--abc.cn"_s,
                 u"-a.cn"_s, u"a-.cn"_s, u"a..cn"_s, u".a.cn"_s, u"a.cn."_s, u"1.2.3.4"_s, u"0.cn"_s, u"localhost"_s,
                 u"a.b"_s, u"bücher.de"_s, u"ÿà.com"_s, u"例子.中国"_s, u"www.例子.cn"_s, kLongLabel + u".cn"_s,
                 u"例子。中国"_s, u"Bücher.de"_s, u"Example.com"_s, u"÷.com"_s, QString(63, u'a') + u".cn"_s,
                 QString(64, u'a') + u".cn"_s,
                 QString(62, u'a') + u'.' + QString(61, u'b') + u'.' + QString(61, u'c') + u'.' + QString(63, u'd')
                     + u".cn"_s,
                 u"e"_s + QString(62, u'a') + u'.' + QString(61, u'b') + u'.' + QString(61, u'c') + u'.'
                     + QString(63, u'd') + u".cn"_s })
            QTest::newRow(qPrintable(text.left(40))) << text;
    }
    void shortcuts_answerAsTheLibrary()
    {
        QFETCH(QString, text);
        const CheckedName quick = checkDomainName(text);
        const CheckedName library = checkDomainNameThroughLibrary(text);
        QCOMPARE(quick.verdict, library.verdict);
        QCOMPARE(quick.name, library.name);
        QCOMPARE(listFormIfDifferent(text), library.name == text ? QString() : library.name);
    }

    void registrableDomain_isTheSuffixAndOneLabel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("registrable");
        QTest::newRow("deep under com.cn") << u"blog.shop.example.com.cn"_s << u"example.com.cn"_s;
        QTest::newRow("itself") << u"example.com"_s << u"example.com"_s;
        QTest::newRow("www") << u"www.example.com"_s << u"example.com"_s;
        QTest::newRow("Unicode") << u"www.例子.公司"_s << u"例子.公司"_s;
        QTest::newRow("A-labels given") << u"sub.xn--fsqu00a.xn--fiqs8s"_s << u"例子.中国"_s;
        QTest::newRow("not cleaned") << u"BLOG.Example.COM"_s << u"example.com"_s;
        QTest::newRow("a public suffix itself") << u"com.cn"_s << QString();
        QTest::newRow("a top-level domain") << u"cn"_s << QString();
        QTest::newRow("private section left out") << u"me.github.io"_s << u"github.io"_s;
        QTest::newRow("exception rule") << u"a.www.ck"_s << u"www.ck"_s;
        QTest::newRow("wildcard rule") << u"a.b.c.bd"_s << u"b.c.bd"_s;
        QTest::newRow("no such suffix") << u"a.b"_s << QString();
        QTest::newRow("address") << u"192.168.0.1"_s << QString();
    }
    void registrableDomain_isTheSuffixAndOneLabel()
    {
        QFETCH(QString, name);
        QFETCH(QString, registrable);
        QCOMPARE(registrableDomain(name), registrable);
    }

    // Listed rows, some from before names were mapped, then an import: every spelling of one name is one row.
    void import_dropsOtherSpellingsOfListedNames_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("capitals and lower case")
            << QStringList() << u"BÜCHER.de\nbücher.de\n"_s << QStringList { u"bücher.de"_s };
        QTest::newRow("A-label and Unicode")
            << QStringList() << u"xn--fiqs8s.cn\n中国.cn\n"_s << QStringList { u"中国.cn"_s };
        QTest::newRow("added with www., imported without")
            << QStringList { u"www.newsite.cn"_s } << u"newsite.cn\nother.cn\n"_s << QStringList { u"other.cn"_s };
        QTest::newRow("listed as an A-label") << QStringList { u"xn--fiqs8s.cn"_s } << u"中国.cn\n"_s << QStringList();
        QTest::newRow("listed as typed long ago")
            << QStringList { u"ÄBC.de"_s, u"例子。中国"_s } << u"www.äbc.de\n例子.中国\nabc.de\n"_s
            << QStringList { u"abc.de"_s };
        QTest::newRow("listed row IDNA refuses equals only itself")
            << QStringList { u"a_b.com"_s } << u"ab.com\n"_s << QStringList { u"ab.com"_s };
    }
    void import_dropsOtherSpellingsOfListedNames()
    {
        QFETCH(QStringList, listed);
        QFETCH(QString, file);
        QFETCH(QStringList, added);
        DomainListModel model;
        model.setDomains(listed);
        const qsizetype lines = file.count(u'\n');
        QCOMPARE(importOnto(model, file), lines - added.size());
        QCOMPARE(listTexts(model), listed + added);
    }

    // Imports and single adds in any order against a set of the library's forms: the list never holds two
    // spellings of one name, and keeps every first one.
    void importsAndAdds_matchASetOfNames()
    {
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        const auto spelling = [&random](int n) {
            const QString bases[] = { u"例子%1.中国"_s, u"bücher%1.de"_s, u"shop%1.com.cn"_s };
            QString name = bases[random.bounded(3)].arg(n);
            switch (random.bounded(5)) {
            case 0:
                return name.toUpper();
            case 1:
                return QUrl::toAce(name).isEmpty() ? name : QString::fromLatin1(QUrl::toAce(name));
            case 2:
                return u"www."_s + name;
            case 3:
                return name.replace(u'.', u'。');
            default:
                return name;
            }
        };
        DomainListModel model;
        QStringList legacy;
        for (int i = 0; i < 300; ++i)
            legacy << spelling(random.bounded(400));
        model.setDomains(legacy);
        QStringList expected = legacy;
        QSet<QString> seen;
        for (const QString &text : std::as_const(legacy))
            seen.insert(referenceKey(text));
        QStringList steps;
        for (int step = 0; step < 60; ++step) {
            if (random.bounded(3) == 0) {
                const QString typed = spelling(random.bounded(400));
                steps << u"add "_s + typed;
                const CheckedName checked = checkDomainName(cleanDomain(typed));
                QCOMPARE(checked.verdict, NameVerdict::Domain);
                if (!listHoldsName(model, checked.name))
                    model.appendDomain(checked.name);
                if (!seen.contains(referenceKey(typed))) {
                    seen.insert(referenceKey(typed));
                    expected << checked.name;
                }
            } else {
                QStringList lines;
                for (int i = random.bounded(1, 30); i > 0; --i)
                    lines << spelling(random.bounded(400));
                steps << u"import "_s + lines.join(u' ');
                importOnto(model, lines.join(u'\n'));
                for (const QString &line : std::as_const(lines)) {
                    if (!seen.contains(referenceKey(line))) {
                        seen.insert(referenceKey(line));
                        expected << importedDomain(line);
                    }
                }
            }
            QVERIFY2(listTexts(model) == expected, qPrintable(u"seed %1, steps:\n"_s.arg(seed) + steps.join(u'\n')));
        }
    }
};

QTEST_GUILESS_MAIN(TestDomainName)
#include "tst_domain_name.moc"
