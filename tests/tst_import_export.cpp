#include "domainlist/csv_file.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/duplicate_domains.h"
#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "domainlist/json_lines.h"
#include "domainlist/xlsx_file.h"
#include "platform/codepage.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <limits>
#include <sys/resource.h>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

QByteArray gbk(const QString &text)
{
    return codepage::toNarrow(text);
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

const QByteArray kBom("\xEF\xBB\xBF");
const QString kZwnbsp(QChar(0xFEFF));

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::vector<int> allRows(const DomainListModel &model)
{
    std::vector<int> rows(size_t(model.count()));
    for (int i = 0; i < model.count(); ++i)
        rows[size_t(i)] = i;
    return rows;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Serves its bytes up to `failAt`, then fails every read, as a disk or network share can.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(QByteArray data, qint64 failAt, bool sequential, bool failOnce = false)
        : m_data(std::move(data))
        , m_failAt(failAt)
        , m_sequential(sequential)
        , m_failOnce(failOnce)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return m_sequential; }
    qint64 size() const override { return m_sequential ? 0 : m_data.size(); }
    qint64 served() const { return m_served; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 at = m_sequential ? m_served : pos();
        if (at >= m_failAt) {
            if (m_failOnce)
                m_failAt = std::numeric_limits<qint64>::max();
            return -1;
        }
        const qint64 n = qMin(max, qMin(m_failAt, qint64(m_data.size())) - at);
        memcpy(out, m_data.constData() + at, size_t(n));
        m_served += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_failAt;
    bool m_sequential;
    bool m_failOnce;
    qint64 m_served = 0;
};

// A list as a run leaves it, with cells a website nobody controls could send: formulas, quotes, separators, line
// breaks, an apostrophe of its own. Row 0 changed since an earlier lookup; row 1 did not finish and says why; row 2
// was never queried.
void fillHostileRows(DomainListModel &model, bool withLineBreaks)
{
    std::vector<DomainRow> rows(3);
    rows[0].domain = u"例子.cn"_s;
    rows[0].lookup = std::make_unique<LookupCells>();
    rows[0].lookup->record = { u"=HYPERLINK(\"http://x\")"_s, u"'某某公司"_s, u"-1+1"_s, u"@SUM(A1)"_s };
    rows[0].lookup->status = u"查询完毕"_s;
    rows[0].lookup->note = withLineBreaks ? u"a,b \"c\"\r\nd\te"_s : u"a,b \"c\" d\te"_s;
    rows[0].lookup->change = u"备案号变更、备案人变更"_s;
    rows[1].domain = u"b.com"_s;
    rows[1].lookup = std::make_unique<LookupCells>();
    rows[1].lookup->record = { {}, u"+86 10"_s, withLineBreaks ? u"\rx"_s : u"\tx"_s, u"''"_s };
    rows[1].lookup->status = u"查询中"_s;
    rows[1].lookup->note = u"连接超时,已重试2次"_s;
    rows[2].domain = u"c.org"_s;
    model.appendRows(std::move(rows));
}

// Domain, the four record cells, status, note and change.
QStringList rowCells(const DomainRow &row)
{
    if (!row.lookup)
        return { row.domain, {}, {}, {}, {}, {}, {}, {} };
    const LookupCells &c = *row.lookup;
    return { row.domain, c.record.recordNo, c.record.holder, c.record.recordType, c.record.siteName, c.status, c.note,
        c.change };
}

// What Debian's Python makes of a file we wrote: its csv module, or openpyxl for a workbook (each sheet's cells,
// whether the header is bold, the frozen pane, the filter and the column widths; or, for a big one, only each
// sheet's size and the first rows of the last).
const char kReadExport[] = R"PY(
import json, sys
kind, path = sys.argv[1], sys.argv[2]
if kind == "csv":
    import csv
    with open(path, newline="", encoding="utf-8-sig") as f:
        print(json.dumps({"rows": list(csv.reader(f))}))
    sys.exit(0)
import openpyxl
from openpyxl.utils import get_column_letter
big = kind == "big"
wb = openpyxl.load_workbook(path, read_only=big)
sheets = []
for ws in wb.worksheets:
    if big:
        sheets.append({"size": ws.max_row})
        continue
    rows = [[c.value for c in row] for row in ws.iter_rows()]
    sheets.append({"rows": rows, "bold": all(c.font.b for c in ws[1]), "freeze": ws.freeze_panes,
        "filter": ws.auto_filter.ref, "widths": [ws.column_dimensions[get_column_letter(i + 1)].width for i in range(9)]})
if big:
    sheets[-1]["rows"] = [[c.value for c in row] for row in wb.worksheets[-1].iter_rows(max_row=2)]
print(json.dumps({"sheets": sheets}))
)PY";

