#include "domainlist/domain_list_model.h"
#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "platform/codepage.h"

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
        QTest::newRow("every line end") << QStringLiteral("a\rb\nc\r\n\r\nd\n\re\r")
                                        << QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                               QStringLiteral("d"), QStringLiteral("e") };
        QTest::newRow("duplicates kept") << QStringLiteral("a.cn\r\na.cn\r\n")
                                         << QStringList { QStringLiteral("a.cn"), QStringLiteral("a.cn") };
        QTest::newRow("blank lines are no domains") << QStringLiteral("   \r\n\r\n\t") << QStringList {};
        QTest::newRow("www. line loses its dot") << QStringLiteral("www.\r\nb") << QStringList { u"www"_s, u"b"_s };
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
        QTest::newRow("gbk long run") << gbk(u"中文域名测试中文域名测试中文域名测试\nb"_s)
                                      << QStringList { u"中文域名测试中文域名测试中文域名测试"_s, u"b"_s };
        QTest::newRow("gbk four-byte") << gbk(u"😀😀😀.com\r€"_s) << QStringList { u"😀😀😀.com"_s, u"€"_s };
        QTest::newRow("gbk cut at end") << QByteArray("a.com\r\nb\x81") << QStringList { u"a.com"_s, u"b\uFFFD"_s };
        QTest::newRow("utf8 lf") << utf8(u"中文.中国\n例子.com\n"_s) << QStringList { u"中文.中国"_s, u"例子.com"_s };
        QTest::newRow("utf8 bom") << kBom + utf8(u"a.com\r\n中文.cn"_s) << QStringList { u"a.com"_s, u"中文.cn"_s };
        QTest::newRow("utf8 inner mark") << utf8(u"中.\uFEFFx.cn"_s) << QStringList { u"中.\uFEFFx.cn"_s };
        QTest::newRow("marks after a cut") << utf8(u"a.\uFEFF\uFEFFex"_s) << QStringList { u"a.\uFEFF\uFEFFex"_s };
        QTest::newRow("www across pieces")
            << QByteArray("wwwww.a.www.b\r\nwww.\r\n") << QStringList { u"wwwww.a.b"_s, u"www"_s };
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
        QVERIFY(!fromBinary.domains().isEmpty());
        for (const QString &domain : fromBinary.domains())
            QVERIFY(!domain.isEmpty() && !domain.contains(u'\r') && !domain.contains(u'\n'));

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
        model.setCell(0, DomainListModel::RecordNoColumn, u"京ICP备12345678号"_s);
        model.setCell(0, DomainListModel::HolderColumn, u"某某公司"_s);
        model.setCell(0, DomainListModel::RecordTypeColumn, u"企业"_s);
        model.setCell(0, DomainListModel::SiteNameColumn, u"例子"_s);
        model.setCell(0, DomainListModel::StatusColumn, u"查询完毕"_s);
        model.appendDomain(u"b.org"_s);
        const QByteArray block = buildExportBlock(model, allRows(model));
        QCOMPARE(block,
            gbk(u"例子.cn----京ICP备12345678号----某某公司----企业----例子\r\n"_s)
                + QByteArray("b.org----------------\r\n\r\n\xB9\xB2:2\xB8\xF6\xD3\xF2\xC3\xFB\r\n"));

        // Cells go out as they are, even when they look like separators or line ends.
        DomainListModel odd;
        odd.appendDomain(u"a----b"_s);
        odd.setCell(0, DomainListModel::SiteNameColumn, u"x\r\ny"_s);
        QCOMPARE(buildExportBlock(odd, allRows(odd)),
            QByteArray("a----b----------------x\r\ny\r\n\r\n") + gbk(u"共:1个域名\r\n"_s));
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
    void appendExportBlock_readOnlyFolder_reportsAndKeepsFile()
    {
        const QString inside = qEnvironmentVariable("QUERNFOLD_READONLY_DIR");
        if (!inside.isEmpty()) {
            for (const QString &name : { u"out.txt"_s, u"new.txt"_s }) {
                const QString path = inside + u'/' + name;
                const ExportResult result = appendExportBlock(path, QByteArray("a----------------\r\n"));
                QVERIFY(!result.ok);
                QCOMPARE(result.error, u"无法打开文件:"_s + path + u".."_s);
            }
            return;
        }
        const QString unshare = QStandardPaths::findExecutable(u"unshare"_s);
        if (unshare.isEmpty())
            QSKIP("no unshare to make a read-only folder with");
        QTemporaryDir dir;
        writeFile(dir.filePath(u"out.txt"_s), QByteArray("keep me\r\n"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QUERNFOLD_READONLY_DIR"_s, dir.path());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(unshare,
            { u"--mount"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                u"mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 0; "
                "echo read-only; exec \"$1\" appendExportBlock_readOnlyFolder_reportsAndKeepsFile"_s,
                dir.path(), QCoreApplication::applicationFilePath() });
        QVERIFY(child.waitForFinished(-1));
        const QByteArray output = child.readAll();
        if (!output.startsWith("read-only"))
            QSKIP("cannot make a read-only folder here");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QCOMPARE(fileBytes(dir.filePath(u"out.txt"_s)), QByteArray("keep me\r\n"));
        QVERIFY(!QFile::exists(dir.filePath(u"new.txt"_s)));
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
        model.setCell(0, DomainListModel::HolderColumn, u"北京某某科技有限公司"_s);
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
};

QTEST_GUILESS_MAIN(TestImportExport)
#include "tst_import_export.moc"