QJsonObject readWithPython(const QString &kind, const QString &path)
{
    const QString python = u"/usr/bin/python3"_s;
    QProcess child;
    child.start(python, { u"-c"_s, QString::fromUtf8(kReadExport), kind, path });
    if (!child.waitForFinished(300000) || child.exitCode() != 0) {
        qWarning("python: %s", child.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(child.readAllStandardOutput()).object();
}

bool pythonReads(const char *module)
{
    return QProcess::execute(u"/usr/bin/python3"_s, { u"-c"_s, u"import "_s + QString::fromLatin1(module) }) == 0;
}

QStringList texts(const QJsonArray &cells)
{
    QStringList result;
    for (const QJsonValue &cell : cells)
        result << (cell.isDouble() ? QString::number(cell.toInteger()) : cell.toString());
    return result;
}

QStringList header()
{
    return { u"ID"_s, u"域名"_s, u"备案号"_s, u"备案人"_s, u"备案类型"_s, u"网站名称"_s, u"查询状态"_s, u"说明"_s,
        u"变化"_s };
}

} // namespace

class TestImportExport : public QObject
{
    Q_OBJECT
private slots:
    void stripWww_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("leading") << QStringLiteral("www.example.com") << QStringLiteral("example.com");
        QTest::newRow("every label start") << QStringLiteral("www.a.www.b") << QStringLiteral("a.b");
        QTest::newRow("capitals kept") << QStringLiteral("WWW.example.com") << QStringLiteral("WWW.example.com");
        QTest::newRow("only www.") << QStringLiteral("www.") << QString();
        QTest::newRow("after a blank") << QStringLiteral(" www.x.cn ") << QStringLiteral(" x.cn ");
        QTest::newRow("after a slash") << QStringLiteral("http://www.x.cn") << QStringLiteral("http://x.cn");
        // Inside a name it is part of the name.
        QTest::newRow("after a letter") << QStringLiteral("newww.cn") << QStringLiteral("newww.cn");
        QTest::newRow("after a digit") << QStringLiteral("a1www.com") << QStringLiteral("a1www.com");
        QTest::newRow("after a hyphen") << QStringLiteral("a-www.com") << QStringLiteral("a-www.com");
        QTest::newRow("after a chinese letter") << QStringLiteral("中www.cn") << QStringLiteral("中www.cn");
        QTest::newRow("after a letter beyond the BMP") << QStringLiteral("𝐀www.cn") << QStringLiteral("𝐀www.cn");
        QTest::newRow("four w") << QStringLiteral("wwww.www.x") << QStringLiteral("wwww.x");
    }
    void stripWww()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(quernfold::stripWww(line), expected);
    }

    void splitDomainLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("example") << QStringLiteral("www.example.com\r\n\r\nexample.org")
                                 << QStringList { QStringLiteral("example.com"), QStringLiteral("example.org") };
        QTest::newRow("every line end") << QStringLiteral("a.cn\rb.cn\nc.cn\r\n\r\nd.cn\n\re.cn\r")
                                        << QStringList { QStringLiteral("a.cn"), QStringLiteral("b.cn"),
                                               QStringLiteral("c.cn"), QStringLiteral("d.cn"), QStringLiteral("e.cn") };
        QTest::newRow("duplicates kept") << QStringLiteral("a.cn\r\na.cn\r\n")
                                         << QStringList { QStringLiteral("a.cn"), QStringLiteral("a.cn") };
        QTest::newRow("blank lines are no domains") << QStringLiteral("   \r\n\r\n\t") << QStringList {};
        QTest::newRow("one label is no domain") << QStringLiteral("www.\r\nb\r\nb.cn") << QStringList { u"b.cn"_s };
        QTest::newRow("no non-empty line") << QStringLiteral("\r\n\n\r\r\n") << QStringList {};
        QTest::newRow("nothing") << QString() << QStringList {};
    }
    void splitDomainLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(quernfold::splitDomainLines(text), expected);
    }

    void decodeImportBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("gbk") << QByteArray("\xD3\xF2\xC3\xFB.com") << QStringLiteral("域名.com");
        QTest::newRow("utf8") << utf8(u"域名.com"_s) << QStringLiteral("域名.com");
        QTest::newRow("utf8 bom dropped") << kBom + "a.cn" << QStringLiteral("a.cn");
        QTest::newRow("later marks kept") << kBom + kBom + kBom + "a" << kZwnbsp + kZwnbsp + u"a"_s;
        QTest::newRow("bom only") << kBom << QString();
        QTest::newRow("ascii") << QByteArray("a.com\r\n") << QStringLiteral("a.com\r\n");
        QTest::newRow("gbk four-byte") << gbk(u"😀ก"_s) << QStringLiteral("😀ก");
        QTest::newRow("gbk invalid") << QByteArray("a\x80\x62\xFF") << u"a\uFFFDb\uFFFD"_s;
        QTest::newRow("gbk cut at end") << QByteArray("a\xD3") << u"a\uFFFD"_s;
        QTest::newRow("utf8 bom then invalid") << kBom + "a\xFF" << u"a\uFFFD"_s;
    }
    void decodeImportBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(quernfold::decodeImportBytes(bytes), expected);
    }

    // Reading in small pieces must give what decoding the whole file in one go gives.
    void readDomainDevice_anyReadSize_matchesWholeDecode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("gbk crlf") << gbk(u"www.中文域名.中国\r\n例子.公司\r\n\r\nabc.com"_s)
                                  << QStringList { u"中文域名.中国"_s, u"例子.公司"_s, u"abc.com"_s };
        QTest::newRow("gbk long run") << gbk(u"中文域名测试中文域名测试中文域名.中国\nb.cn"_s)
                                      << QStringList { u"中文域名测试中文域名测试中文域名.中国"_s, u"b.cn"_s };
        QTest::newRow("gbk four-byte") << gbk(u"ก𠀀ข.com\r€.com\rc.com"_s) << QStringList { u"ก𠀀ข.com"_s, u"c.com"_s };
        QTest::newRow("gbk cut at end") << QByteArray("a.com\r\nb.cn\x81") << QStringList { u"a.com"_s };
        QTest::newRow("utf8 lf") << utf8(u"中文.中国\n例子.com\n"_s) << QStringList { u"中文.中国"_s, u"例子.com"_s };
        QTest::newRow("utf8 bom") << kBom + utf8(u"a.com\r\n中文.cn"_s) << QStringList { u"a.com"_s, u"中文.cn"_s };
        // A mark inside a name is kept by the reading and dropped by the mapping.
        QTest::newRow("utf8 inner mark") << utf8(u"中.\uFEFFx.cn"_s) << QStringList { u"中.x.cn"_s };
        QTest::newRow("marks after a cut") << utf8(u"a.\uFEFF\uFEFFcn"_s) << QStringList { u"a.cn"_s };
        QTest::newRow("www across pieces")
            << QByteArray("wwwww.a.www.cn\r\nwww.\r\n") << QStringList { u"wwwww.a.cn"_s };
    }
    void readDomainDevice_anyReadSize_matchesWholeDecode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QCOMPARE(quernfold::splitDomainLines(quernfold::decodeImportBytes(bytes)), expected);
        for (const bool sequential : { false, true }) {
            for (qsizetype readSize = 1; readSize <= 24; ++readSize) {
                FailingDevice device(bytes, bytes.size() + 1, sequential);
                const ImportResult result = readDomainDevice(device, u"mem"_s, {}, readSize);
                QCOMPARE(result.status, ImportResult::Ok);
                QVERIFY2(result.domains() == expected, qPrintable(QString::number(readSize)));
            }
        }
    }

    void readDomainDevice_readFails_keepsCompleteLines_data()
    {
        QTest::addColumn<qint64>("failAt");
        QTest::addColumn<QStringList>("expected");
        // "a.com\r\n" is 7 bytes, then 域 (2 bytes) ".cn\r\n", then "c.c".
        QTest::newRow("at once") << qint64(0) << QStringList {};
        QTest::newRow("inside first line") << qint64(3) << QStringList {};
        QTest::newRow("between CR and LF") << qint64(6) << QStringList { u"a.com"_s };
        QTest::newRow("inside a character") << qint64(8) << QStringList { u"a.com"_s };
        QTest::newRow("inside last line") << qint64(16) << QStringList { u"a.com"_s, u"域.cn"_s };
    }
    void readDomainDevice_readFails_keepsCompleteLines()
    {
        QFETCH(qint64, failAt);
        QFETCH(QStringList, expected);
        const QByteArray bytes = gbk(u"a.com\r\n域.cn\r\nc.c"_s);
        for (const bool sequential : { false, true }) {
            for (const qsizetype readSize : { 1, 4, 1 << 20 }) {
                FailingDevice device(bytes, failAt, sequential);
                const ImportResult result = readDomainDevice(device, u"list.txt"_s, {}, readSize);
                QCOMPARE(result.status, ImportResult::ReadFailed);
                QCOMPARE(result.domains(), expected);
                QCOMPARE(
                    result.error, u"读取文件出错:list.txt,已导入"_s + QString::number(expected.size()) + u"个域名.."_s);
            }
        }
    }

    void readDomainDevice_readFailsOnce_stopsWhereItFailed()
    {
        // The second reading would get past the bad spot; what lies beyond it was never looked at.
        FailingDevice device(QByteArray("a.com\r\nb.com\r\nc.com\r\n"), 10, false, true);
        const ImportResult result = readDomainDevice(device, u"list.txt"_s, {}, 4);
        QCOMPARE(result.status, ImportResult::ReadFailed);
        QCOMPARE(result.domains(), QStringList { u"a.com"_s });
    }

    void readDomainFile_example_givesDomains_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("example") << QByteArray("www.example.com\r\n\r\nexample.org")
                                 << QStringList { u"example.com"_s, u"example.org"_s };
        QTest::newRow("no non-empty line") << QByteArray("\r\n\r\n") << QStringList {};
        QTest::newRow("empty file") << QByteArray() << QStringList {};
    }
    void readDomainFile_example_givesDomains()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"list.txt"_s);
        writeFile(path, bytes);
        const ImportResult result = readDomainFile(path);
        QCOMPARE(result.status, ImportResult::Ok);
        QCOMPARE(result.domains(), expected);
        QCOMPARE(result.error, QString());
    }

    void readDomainFile_cannotOpen_namesFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << u"missing.txt"_s;
        QTest::newRow("directory") << u"folder"_s;
        QTest::newRow("under missing folder") << u"nowhere/list.txt"_s;
        QTest::newRow("endless device") << u"/dev/zero"_s;
    }
    void readDomainFile_cannotOpen_namesFile()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString path = name.startsWith(u'/') ? name : dir.filePath(name);
        int progressCalls = 0;
        const ImportResult result = readDomainFile(path, [&](qint64, qint64) { ++progressCalls; });
        QCOMPARE(result.status, ImportResult::OpenFailed);
        QCOMPARE(result.error, u"无法打开文件:"_s + path + u".."_s);
        QVERIFY(result.domains().isEmpty());
        QCOMPARE(progressCalls, 0);
    }

    void readDomainFile_readError_reportsIt()
    {
        // Opens as a plain file, then every read at offset 0 fails.
        const QString path = u"/proc/self/mem"_s;
        if (!QFile::exists(path))
            QSKIP("no /proc/self/mem here");
        const ImportResult result = readDomainFile(path);
        QCOMPARE(result.status, ImportResult::ReadFailed);
        QCOMPARE(result.error, u"读取文件出错:/proc/self/mem,已导入0个域名.."_s);
        QVERIFY(result.domains().isEmpty());
    }

    void readDomainFile_progress_runsFromZeroToSize()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"many.txt"_s);
        QByteArray bytes;
        for (int i = 0; i < 20000; ++i)
            bytes += gbk(u"www.域名"_s + QString::number(i) + u".cn\r\n"_s);
        writeFile(path, bytes);
        QList<qint64> done;
        QList<qint64> totals;
        const ImportResult result = readDomainFile(path, [&](qint64 d, qint64 t) {
            done << d;
            totals << t;
        });
        QCOMPARE(result.status, ImportResult::Ok);
        QCOMPARE(result.domains().size(), 20000);
        QCOMPARE(result.domains().last(), u"域名19999.cn"_s);
        QVERIFY(done.size() >= 2);
        QCOMPARE(done.first(), 0);
        QCOMPARE(done.last(), bytes.size());
        QVERIFY(std::is_sorted(done.begin(), done.end()));
        QCOMPARE(totals.count(bytes.size()), totals.size());
    }

    void readDomainFile_hostileContent_importsWithoutCrash()
    {
        QTemporaryDir dir;
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            for (int b = 0; b < 256; ++b)
                binary += char((b * 7 + i) & 0xFF);
        writeFile(dir.filePath(u"binary"_s), binary);
        const ImportResult fromBinary = readDomainFile(dir.filePath(u"binary"_s));
        QCOMPARE(fromBinary.status, ImportResult::Ok);
        QVERIFY(fromBinary.skipped > 0);
        for (const QString &domain : fromBinary.domains())
            QCOMPARE(importedDomain(domain), domain);

        // Ten million bytes without one place to cut: read whole, then no domain (its label is far too long).
        writeFile(dir.filePath(u"long"_s), QByteArray(10 * 1000 * 1000, 'x') + "\r\nb.com");
        const ImportResult fromLong = readDomainFile(dir.filePath(u"long"_s));
        QCOMPARE(fromLong.status, ImportResult::Ok);
        QCOMPARE(fromLong.domains(), QStringList { u"b.com"_s });
        QCOMPARE(fromLong.skipped, 1);
    }

    void buildExportBlock_rows_matchBytes()
    {
        DomainListModel model;
        model.appendDomain(u"例子.cn"_s);
        model.setCell(model.keyAt(0), DomainListModel::RecordNoColumn, u"京ICP备12345678号"_s);
        model.setCell(model.keyAt(0), DomainListModel::HolderColumn, u"某某公司"_s);
        model.setCell(model.keyAt(0), DomainListModel::RecordTypeColumn, u"企业"_s);
        model.setCell(model.keyAt(0), DomainListModel::SiteNameColumn, u"例子"_s);
        model.setCell(model.keyAt(0), DomainListModel::StatusColumn, u"查询完毕"_s);
        model.appendDomain(u"b.org"_s);
        const QByteArray block = buildExportBlock(model, allRows(model));
        QCOMPARE(block,
            gbk(u"例子.cn----京ICP备12345678号----某某公司----企业----例子\r\n"_s)
                + QByteArray("b.org----------------\r\n\r\n\xB9\xB2:2\xB8\xF6\xD3\xF2\xC3\xFB\r\n"));

        // A row stays one line: a cell's line breaks go out as one space. Only a line that could be cut apart
        // otherwise gets quotes.
        DomainListModel odd;
        odd.appendDomain(u"a.cn"_s);
        odd.setCell(odd.keyAt(0), DomainListModel::SiteNameColumn, u"x\r\ny"_s);
        odd.appendDomain(u"a----b.cn"_s);
        odd.setCell(odd.keyAt(1), DomainListModel::HolderColumn, u"\"甲\""_s);
        QCOMPARE(buildExportBlock(odd, allRows(odd)),
            QByteArray("a.cn----------------x y\r\n")
                + gbk(u"\"a----b.cn\"----\"\"----\"\"\"甲\"\"\"----\"\"----\"\"\r\n"_s) + QByteArray("\r\n")
                + gbk(u"共:2个域名\r\n"_s));
    }

    // Whatever the cells hold, a row comes back from the block as it went in: a domain or a cell with "----" in
    // it, a cell ending in "-" (its hyphen runs into the separator), quotes.
    void readBack_textBlockCellsWithSeparators_comeBackWhole_data()
    {
        QTest::addColumn<QStringList>("cells"); // domain, record number, holder, type, site name
        QTest::newRow("plain") << QStringList { u"a.com"_s, u"京ICP备1号"_s, u"甲"_s, u"企业"_s, u"站"_s };
        QTest::newRow("domain with ----")
            << QStringList { u"abc----d.com"_s, u"京ICP备1号"_s, u"甲"_s, u"企业"_s, u"站"_s };
        QTest::newRow("never queried, domain with ----") << QStringList { u"abc----d.com"_s, {}, {}, {}, {} };
        QTest::newRow("holder with ----")
            << QStringList { u"a.com"_s, u"京ICP备1号"_s, u"甲----乙"_s, u"企业"_s, u"站"_s };
        QTest::newRow("cells ending in -") << QStringList { u"a.com"_s, u"京ICP备1号-"_s, u"甲-"_s, u"-"_s, u"站-"_s };
        QTest::newRow("quotes and ----") << QStringList { u"a.com"_s, u"\""_s, u"\"甲\"\""_s, u"企业"_s,
            u"\"----\""_s };
    }
    void readBack_textBlockCellsWithSeparators_comeBackWhole()
    {
        QFETCH(QStringList, cells);
        DomainListModel model;
        model.appendDomain(u"before.cn"_s);
        model.appendDomain(cells[0]);
        const bool queried = !cells[1].isEmpty();
        if (queried)
            model.setLookupResult(model.keyAt(1), { cells[1], cells[2], cells[3], cells[4] }, u"查询完毕"_s);
        model.appendDomain(u"after.cn"_s);
        QByteArray block = buildExportBlock(model, allRows(model));
        QBuffer buffer(&block);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const ImportResult back = readDomainDevice(buffer, u"block"_s);
        QCOMPARE(back.domains(), (QStringList { u"before.cn"_s, cells[0], u"after.cn"_s }));
        QCOMPARE(bool(back.rows[1].lookup), queried);
        if (queried)
            QCOMPARE(rowCells(back.rows[1]).mid(0, 5), cells);
    }

    // Lines as earlier blocks have them read as they always did, also those a quoted line could be taken for.
    void readBack_earlierTextBlocks_readAsBefore_data()
    {
        QTest::addColumn<QString>("line");
        // Domain and record cells; only the domain when it has none; none for a line not to be read as quoted.
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("five cells") << u"a.com----京ICP备1号----甲----企业----站"_s
                                    << QStringList { u"a.com"_s, u"京ICP备1号"_s, u"甲"_s, u"企业"_s, u"站"_s };
        QTest::newRow("site name holding ----")
            << u"a.com----1----甲----企业----站----点"_s
            << QStringList { u"a.com"_s, u"1"_s, u"甲"_s, u"企业"_s, u"站----点"_s };
        QTest::newRow("never queried") << u"a.com----------------"_s << QStringList { u"a.com"_s };
        QTest::newRow("quoted cells with more after them")
            << u"\"a.com\"----\"1\"----\"甲\"----\"企业\"----\"站\"x"_s << QStringList();
    }
    void readBack_earlierTextBlocks_readAsBefore()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, cells);
        QByteArray bytes = gbk(line + u"\r\n"_s);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const ImportResult back = readDomainDevice(buffer, u"block"_s);
        // Like a quoted line but not one: read the old way, whatever the cleaning then makes of `"a.com"`.
        if (cells.isEmpty()) {
            QVERIFY(!back.domains().contains(u"a.com"_s));
            return;
        }
        QCOMPARE(back.rows.size(), size_t(1));
        QCOMPARE(back.rows[0].domain, cells[0]);
        QCOMPARE(bool(back.rows[0].lookup), cells.size() > 1);
        if (cells.size() > 1)
            QCOMPARE(rowCells(back.rows[0]).mid(0, 5), cells);
    }

    void buildExportBlock_manyRows_inListOrderAndLossless()
    {
        DomainListModel model;
        QString expected;
        for (int i = 0; i < 5000; ++i) {
            // Beyond GBK: an emoji and a Thai letter must come back as they were.
            const QString domain = u"域名😀ก"_s + QString::number(i) + u".cn"_s;
            model.appendDomain(domain);
            expected += domain + u"----------------\r\n"_s;
        }
        expected += u"\r\n共:5000个域名\r\n"_s;
        const QByteArray block = buildExportBlock(model, allRows(model));
        QCOMPARE(codepage::fromNarrow(block), expected);
        QCOMPARE(block, gbk(expected));
    }

    void buildExportBlock_longFirstRow_reservesForTheListNotTheRow()
    {
        // A first row longer than a whole piece once made the block reserve that row's size for every row.
        DomainListModel model;
        model.appendDomain(QString(40000, u'a'));
        for (int i = 0; i < 2000; ++i)
            model.appendDomain(u"b.cn"_s);
        const QByteArray block = buildExportBlock(model, allRows(model));
        QCOMPARE(block.size(), 40000 + 2000 * 22 + 16 + 2 + 2 + gbk(u"共:2001个域名\r\n"_s).size());
        QVERIFY2(block.capacity() <= 2 * block.size(), qPrintable(QString::number(block.capacity())));
    }

    void appendExportBlock_appends_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("exports");
        QTest::newRow("new file") << u"out.txt"_s << QByteArray() << 1;
        QTest::newRow("twice") << u"out.txt"_s << QByteArray() << 2;
        QTest::newRow("last line open") << u"out.txt"_s << QByteArray("old line") << 1;
        QTest::newRow("no extension") << u"out"_s << QByteArray() << 1;
    }
    void appendExportBlock_appends()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, before);
        QFETCH(int, exports);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!before.isEmpty())
            writeFile(path, before);
        DomainListModel model;
        model.appendDomain(u"例子.cn"_s);
        const QByteArray block = buildExportBlock(model, allRows(model));
        QByteArray expected = before;
        for (int i = 0; i < exports; ++i) {
            const ExportResult result = appendExportBlock(path, block);
            QVERIFY(result.ok);
            QCOMPARE(result.error, QString());
            expected += block;
        }
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { name });
    }

    void appendExportBlock_cannotWrite_reportsAndKeepsFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("directory") << u"folder"_s << u"无法打开文件:"_s;
        QTest::newRow("under missing folder") << u"nowhere/out.txt"_s << u"无法打开文件:"_s;
        QTest::newRow("full device") << u"/dev/full"_s << u"写入文件失败:"_s;
    }
    void appendExportBlock_cannotWrite_reportsAndKeepsFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString path = name.startsWith(u'/') ? name : dir.filePath(name);
        const ExportResult result = appendExportBlock(path, QByteArray("a----------------\r\n"));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, message + path + u".."_s);
        QVERIFY(!QFile::exists(dir.filePath(u"nowhere"_s)));
        QVERIFY(QFileInfo(dir.filePath(u"folder"_s)).isDir());
    }

    // Runs itself again in a private mount namespace where the folder is bound read-only, so nothing outside
    // this test sees the mount.
    void export_readOnlyFolder_reportsAndKeepsFiles()
    {
        const QString inside = qEnvironmentVariable("QUERNFOLD_READONLY_DIR");
        const QStringList names { u"out.txt"_s, u"new.txt"_s, u"out.csv"_s, u"new.csv"_s, u"out.xlsx"_s,
            u"new.xlsx"_s };
        if (!inside.isEmpty()) {
            DomainListModel model;
            model.appendDomain(u"a.com"_s);
            for (const QString &name : names) {
                const QString path = inside + u'/' + name;
                const ExportResult result = writeExport(path, model, { 0 });
                QVERIFY(!result.ok);
                QCOMPARE(result.error, u"无法打开文件:"_s + path + u".."_s);
            }
            return;
        }
        const QString unshare = QStandardPaths::findExecutable(u"unshare"_s);
        if (unshare.isEmpty())
            QSKIP("no unshare to make a read-only folder with");
        QTemporaryDir dir;
        for (const QString &name : names) {
            if (name.startsWith(u"out"))
                writeFile(dir.filePath(name), QByteArray("keep me\r\n"));
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QUERNFOLD_READONLY_DIR"_s, dir.path());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(unshare,
            { u"--mount"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                u"mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 0; "
                "echo read-only; exec \"$1\" export_readOnlyFolder_reportsAndKeepsFiles"_s,
                dir.path(), QCoreApplication::applicationFilePath() });
        QVERIFY(child.waitForFinished(-1));
        const QByteArray output = child.readAll();
        if (!output.startsWith("read-only"))
            QSKIP("cannot make a read-only folder here");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        for (const QString &name : names) {
            if (name.startsWith(u"out"))
                QCOMPARE(fileBytes(dir.filePath(name)), QByteArray("keep me\r\n"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            (QStringList { u"out.csv"_s, u"out.txt"_s, u"out.xlsx"_s }));
    }

    void appendExportBlock_failsHalfway_takesBlockBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        const QByteArray before("keep me\r\n");
        writeFile(path, before);
        // The file may grow by ten bytes only: the write stops in the middle of the block.
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = rlim_t(before.size() + 10);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const ExportResult result = appendExportBlock(path, QByteArray(1000, 'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, u"写入文件失败:"_s + path + u".."_s);
        QCOMPARE(fileBytes(path), before);
    }

    void exportThenImport_chineseText_roundTrips()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        DomainListModel model;
        model.appendDomain(u"中文域名.中国"_s);
        model.setCell(model.keyAt(0), DomainListModel::HolderColumn, u"北京某某科技有限公司"_s);
        QVERIFY(appendExportBlock(path, buildExportBlock(model, allRows(model))).ok);
        const QString text = u"中文域名.中国--------北京某某科技有限公司--------\r\n\r\n共:1个域名\r\n"_s;
        const QByteArray bytes = fileBytes(path);
        QCOMPARE(codepage::fromNarrow(bytes), text);
        // The import reads what the export writes.
        QCOMPARE(quernfold::decodeImportBytes(bytes), text);
        // The import reads the block back as the row it was, not as two domains made of whole lines.
        const ImportResult back = readDomainFile(path);
        QCOMPARE(back.domains(), QStringList { u"中文域名.中国"_s });
        QVERIFY(back.rows.front().lookup);
        QCOMPARE(back.rows.front().lookup->record.holder, u"北京某某科技有限公司"_s);
    }

    void importedDomain_cleansOrRefuses_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        // The lines of a list copied together from a browser and a spreadsheet.
        QTest::newRow("blanks around") << u"  spaced-out.example.com  "_s << u"spaced-out.example.com"_s;
        QTest::newRow("tab and no-break space") << u"\ttab.example.cn\u00A0"_s << u"tab.example.cn"_s;
        QTest::newRow("address") << u"http://news.example.org/path?q=1#top"_s << u"news.example.org"_s;
        QTest::newRow("user, port, https") << u"HTTPS://user:pw@Shop.Example.com:8443"_s << u"shop.example.com"_s;
        QTest::newRow("trailing dot") << u"example.cn."_s << u"example.cn"_s;
        QTest::newRow("capital WWW") << u"WWW.UPPER.EXAMPLE.COM"_s << u"upper.example.com"_s;
        QTest::newRow("chinese kept") << u"www.中文域名.中国"_s << u"中文域名.中国"_s;
        QTest::newRow("non-ASCII letters lower-cased") << u"ÄBC.DE"_s << u"äbc.de"_s;
        QTest::newRow("space inside") << u"not a domain"_s << QString();
        QTest::newRow("empty label") << u"foo..bar.com"_s << QString();
        QTest::newRow("hyphen at label edges") << u"-bad-.com"_s << QString();
        QTest::newRow("hyphen at label end") << u"a.bad-.com"_s << QString();
        QTest::newRow("label of 63") << QString(63, u'a') + u".cn"_s << QString(63, u'a') + u".cn"_s;
        QTest::newRow("label of 64") << QString(64, u'a') + u".cn"_s << QString();
        QTest::newRow("characters beyond the BMP") << u"𠀀𠀁.cn"_s << u"𠀀𠀁.cn"_s;
        const QString name253 = QString(62, u'a') + u'.' + QString(61, u'b') + u'.' + QString(61, u'c') + u'.'
            + QString(63, u'd') + u".cn"_s;
        QTest::newRow("name of 253") << name253 << name253;
        QTest::newRow("name of 254") << u'e' + name253 << QString();
        QTest::newRow("only an address") << u"https:///path"_s << QString();
    }
    void importedDomain_cleansOrRefuses()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(quernfold::importedDomain(line), expected);
    }

    void dropDuplicateDomains_keepsTheFirst_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("four times in the file") << QStringList {}
                                                << QStringList { u"example.cn"_s, u"a.com"_s, u"example.cn"_s,
                                                       u"example.cn"_s, u"b.com"_s, u"example.cn"_s }
                                                << QStringList { u"example.cn"_s, u"a.com"_s, u"b.com"_s };
        QTest::newRow("already listed") << QStringList { u"a.com"_s, u"x.cn"_s }
                                        << QStringList { u"x.cn"_s, u"new.cn"_s, u"a.com"_s }
                                        << QStringList { u"new.cn"_s };
        QTest::newRow("listed twice") << QStringList { u"a.com"_s, u"a.com"_s } << QStringList { u"a.com"_s }
                                      << QStringList {};
    }
    void dropDuplicateDomains_keepsTheFirst()
    {
        QFETCH(QStringList, listed);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, kept);
        DomainListModel model;
        model.setDomains(listed);
        std::vector<DomainRow> imported;
        for (const QString &domain : rows)
            imported.push_back(DomainRow { domain, nullptr });
        QCOMPARE(dropDuplicateDomains(imported, listed.isEmpty() ? nullptr : &model), rows.size() - kept.size());
        QStringList left;
        for (const DomainRow &row : imported)
            left << row.domain;
        QCOMPARE(left, kept);
    }

    void dropDuplicateDomains_manyRows_matchesASet()
    {
        // Enough rows for long probe runs and wrap-arounds in the table; the set is the plain answer.
        QRandomGenerator random(7);
        DomainListModel model;
        QStringList listed;
        for (int i = 0; i < 20000; ++i)
            listed << QString::number(random.bounded(60000)) + u".cn"_s;
        model.setDomains(listed);
        std::vector<DomainRow> rows;
        for (int i = 0; i < 50000; ++i)
            rows.push_back(DomainRow { QString::number(random.bounded(60000)) + u".cn"_s, nullptr });
        QSet<QString> seen(listed.begin(), listed.end());
        QStringList expected;
        for (const DomainRow &row : rows) {
            if (!seen.contains(row.domain)) {
                seen.insert(row.domain);
                expected << row.domain;
            }
        }
        dropDuplicateDomains(rows, &model);
        QStringList left;
        for (const DomainRow &row : rows)
            left << row.domain;
        QCOMPARE(left, expected);
    }

    void model_bulkRows_signalOnceAndKeepCells()
    {
        DomainListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDomains({ u"a.com"_s });
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        std::vector<DomainRow> rows(2);
        rows[0].domain = u"b.cn"_s;
        rows[1].domain = u"c.cn"_s;
        rows[1].lookup = std::make_unique<LookupCells>();
        rows[1].lookup->status = u"查询完毕"_s;
        model.appendRows(std::move(rows));
        model.appendRows({});
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.first().at(1).toInt(), 1);
        QCOMPARE(inserted.first().at(2).toInt(), 2);
        QCOMPARE(model.cell(2, DomainListModel::StatusColumn), u"查询完毕"_s);
        QCOMPARE(model.cell(2, DomainListModel::IdColumn), u"3"_s);
        QVERIFY(!model.row(1).lookup);
        model.replaceRows(std::vector<DomainRow>(1));
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.count(), 1);
    }

    void readDomainDevice_lineBound_refusesBeforeRows_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("refused");
        // The bound here is 3 lines; empty lines are no rows and do not count.
        QTest::newRow("at the bound") << QByteArray("a.cn\r\nb.cn\r\n\r\n\nc.cn") << false;
        QTest::newRow("one over") << QByteArray("a\nb\nc\nd\n") << true;
        QTest::newRow("one over, no last line end") << QByteArray("a\rb\rc\rd") << true;
        QTest::newRow("over with a bom") << QByteArray("\xEF\xBB\xBF\xE4\xB8\xAD\na\nb\nc") << true;
        QTest::newRow("lines that are no domains count") << QByteArray(" \n - \n..\n!") << true;
    }
    void readDomainDevice_lineBound_refusesBeforeRows()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const ImportResult result = readDomainDevice(device, u"list.txt"_s, {}, 2, ImportKind::Lines, 3);
        QCOMPARE(result.status, refused ? ImportResult::TooManyLines : ImportResult::Ok);
        QCOMPARE(result.error, refused ? u"文件超过1000万行,无法导入:list.txt.."_s : QString());
        QCOMPARE(result.rows.empty(), refused);
    }

    // A pipe has no size to refuse it by beforehand: it is refused once the bytes that pass a bound are in, and
    // never read further.
    void readDomainDevice_pipeOverABound_stopsReadingThere_data()
    {
        QTest::addColumn<qint64>("sizeLimit");
        QTest::addColumn<qint64>("lineLimit");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("mostRead");
        constexpr qint64 kMiB = 1024 * 1024;
        QTest::newRow("bytes") << kMiB << kImportLineLimit << int(ImportResult::TooLarge) << kMiB + 64 * 1024;
        QTest::newRow("lines") << kImportSizeLimit << qint64(1000) << int(ImportResult::TooManyLines)
                               << qint64(64 * 1024);
    }
    void readDomainDevice_pipeOverABound_stopsReadingThere()
    {
        QFETCH(qint64, sizeLimit);
        QFETCH(qint64, lineLimit);
        QFETCH(int, status);
        QFETCH(qint64, mostRead);
        FailingDevice pipe(
            QByteArray("a.com\n").repeated(8 * 1024 * 1024 / 6), std::numeric_limits<qint64>::max(), true);
        const ImportResult result
            = readDomainDevice(pipe, u"standard input"_s, {}, 64 * 1024, ImportKind::Lines, lineLimit, sizeLimit);
        QCOMPARE(int(result.status), status);
        QVERIFY(result.rows.empty());
        QVERIFY2(pipe.served() <= mostRead, qPrintable(QString::number(pipe.served())));
    }

    void appendJsonString_readsBackAsTheCell_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::newRow("empty") << QString();
        QTest::newRow("chinese") << u"京ICP备12345678号"_s;
        QTest::newRow("quote and backslash") << u"say \"hi\" \\ bye"_s;
        QTest::newRow("line breaks and tab") << u"a\r\nb\tc"_s;
        QTest::newRow("other controls") << u"\x01x\x1f"_s;
        QTest::newRow("beyond the basic plane") << u"域名😀"_s;
        QTest::newRow("line separator") << u"a\u2028b"_s;
    }
    void appendJsonString_readsBackAsTheCell()
    {
        QFETCH(QString, cell);
        QString json;
        appendJsonString(json, cell);
        // One line a record: nothing below a blank may stand unescaped.
        QVERIFY(std::none_of(json.begin(), json.end(), [](QChar c) { return c.unicode() < 0x20; }));
        QJsonParseError error {};
        const QJsonDocument parsed = QJsonDocument::fromJson('[' + json.toUtf8() + ']', &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(parsed.array().at(0).toString(), cell);
    }

    void appendCsvField_quotesAndDisarms_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << u"例子.cn"_s << u"例子.cn"_s;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("comma") << u"a,b"_s << u"\"a,b\""_s;
        QTest::newRow("quote") << u"say \"hi\""_s << u"\"say \"\"hi\"\"\""_s;
        QTest::newRow("line break") << u"a\r\nb"_s << u"\"a\r\nb\""_s;
        QTest::newRow("formula") << u"=1+1"_s << u"\"'=1+1\""_s;
        QTest::newRow("plus") << u"+86"_s << u"\"'+86\""_s;
        QTest::newRow("minus") << u"-1"_s << u"\"'-1\""_s;
        QTest::newRow("at") << u"@SUM(A1)"_s << u"\"'@SUM(A1)\""_s;
        QTest::newRow("tab") << u"\tx"_s << u"\"'\tx\""_s;
        QTest::newRow("carriage return") << u"\rx"_s << u"\"'\rx\""_s;
        QTest::newRow("apostrophe") << u"'x"_s << u"\"''x\""_s;
        QTest::newRow("formula with quote") << u"=\"a\""_s << u"\"'=\"\"a\"\"\""_s;
        QTest::newRow("inner equals") << u"a=b"_s << u"a=b"_s;
    }
    void appendCsvField_quotesAndDisarms()
    {
        QFETCH(QString, cell);
        QFETCH(QString, field);
        QString out;
        appendCsvField(out, cell);
        QCOMPARE(out, field);
        // Our reader gives the cell back, in one piece or in pieces of one character.
        for (const qsizetype piece : { out.size() + 1, qsizetype(1) }) {
            QStringList read;
            CsvRecordSplitter splitter([&](CsvRecordSplitter::Record &record) {
                for (const QString &f : record)
                    read << csvCellOf(f).toString();
            });
            const QString line = u"x,"_s + out + u"\r\n"_s;
            for (qsizetype at = 0; at < line.size(); at += piece)
                splitter.feed(QStringView(line).sliced(at, std::min(piece, line.size() - at)));
            splitter.finish();
            QCOMPARE(read, (QStringList { u"x"_s, cell }));
        }
    }

    void readBack_ourCsv_restoresEveryCell()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.csv"_s);
        DomainListModel model;
        fillHostileRows(model, true);
        QVERIFY(writeExport(path, model, { 2, 0, 1 }).ok);
        const ImportResult back = readDomainFile(path);
        QCOMPARE(back.status, ImportResult::Ok);
        QCOMPARE(back.skipped, 0);
        QCOMPARE(back.rows.size(), size_t(3));
        // Written in the order given; a row that never had cells comes back without any.
        QVERIFY(!back.rows[0].lookup);
        QCOMPARE(rowCells(back.rows[0]), rowCells(model.row(2)));
        QCOMPARE(rowCells(back.rows[1]), rowCells(model.row(0)));
        QCOMPARE(rowCells(back.rows[2]), rowCells(model.row(1)));
    }

    // Files from before 变化 end at 说明; a spreadsheet may have added columns of its own behind ours.
    void readBack_ourCsv_withOrWithoutChange_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("change");
        const QString header = u"ID,域名,备案号,备案人,备案类型,网站名称,查询状态,说明"_s;
        const QString found = u"1,a.cn,京ICP备1号-1,张三,企业,星辰官网,查询完毕,"_s;
        QTest::newRow("without 变化") << header + u"\r\n"_s + found + u"来自历史\r\n"_s << u"来自历史"_s << QString();
        QTest::newRow("without 变化, a column added behind")
            << header + u",备注\r\n"_s + found + u",新备案\r\n"_s << QString() << QString();
        QTest::newRow("with 变化") << header + u",变化\r\n"_s + found + u",备案号变更、备案人变更\r\n"_s << QString()
                                   << u"备案号变更、备案人变更"_s;
        QTest::newRow("with 变化 and a column added behind")
            << header + u",变化,备注\r\n"_s + found + u",新备案,x\r\n"_s << QString() << u"新备案"_s;
        QTest::newRow("a change on a lookup that failed")
            << header + u",变化\r\n1,a.cn,,,,,查询失败,HTTP 状态 500,新备案\r\n"_s << u"HTTP 状态 500"_s << QString();
    }
    void readBack_ourCsv_withOrWithoutChange()
    {
        QFETCH(QString, text);
        QFETCH(QString, note);
        QFETCH(QString, change);
        QByteArray bytes = text.toUtf8();
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        ImportResult result = readDomainDevice(device, u"list.csv"_s, {}, 64 * 1024, ImportKind::Csv);
        QCOMPARE(result.domains(), QStringList { u"a.cn"_s });
        QVERIFY(result.rows[0].lookup);
        QCOMPARE(result.rows[0].lookup->note, note);
        QCOMPARE(result.rows[0].lookup->change, change);
        // Back on the list, the row is one of the changed ones and shows the change.
        DomainListModel model;
        model.appendRows(std::move(result.rows));
        QCOMPARE(model.count(RowKind::Changed), change.isEmpty() ? 0 : 1);
        QCOMPARE(model.cell(0, DomainListModel::ChangeColumn), change);
    }

    void readBack_textBlocks_restoreRecords()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        DomainListModel model;
        fillHostileRows(model, false);
        writeFile(path, gbk(u"www.plain.cn\r\n"_s));
        QVERIFY(writeExport(path, model, { 0, 1 }).ok);
        QVERIFY(writeExport(path, model, { 2 }).ok);
        const ImportResult back = readDomainFile(path);
        QCOMPARE(back.status, ImportResult::Ok);
        QCOMPARE(back.domains(), (QStringList { u"plain.cn"_s, u"例子.cn"_s, u"b.com"_s, u"c.org"_s }));
        QCOMPARE(back.skipped, 0);
        // The block has no status or note: a row with record cells finished, one without is to be queried.
        QStringList expected = rowCells(model.row(0));
        expected[5] = u"查询完毕"_s;
        expected[6].clear();
        expected[7].clear();
        QCOMPARE(rowCells(back.rows[1]), expected);
        QCOMPARE(back.rows[2].lookup->status, u"查询完毕"_s);
        QVERIFY(!back.rows[0].lookup && !back.rows[3].lookup);
    }

    void readCsv_someoneElses_takesFirstColumn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("skipped");
        QTest::newRow("gbk with a header") << gbk(u"域名,备注\r\n例子.cn,\"甲,乙\"\r\nhttp://B.com/x,\r\n,\r\n"_s)
                                           << QStringList { u"例子.cn"_s, u"b.com"_s } << 1;
        QTest::newRow("no header, quoted")
            << QByteArray("\"a.com\",1\n\"b\r\n.cn\",2\nc.cn") << QStringList { u"a.com"_s, u"c.cn"_s } << 1;
        QTest::newRow("our header in other columns") << QByteArray("域名,ID\na.cn,1") << QStringList { u"a.cn"_s } << 0;
    }
    void readCsv_someoneElses_takesFirstColumn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QFETCH(int, skipped);
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const ImportResult result = readDomainDevice(device, u"list.csv"_s, {}, 3, ImportKind::Csv);
        QCOMPARE(result.domains(), expected);
        QCOMPARE(result.skipped, skipped);
        QVERIFY(std::none_of(
            result.rows.begin(), result.rows.end(), [](const DomainRow &row) { return row.lookup != nullptr; }));
    }

    void python_readsOurCsvAndXlsx_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("csv") << u"csv"_s;
        QTest::newRow("xlsx") << u"xlsx"_s;
    }
    void python_readsOurCsvAndXlsx()
    {
        QFETCH(QString, extension);
        if (!pythonReads(extension == u"csv"_s ? "csv" : "openpyxl"))
            QSKIP("no /usr/bin/python3 with openpyxl (tools/setup.sh installs it)");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out."_s + extension);
        DomainListModel model;
        // A workbook keeps a CR as the escape _x000D_, which openpyxl does not turn back (Excel does).
        fillHostileRows(model, extension == u"csv"_s);
        QVERIFY(writeExport(path, model, { 0, 1, 2 }).ok);
        QList<QStringList> expected { header() };
        for (int row = 0; row < 3; ++row) {
            QStringList cells = rowCells(model.row(row));
            // What a spreadsheet shows of a cell that could run as a formula: the apostrophe we put in front.
            if (extension == u"csv"_s) {
                for (QString &cell : cells) {
                    if (QStringLiteral("=+-@\t\r'").contains(cell.left(1)) && !cell.isEmpty())
                        cell.prepend(u'\'');
                }
            }
            expected << (QStringList { QString::number(row + 1) } + cells);
        }
        if (extension == u"csv"_s) {
            const QJsonArray rows = readWithPython(u"csv"_s, path).value(u"rows"_s).toArray();
            QCOMPARE(rows.size(), expected.size());
            for (qsizetype i = 0; i < rows.size(); ++i)
                QCOMPARE(texts(rows.at(i).toArray()), expected.at(i));
            return;
        }
        const QJsonArray sheets = readWithPython(u"xlsx"_s, path).value(u"sheets"_s).toArray();
        QCOMPARE(sheets.size(), 1);
        const QJsonObject sheet = sheets.first().toObject();
        const QJsonArray rows = sheet.value(u"rows"_s).toArray();
        QCOMPARE(rows.size(), expected.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QJsonArray cells = rows.at(i).toArray();
            QCOMPARE(texts(cells), expected.at(i));
            // The ID a number, every other cell text (an empty one no cell at all).
            for (qsizetype column = 1; column < cells.size(); ++column)
                QVERIFY(
                    cells.at(column).isString() || (cells.at(column).isNull() && expected.at(i).at(column).isEmpty()));
            QVERIFY(i == 0 || cells.at(0).isDouble());
        }
        QVERIFY(sheet.value(u"bold"_s).toBool());
        QCOMPARE(sheet.value(u"freeze"_s).toString(), u"A2"_s);
        QCOMPARE(sheet.value(u"filter"_s).toString(), u"A1:I4"_s);
        // As wide as the widest text: the note is longer than its caption, the type's caption wider than its cells.
        const QJsonArray widths = sheet.value(u"widths"_s).toArray();
        QVERIFY2(widths.at(7).toDouble() > widths.at(4).toDouble(), QJsonDocument(widths).toJson().constData());
        QVERIFY(widths.at(4).toDouble() >= 8);
    }

    void xlsx_rowsPastASheet_goOnWithTheHeader()
    {
        if (!pythonReads("openpyxl"))
            QSKIP("no /usr/bin/python3 with openpyxl (tools/setup.sh installs it)");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.xlsx"_s);
        DomainListModel model;
        model.setDomains({ u"a.cn"_s, u"b.cn"_s, u"c.cn"_s, u"d.cn"_s, u"e.cn"_s });
        QVERIFY(writeXlsxExport(path, model, { 0, 1, 2, 3, 4 }, {}, 2).ok);
        const QJsonArray sheets = readWithPython(u"xlsx"_s, path).value(u"sheets"_s).toArray();
        QCOMPARE(sheets.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonArray rows = sheets.at(i).toObject().value(u"rows"_s).toArray();
            QCOMPARE(texts(rows.at(0).toArray()), header());
            QCOMPARE(rows.at(1).toArray().at(0).toDouble(), 2 * i + 1);
            QCOMPARE(rows.size(), i < 2 ? 3 : 2);
            QCOMPARE(sheets.at(i).toObject().value(u"filter"_s).toString(), i < 2 ? u"A1:I3"_s : u"A1:I2"_s);
        }
    }

    void xlsx_overAMillionRows_secondSheet()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("a million rows take minutes with the sanitizers; the normal build checks them");
#endif
        if (!pythonReads("openpyxl"))
            QSKIP("no /usr/bin/python3 with openpyxl (tools/setup.sh installs it)");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"big.xlsx"_s);
        DomainListModel model;
        std::vector<DomainRow> rows(1'100'000);
        std::vector<int> order(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i].domain = QString::number(i) + u".cn"_s;
            order[i] = int(i);
        }
        model.appendRows(std::move(rows));
        QVERIFY(writeExport(path, model, order).ok);
        const QJsonArray sheets = readWithPython(u"big"_s, path).value(u"sheets"_s).toArray();
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets.at(0).toObject().value(u"size"_s).toInt(), 1'048'576);
        QCOMPARE(sheets.at(1).toObject().value(u"size"_s).toInt(), 1'100'000 - kXlsxRowsPerSheet + 1);
        const QJsonArray second = sheets.at(1).toObject().value(u"rows"_s).toArray();
        QCOMPARE(texts(second.at(0).toArray()), header());
        QCOMPARE(texts(second.at(1).toArray()).mid(0, 2), (QStringList { u"1048576"_s, u"1048575.cn"_s }));
    }

    void writers_failingTarget_leaveNothingBehind_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        for (const QString &extension : { u"csv"_s, u"xlsx"_s }) {
            const QByteArray e = extension.toLatin1();
            QTest::addRow("%s, directory", e.constData()) << extension << u"folder"_s << u"无法打开文件:"_s;
            QTest::addRow("%s, missing folder", e.constData()) << extension << u"nowhere/out"_s << u"无法打开文件:"_s;
            QTest::addRow("%s, full device", e.constData()) << extension << u"/dev/full"_s << u"写入文件失败:"_s;
            // The file may not grow past a few bytes: the temporary file fails, the old file stays.
            QTest::addRow("%s, file size limit", e.constData()) << extension << u"out"_s << u"写入文件失败:"_s;
        }
    }
    void writers_failingTarget_leaveNothingBehind()
    {
        QFETCH(QString, extension);
        QFETCH(QString, target);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString path = target.startsWith(u'/')
            ? target
            : dir.filePath(target) + (target == u"folder"_s ? u""_s : u'.' + extension);
        const bool limited = target == u"out"_s;
        if (limited)
            writeFile(path, QByteArray("keep me"));
        DomainListModel model;
        fillHostileRows(model, true);
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (limited) {
            rlimit small = saved;
            small.rlim_cur = 20;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const ExportResult result = extension == u"csv"_s ? writeCsvExport(path, model, { 0, 1, 2 }, {})
                                                          : writeXlsxExport(path, model, { 0, 1, 2 }, {});
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, message + path + u".."_s);
        const QStringList left
            = limited ? QStringList { u"folder"_s, u"out."_s + extension } : QStringList { u"folder"_s };
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), left);
        if (limited)
            QCOMPARE(fileBytes(path), QByteArray("keep me"));
    }

    void writers_calledOff_leaveTheFileAsItWas_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("csv") << u"out.csv"_s;
        QTest::newRow("xlsx") << u"out.xlsx"_s;
        QTest::newRow("text block") << u"out.txt"_s;
    }
    void writers_calledOff_leaveTheFileAsItWas()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        writeFile(path, QByteArray("keep me"));
        DomainListModel model;
        fillHostileRows(model, true);
        std::atomic_bool cancelled { false };
        ExportControl control;
        control.cancelled = &cancelled;
        // Called off as the window does when it closes: from outside, while the rows are being written.
        control.progress = [&](qint64, qint64) { cancelled = true; };
        const ExportResult result = writeExport(path, model, { 0, 1, 2 }, control);
        QVERIFY(!result.ok && result.cancelled);
        QCOMPARE(fileBytes(path), QByteArray("keep me"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { name });
    }

    // The window's export reads the list on a thread of its own while the window reads it too: no writer may write
    // to the list's strings, as QString::utf16() does to one that holds a literal (it copies it into a buffer of
    // its own). Cells from literals are what a run writes ("查询完毕", "无记录").
    void writers_readTheCellsWithoutTouchingThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("text block") << u"out.txt"_s;
        QTest::newRow("csv") << u"out.csv"_s;
        QTest::newRow("xlsx") << u"out.xlsx"_s;
    }
    void writers_readTheCellsWithoutTouchingThem()
    {
        QFETCH(QString, name);
        std::vector<DomainRow> rows(2);
        rows[0].domain = QStringLiteral("a----b.cn");
        rows[0].lookup = std::make_unique<LookupCells>();
        rows[0].lookup->record
            = { QStringLiteral("无记录"), QStringLiteral("未知"), QStringLiteral("未知-"), QStringLiteral("未知") };
        rows[0].lookup->status = QStringLiteral("查询完毕");
        rows[0].lookup->note = QStringLiteral("复用");
        rows[1].domain = QStringLiteral("b.cn");
        DomainListModel model;
        model.appendRows(std::move(rows));
        const auto where = [&model] {
            std::vector<const QChar *> texts;
            for (int row = 0; row < model.count(); ++row) {
                for (const QStringView cell : exportTextCells(model, row))
                    texts.push_back(cell.data());
            }
            return texts;
        };
        const std::vector<const QChar *> before = where();
        QTemporaryDir dir;
        QVERIFY(writeExport(dir.filePath(name), model, allRows(model)).ok);
        QVERIFY(where() == before);
    }
};

QTEST_GUILESS_MAIN(TestImportExport)
#include "tst_import_export.moc"
