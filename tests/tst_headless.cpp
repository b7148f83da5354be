// The lookup without a window: the real executable as a child process, with no display and no platform named,
// against the local site in this process; its exit status, its output read back, its signals and its history.
#include "app/interrupt_pipe.h"
#include "cli/headless_run.h"
#include "domainlist/import_file.h"
#include "lookup_site.h"
#include "platform/codepage.h"
#include "store/results_store.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sqlite3.h>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

const QString kDone = u"查询完毕"_s;
const QByteArray kCsvHeader = "ID,域名,备案号,备案人,备案类型,网站名称,查询状态,说明,变化\r\n";

// The holder of the domain's latest version in the history file.
QString latestHolder(const QString &storePath, const QString &domain)
{
    sqlite3 *db = nullptr;
    sqlite3_open(storePath.toUtf8().constData(), &db);
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT holder FROM versions WHERE domain = ? ORDER BY first_seen DESC, seq DESC LIMIT 1", -1, &select, nullptr);
    const QByteArray name = domain.toUtf8();
    sqlite3_bind_text(select, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    QString holder;
    if (sqlite3_step(select) == SQLITE_ROW)
        holder = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 0)));
    sqlite3_finalize(select);
    sqlite3_close(db);
    return holder;
}

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The program with a home of its own (settings, results store) and nothing of the caller's environment that could
// change what it does: no display, no platform, no proxy, none of our variables.
class QueryProcess
{
public:
    explicit QueryProcess(const QString &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : env.keys()) {
            if (name.startsWith(u"QUERNFOLD_"_s) || name.endsWith(u"_proxy"_s, Qt::CaseInsensitive))
                env.remove(name);
        }
        for (const QString &name : { u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s })
            env.remove(name);
        env.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
        env.insert(u"XDG_DATA_HOME"_s, home + u"/data"_s);
        // Qt names every plugin folder it looks into: a platform plugin would show up here.
        env.insert(u"QT_DEBUG_PLUGINS"_s, u"1"_s);
        m_process.setProcessEnvironment(env);
        QObject::connect(
            &m_process, &QProcess::readyReadStandardError, [this] { m_err += m_process.readAllStandardError(); });
    }

    void start(const QStringList &arguments, const QByteArray &input = {}, bool closeInput = true)
    {
        m_process.start(programPath(), arguments);
        QVERIFY(m_process.waitForStarted(10000));
        if (!input.isEmpty())
            m_process.write(input);
        if (closeInput)
            m_process.closeWriteChannel();
    }
    // The program's standard output through `head -n LINES`, its own exit status for the pipeline's.
    void startThroughHead(const QStringList &arguments, int lines)
    {
        m_process.start(u"/bin/bash"_s,
            QStringList {
                u"-c"_s, u"\"$@\" | head -n %1; exit ${PIPESTATUS[0]}"_s.arg(lines), u"pipeline"_s, programPath() }
                + arguments);
        QVERIFY(m_process.waitForStarted(10000));
        m_process.closeWriteChannel();
    }
    qint64 pid() const { return m_process.processId(); }
    // Standard error so far.
    QByteArray err() const { return m_err; }

    // Waits with the event loop running, so the site in this process answers meanwhile.
    Finished wait(int timeoutMs = 60000)
    {
        Finished result;
        if (m_process.state() != QProcess::NotRunning) {
            QSignalSpy finished(&m_process, &QProcess::finished);
            if (!finished.wait(timeoutMs)) {
                m_process.kill();
                m_process.waitForFinished();
                return result;
            }
        }
        if (m_process.exitStatus() == QProcess::NormalExit)
            result.exitCode = m_process.exitCode();
        result.out = m_process.readAllStandardOutput();
        result.err = m_err + m_process.readAllStandardError();
        return result;
    }

private:
    static QString programPath() { return qEnvironmentVariable("QUERNFOLD_BIN_DIR") + u"/app/quernfold"_s; }

    QProcess m_process;
    QByteArray m_err;
};

// 变化 stays empty: these runs start without a history to compare with.
QString csvRecord(
    int id, const QString &domain, const FilingRecord &record, const QString &status, const QString &note = {})
{
    return QStringList { QString::number(id), domain, record.recordNo, record.holder, record.recordType,
        record.siteName, status, note, QString() }
               .join(u',')
        + u"\r\n"_s;
}

FilingRecord noRecord(const QString &recordNo)
{
    return { recordNo, u"未知"_s, u"未知"_s, u"未知"_s };
}

// Our CSV as the import reads it back: a row a line, domain, record number, status and note joined by "|".
QStringList readBackCsv(QByteArray csv)
{
    QBuffer buffer(&csv);
    buffer.open(QIODevice::ReadOnly);
    const ImportResult result = readDomainDevice(buffer, u"output"_s, {}, 64 * 1024, ImportKind::Csv);
    QStringList rows;
    for (const DomainRow &row : result.rows) {
        const LookupCells cells = row.lookup ? *row.lookup : LookupCells {};
        rows << QStringList { row.domain, cells.record.recordNo, cells.status, cells.note }.join(u'|');
    }
    return rows;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

    std::unique_ptr<site::LookupSite> m_site;
    std::unique_ptr<QTemporaryDir> m_home;

    QString listFile(const QString &text)
    {
        const QString path = m_home->filePath(u"list.txt"_s);
        writeFile(path, text.toUtf8());
        return path;
    }

private slots:
    void init()
    {
        m_site = std::make_unique<site::LookupSite>();
        QVERIFY(m_site->listen());
        m_home = std::make_unique<QTemporaryDir>();
    }
    void cleanup()
    {
        m_site.reset();
        m_home.reset();
    }

    // What a scheduler sees: the exit status, and standard error in English with the system's reason. With --quiet
    // standard error holds only the line, or nothing; a refused command line starts with the line, then the help.
    void query_endsWithItsExitStatusAndLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after --query LIST --lookup-base SITE --retries 0 --quiet
        QTest::addColumn<QString>("list"); // the list's text, or a path when it starts with "/"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // "%home": the program's home folder
        QTest::addColumn<bool>("asked"); // whether the site saw a request
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString nobody = u"http://127.0.0.1:%1"_s.arg(probe.serverPort());
        probe.close();
        QStringList eleven;
        for (int i = 0; i < 11; ++i)
            eleven << u"d%1.cn"_s.arg(i);

        QTest::newRow("every row finished") << QStringList() << u"a.com\nb.cn\n"_s << 0 << QString() << true;
        QTest::newRow("a row unfinished") << QStringList() << u"a.com\ne404.com\n"_s << 1 << QString() << true;
        QTest::newRow("site unreachable")
            << QStringList { u"--lookup-base"_s, nobody } << eleven.join(u'\n') << 3
            << u"quernfold: the lookup site %1 seems unreachable, stopped after 10 rows in a row failed: "
               "Connection refused"_s.arg(nobody)
            << false;
        // Two rows, far from ten: only giving up at the first row makes it 3.
        QTest::newRow("proxy unreachable")
            << QStringList { u"--proxy"_s, nobody } << u"a.com\nb.cn\n"_s << 3
            << u"quernfold: the proxy %1 cannot be reached, stopped: Connection refused"_s.arg(nobody) << false;
        QTest::newRow("list missing") << QStringList() << u"/nonexistent-folder/list.txt"_s << 2
                                      << u"quernfold: cannot open /nonexistent-folder/list.txt: No such file or "
                                         "directory"_s
                                      << false;
        QTest::newRow("list is a folder")
            << QStringList() << u"/"_s << 2 << u"quernfold: cannot open /: Is a directory"_s << false;
        QTest::newRow("list unreadable") << QStringList() << u"/proc/self/mem"_s << 2
                                         << u"quernfold: cannot read /proc/self/mem: Input/output error"_s << false;
        QTest::newRow("csv output folder missing")
            << QStringList { u"--output"_s, u"/nonexistent-folder/out.csv"_s } << u"a.com"_s << 4
            << u"quernfold: cannot open /nonexistent-folder/out.csv: No such file or directory"_s << false;
        QTest::newRow("text output folder missing")
            << QStringList { u"--output"_s, u"/nonexistent-folder/out.txt"_s } << u"a.com"_s << 4
            << u"quernfold: cannot open /nonexistent-folder/out.txt: No such file or directory"_s << false;
        QTest::newRow("workbook output is a folder")
            << QStringList { u"--output"_s, u"%home/data"_s } << u"a.com"_s << 4
            << u"quernfold: cannot open %home/data: Is a directory"_s << false;
        QTest::newRow("output device full") << QStringList { u"--output"_s, u"/dev/full"_s } << u"a.com"_s << 4
                                            << u"quernfold: cannot write /dev/full: No space left on device"_s << true;
        QTest::newRow("value out of range") << QStringList { u"--parallel"_s, u"17"_s } << u"a.com"_s << 2
                                            << u"--parallel: \"17\" is not a whole number from 1 to 16."_s << false;
        QTest::newRow("placeholder site")
            << QStringList { u"--lookup-base"_s, u"http://lookup.example"_s } << u"a.com"_s << 2
            << u"quernfold: no lookup site is set (http://lookup.example is a placeholder): give --lookup-base URL, "
               "set QUERNFOLD_LOOKUP_BASE, or set lookup/base in %home/config/quernfold/quernfold.ini"_s
            << false;
        QTest::newRow("window's FILE as well")
            << QStringList { u"b.txt"_s } << u"a.com"_s << 2
            << u"--query takes its list as its value; FILE is for the window."_s << false;
    }
    void query_endsWithItsExitStatusAndLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, list);
        QFETCH(int, status);
        QFETCH(QString, line);
        QFETCH(bool, asked);
        line.replace(u"%home"_s, m_home->path());
        arguments.replaceInStrings(u"%home"_s, m_home->path());
        QVERIFY(QDir().mkpath(m_home->filePath(u"data"_s)));
        QueryProcess program(m_home->path());
        program.start(QStringList { u"--query"_s, list.startsWith(u'/') ? list : listFile(list), u"--lookup-base"_s,
                          m_site->baseUrl(), u"--retries"_s, u"0"_s, u"--quiet"_s }
            + arguments);
        const Finished run = program.wait();
        const QString err = QString::fromUtf8(run.err);
        QCOMPARE(run.exitCode, status);
        if (line.startsWith(u"--"_s))
            QCOMPARE(err.section(u'\n', 0, 0), line);
        else
            QCOMPARE(err, line.isEmpty() ? QString() : line + u'\n');
        QCOMPARE(!m_site->requests().isEmpty(), asked);
    }

    // `quernfold --query list | head -2`: once the reader is gone the run ends at once, says nothing, and exits as
    // SIGPIPE would have it, with no row asked for after that.
    void query_standardOutputClosed_endsQuietlyWith141()
    {
        m_site->setSlowDelayMs(1500);
        QueryProcess program(m_home->path());
        const QStringList arguments = { u"--query"_s, listFile(u"a.com\nslow.com\nb.cn\nc.org\nd.net\n"_s),
            u"--lookup-base"_s, m_site->baseUrl() };
        program.startThroughHead(arguments, 2);
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 141);
        QCOMPARE(run.out, kCsvHeader + csvRecord(1, u"a.com"_s, site::expectedRecord(u"a.com"_s), kDone).toUtf8());
        QCOMPARE(run.err, "quernfold: looking up 5 domains at " + m_site->baseUrl().toUtf8() + ", 1 at once\n");
        for (const site::RecordedRequest &request : m_site->requests())
            QVERIFY2(
                !request.target.contains("c.org") && !request.target.contains("d.net"), request.target.constData());
    }

    // Which status wins when several apply.
    void exitStatus_firstThatApplies_data()
    {
        QTest::addColumn<bool>("outputFailed");
        QTest::addColumn<bool>("readerGone");
        QTest::addColumn<QList<int>>("signalsReceived");
        QTest::addColumn<bool>("gaveUp");
        QTest::addColumn<int>("unfinished");
        QTest::addColumn<int>("status");
        QTest::newRow("unfinished") << false << false << QList<int>() << false << 2 << 1;
        QTest::newRow("gave up") << false << false << QList<int>() << true << 2 << 3;
        QTest::newRow("SIGINT, all finished") << false << false << QList<int> { SIGINT } << false << 0 << 130;
        QTest::newRow("SIGTERM after giving up") << false << false << QList<int> { SIGTERM } << true << 3 << 143;
        QTest::newRow("SIGTERM, then SIGINT") << false << false << QList<int> { SIGTERM, SIGINT } << false << 1 << 130;
        QTest::newRow("reader gone after SIGINT") << false << true << QList<int> { SIGINT } << false << 1 << 141;
        QTest::newRow("file failed after SIGTERM") << true << false << QList<int> { SIGTERM } << true << 1 << 4;
    }
    void exitStatus_firstThatApplies()
    {
        QFETCH(bool, outputFailed);
        QFETCH(bool, readerGone);
        QFETCH(QList<int>, signalsReceived);
        QFETCH(bool, gaveUp);
        QFETCH(int, unfinished);
        QFETCH(int, status);
        QueryOutcome outcome;
        outcome.outputFailed = outputFailed;
        outcome.readerGone = readerGone;
        for (const int signalNumber : signalsReceived)
            outcome.interrupted(signalNumber);
        outcome.gaveUp = gaveUp;
        outcome.unfinished = unfinished;
        QCOMPARE(queryExitStatus(outcome), status);
    }

    // A signal while no event loop runs (the last save) neither ends the process nor goes unseen.
    void interruptPipe_signalWithoutEventLoop_waitsToBeTaken()
    {
        QList<int> taken;
        {
            InterruptPipe pipe({ SIGINT, SIGTERM });
            QVERIFY(pipe.isValid());
            QCOMPARE(::raise(SIGTERM), 0);
            QCOMPARE(::raise(SIGINT), 0);
            for (const int signalNumber : pipe.takePending())
                taken << signalNumber;
            QVERIFY(pipe.takePending().empty());
        }
        QCOMPARE(taken, (QList<int> { SIGTERM, SIGINT }));
    }

    // The window's settings file is the run's too: without options, its site and its settings hold.
    void query_withoutOptions_takesTheSettingsFile()
    {
        QVERIFY(QDir().mkpath(m_home->filePath(u"config/quernfold"_s)));
        writeFile(m_home->filePath(u"config/quernfold/quernfold.ini"_s),
            "[lookup]\nbase=" + m_site->baseUrl().toUtf8() + "\nretries=0\n");
        QueryProcess program(m_home->path());
        program.start({ u"--query"_s, listFile(u"a.com\ne500.com\n"_s), u"--quiet"_s });
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(m_site->requests().size(), 2);
    }

    void query_output_readsBackExactly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("target"); // a file name in the home, or empty for standard output
        QTest::addColumn<bool>("fromStandardInput");
        QTest::newRow("csv, list from a file") << QStringList() << QString() << false;
        QTest::newRow("csv, list from standard input") << QStringList() << QString() << true;
        QTest::newRow("json lines") << QStringList { u"--format"_s, u"jsonl"_s } << QString() << true;
        QTest::newRow("csv file") << QStringList() << u"out.csv"_s << false;
        QTest::newRow("json lines file") << QStringList() << u"out.jsonl"_s << false;
        QTest::newRow("text block appended") << QStringList() << u"out.txt"_s << false;
    }
    void query_output_readsBackExactly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, target);
        QFETCH(bool, fromStandardInput);
        // Cleaned, a repeat dropped; answers that come back out of order (the slow row) still go out in list order.
        const QString list = u"slow.com\nwww.b.cn\nnomatch.org\ne500.com\nslow.com\ndeleted.cn\n"_s;
        const QString path = target.isEmpty() ? QString() : m_home->filePath(target);
        if (target.endsWith(u".txt"_s))
            writeFile(path, "kept\r\n");
        QueryProcess program(m_home->path());
        QStringList all { u"--query"_s, fromStandardInput ? u"-"_s : listFile(list), u"--lookup-base"_s,
            m_site->baseUrl(), u"--retries"_s, u"0"_s, u"--parallel"_s, u"3"_s, u"--quiet"_s };
        if (!path.isEmpty())
            all << u"--output"_s << path;
        program.start(all + arguments, fromStandardInput ? list.toUtf8() : QByteArray());
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QByteArray());

        struct Expected {
            QString domain;
            FilingRecord record;
            QString status;
            QString note;
        };
        const QList<Expected> rows = { { u"slow.com"_s, site::expectedRecord(u"slow.com"_s), kDone, {} },
            { u"b.cn"_s, site::expectedRecord(u"b.cn"_s), kDone, {} },
            { u"nomatch.org"_s, noRecord(u"无记录"_s), kDone, {} },
            { u"e500.com"_s, {}, u"查询失败"_s, u"HTTP 状态 500"_s },
            { u"deleted.cn"_s, noRecord(u"备案已被删除"_s), kDone, {} } };
        QString csv;
        QString block;
        QList<QJsonObject> objects;
        for (int i = 0; i < rows.size(); ++i) {
            const Expected &r = rows.at(i);
            csv += csvRecord(i + 1, r.domain, r.record, r.status, r.note);
            block
                += QStringList { r.domain, r.record.recordNo, r.record.holder, r.record.recordType, r.record.siteName }
                       .join(u"----"_s)
                + u"\r\n"_s;
            objects << QJsonObject { { u"id"_s, i + 1 }, { u"domain"_s, r.domain },
                { u"record_no"_s, r.record.recordNo }, { u"holder"_s, r.record.holder },
                { u"record_type"_s, r.record.recordType }, { u"site_name"_s, r.record.siteName },
                { u"status"_s, r.status }, { u"note"_s, r.note }, { u"change"_s, QJsonValue::Null },
                { u"previous"_s, QJsonValue::Null } };
        }
        const QByteArray written = path.isEmpty() ? run.out : fileBytes(path);
        if (!path.isEmpty())
            QCOMPARE(run.out, QByteArray());
        if (path.endsWith(u".txt"_s)) {
            QCOMPARE(written, "kept\r\n" + codepage::toNarrow(block + u"\r\n共:5个域名\r\n"_s));
        } else if (arguments.contains(u"jsonl"_s) || path.endsWith(u".jsonl"_s)) {
            QVERIFY(written.endsWith('\n'));
            const QList<QByteArray> lines = written.chopped(1).split('\n');
            QCOMPARE(lines.size(), objects.size());
            for (int i = 0; i < lines.size(); ++i)
                QCOMPARE(QJsonDocument::fromJson(lines.at(i)).object(), objects.at(i));
        } else {
            // A file is for Excel and gets the byte order mark; a stream is for scripts and does not.
            const QByteArray mark = path.isEmpty() ? QByteArray() : QByteArray("\xEF\xBB\xBF");
            QCOMPARE(written, mark + kCsvHeader + csv.toUtf8());
        }
        // Nothing left beside the output: no temporary file.
        QStringList files = fromStandardInput ? QStringList() : QStringList { u"list.txt"_s };
        if (!target.isEmpty())
            files << target;
        files.sort();
        QCOMPARE(QDir(m_home->path()).entryList(QDir::Files | QDir::Hidden), files);
    }

    // The list is mapped and checked as the import does it; the site is asked about each name in the list's form.
    void query_mapsNamesAndSaysWhatItSkipped_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("domains");
        QTest::addColumn<QString>("said"); // on standard error; empty: nothing about skipped lines
        QTest::newRow("mapped, repeats and no domains skipped")
            << u"例子。中国\nＡＢＣ.com\nxn--fiqs8s.cn\n中国.cn\n192.168.0.1\n[2001:db8::1]:443\nlocalhost\n"
               "12345\na.b\nwww.abc.com\nBÜCHER.de\n"_s
            << QStringList { u"例子.中国"_s, u"abc.com"_s, u"中国.cn"_s, u"bücher.de"_s }
            << u"quernfold: skipped 7 lines (repeats or not domains)\n"_s;
        QTest::newRow("one skipped") << u"a.com\nmycomputer\n"_s << QStringList { u"a.com"_s }
                                     << u"quernfold: skipped 1 line (a repeat or not a domain)\n"_s;
        QTest::newRow("none skipped") << u"a.com\n"_s << QStringList { u"a.com"_s } << QString();
    }
    void query_mapsNamesAndSaysWhatItSkipped()
    {
        QFETCH(QString, list);
        QFETCH(QStringList, domains);
        QFETCH(QString, said);
        QueryProcess program(m_home->path());
        program.start(
            { u"--query"_s, listFile(list), u"--lookup-base"_s, m_site->baseUrl(), u"--format"_s, u"jsonl"_s });
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 0);
        const QString err = QString::fromUtf8(run.err);
        QCOMPARE(err.count(u"skipped"_s), said.isEmpty() ? 0 : 1);
        QVERIFY2(said.isEmpty() || err.contains(said), qPrintable(err));
        QStringList written;
        for (const QByteArray &line : run.out.trimmed().split('\n'))
            written << QJsonDocument::fromJson(line).object().value(u"domain"_s).toString();
        QCOMPARE(written, domains);
        QStringList asked;
        for (const site::RecordedRequest &request : m_site->requests())
            asked << QString::fromLatin1(request.target);
        asked.sort();
        QStringList expected;
        for (const QString &domain : std::as_const(domains))
            expected << u"/s-0/"_s + QString::fromLatin1(domain.toUtf8().toPercentEncoding()) + u".html"_s;
        expected.sort();
        QCOMPARE(asked, expected);
    }

    // Refused as it arrives: the program does not wait for the end of a stream that is already too long.
    void query_standardInputOverTheLineBound_refusedBeforeItEnds()
    {
        QueryProcess program(m_home->path());
        program.start({ u"--query"_s, u"-"_s, u"--lookup-base"_s, m_site->baseUrl() },
            QByteArray("a\n").repeated(kImportLineLimit + 1), false);
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("the list standard input has over 10 million lines"), run.err.constData());
        QVERIFY(m_site->requests().isEmpty());
    }

    void interrupt_writesEveryRow_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("inFlight");
        QTest::addColumn<QString>("inFlightStatus");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT once: the row in flight finishes") << SIGINT << 1 << u"slow.com"_s << kDone << 130;
        QTest::newRow("SIGTERM once") << SIGTERM << 1 << u"slow.com"_s << kDone << 143;
        QTest::newRow("SIGINT twice: the row in flight is dropped")
            << SIGINT << 2 << u"hang.com"_s << u"查询中"_s << 130;
        QTest::newRow("SIGTERM, then SIGINT") << SIGTERM << 2 << u"hang.com"_s << u"查询中"_s << 130;
    }
    void interrupt_writesEveryRow()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, times);
        QFETCH(QString, inFlight);
        QFETCH(QString, inFlightStatus);
        QFETCH(int, status);
        m_site->setSlowDelayMs(1500);
        QueryProcess program(m_home->path());
        program.start({ u"--query"_s, listFile(u"a.com\n"_s + inFlight + u"\nb.com\nc.com\n"_s), u"--lookup-base"_s,
            m_site->baseUrl() });
        const auto askedFor = [this](const QString &domain) {
            const QList<site::RecordedRequest> requests = m_site->requests();
            return !requests.isEmpty() && requests.last().target.contains(domain.toUtf8());
        };
        QTRY_VERIFY_WITH_TIMEOUT(askedFor(inFlight), 20000);
        // One at a time: a second signal sent before the first is taken would merge with it.
        QCOMPARE(::kill(pid_t(program.pid()), signalNumber), 0);
        if (times == 2) {
            QTRY_VERIFY(program.err().contains("stopping"));
            QCOMPARE(::kill(pid_t(program.pid()), SIGINT), 0);
        }
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, status);
        QVERIFY(run.out.startsWith(kCsvHeader) && run.out.endsWith("\r\n"));
        const QString inFlightRecord = inFlightStatus == kDone ? site::expectedRecord(inFlight).recordNo : QString();
        QCOMPARE(readBackCsv(run.out),
            QStringList({ u"a.com|"_s + site::expectedRecord(u"a.com"_s).recordNo + u'|' + kDone + u'|',
                inFlight + u'|' + inFlightRecord + u'|' + inFlightStatus + u'|', u"b.com|||未查询(已停止)"_s,
                u"c.com|||未查询(已停止)"_s }));
        QCOMPARE(m_site->requests().size(), 2);
    }

    // Asked by registrable domain: one request a name, each row noted with the name asked, and the history keeps
    // each row's own domain, so a later run reuses them without asking the site.
    void query_byRegistrableDomain_asksOnceAndRecordsEachRow()
    {
        const QString list = listFile(u"a.x.cn\nb.x.cn\nx.cn\nc.y.com.cn\n"_s);
        QueryProcess first(m_home->path());
        first.start({ u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--by-registrable-domain"_s,
            u"--parallel"_s, u"2"_s, u"--format"_s, u"jsonl"_s, u"--quiet"_s });
        const Finished firstRun = first.wait();
        QCOMPARE(firstRun.exitCode, 0);
        QStringList asked;
        for (const site::RecordedRequest &request : m_site->requests())
            asked << QString::fromUtf8(request.target);
        asked.sort();
        QCOMPARE(asked, QStringList({ u"/s-0/x.cn.html"_s, u"/s-0/y.com.cn.html"_s }));

        QueryProcess second(m_home->path());
        second.start({ u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--reuse-days"_s, u"1"_s,
            u"--format"_s, u"jsonl"_s, u"--quiet"_s });
        const Finished secondRun = second.wait();
        QCOMPARE(secondRun.exitCode, 0);
        QCOMPARE(m_site->requests().size(), 2);

        const QStringList names = { u"x.cn"_s, u"x.cn"_s, u"x.cn"_s, u"y.com.cn"_s };
        const QStringList notes
            = { u"按主域名x.cn查询"_s, u"按主域名x.cn查询"_s, QString(), u"按主域名y.com.cn查询"_s };
        for (const bool reused : { false, true }) {
            const QList<QByteArray> lines = (reused ? secondRun.out : firstRun.out).trimmed().split('\n');
            QCOMPARE(lines.size(), names.size());
            for (int i = 0; i < lines.size(); ++i) {
                const QJsonObject row = QJsonDocument::fromJson(lines.at(i)).object();
                QCOMPARE(row.value(u"record_no"_s).toString(), site::expectedRecord(names.at(i)).recordNo);
                const QString note = row.value(u"note"_s).toString();
                QVERIFY2(reused ? note.startsWith(u"复用"_s) : note == notes.at(i), qPrintable(note));
            }
        }
    }

    // Three runs over a site whose answers change. The second writes, with --changes-only, the rows whose filing
    // appeared, was cancelled or changed holder, each with the earlier record; the row whose lookup failed is no
    // change, and neither is its return, nor a confirmation, in the third.
    void query_changesOnly_writesTheRowsThatChangedWithTheirEarlierRecord()
    {
        const QString list = listFile(u"appear.cn\ncancel.cn\nholder.cn\nflaky.cn\nsame.cn\n"_s);
        const auto run = [&](const QStringList &more) {
            QueryProcess program(m_home->path());
            program.start(QStringList { u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--retries"_s,
                              u"0"_s, u"--quiet"_s, u"--format"_s, u"jsonl"_s }
                + more);
            return program.wait();
        };
        const auto objects = [](const QByteArray &out) {
            QList<QJsonObject> rows;
            for (const QByteArray &line : out.split('\n')) {
                if (!line.isEmpty())
                    rows << QJsonDocument::fromJson(line).object();
            }
            return rows;
        };
        const auto recordObject = [](const FilingRecord &r) {
            return QJsonObject { { u"record_no"_s, r.recordNo }, { u"holder"_s, r.holder },
                { u"record_type"_s, r.recordType }, { u"site_name"_s, r.siteName }, { u"status"_s, kDone } };
        };

        m_site->setBehaviour(u"appear.cn"_s, site::Behaviour::NoMatch);
        const Finished first = run({});
        QCOMPARE(first.exitCode, 0);
        const QList<QJsonObject> all = objects(first.out);
        QCOMPARE(all.size(), 5);
        for (const QJsonObject &row : all) {
            QVERIFY(row.value(u"change"_s).isNull());
            QVERIFY(row.value(u"previous"_s).isNull());
        }

        m_site->clearScript();
        m_site->setBehaviour(u"cancel.cn"_s, site::Behaviour::Deleted);
        m_site->setBehaviour(u"flaky.cn"_s, site::Behaviour::ServerError);
        const FilingRecord holderBefore = site::expectedRecord(u"holder.cn"_s);
        m_site->setReply(u"holder.cn"_s,
            site::resultPageHtml(u"holder.cn"_s).replace(holderBefore.holder, u"新主人有限公司"_s).toUtf8(), 200,
            "text/html; charset=utf-8");
        const Finished second = run({ u"--changes-only"_s });
        QCOMPARE(second.exitCode, 1);
        const QList<QJsonObject> changed = objects(second.out);
        QCOMPARE(changed.size(), 3);
        QCOMPARE(changed[0].value(u"domain"_s).toString(), u"appear.cn"_s);
        QCOMPARE(changed[0].value(u"change"_s).toString(), u"新备案"_s);
        QCOMPARE(changed[0].value(u"previous"_s).toObject(), recordObject(noRecord(u"无记录"_s)));
        QCOMPARE(changed[1].value(u"domain"_s).toString(), u"cancel.cn"_s);
        QCOMPARE(changed[1].value(u"change"_s).toString(), u"备案已注销"_s);
        QCOMPARE(changed[1].value(u"previous"_s).toObject(), recordObject(site::expectedRecord(u"cancel.cn"_s)));
        QCOMPARE(changed[2].value(u"domain"_s).toString(), u"holder.cn"_s);
        QCOMPARE(changed[2].value(u"id"_s).toInt(), 3);
        QCOMPARE(changed[2].value(u"change"_s).toString(), u"备案人变更"_s);
        QCOMPARE(changed[2].value(u"holder"_s).toString(), u"新主人有限公司"_s);
        QCOMPARE(changed[2].value(u"previous"_s).toObject(), recordObject(holderBefore));

        m_site->setBehaviour(u"flaky.cn"_s, site::Behaviour::Record);
        const Finished third = run({ u"--changes-only"_s });
        QCOMPARE(third.exitCode, 0);
        QCOMPARE(third.out, QByteArray());
    }

    // A file held a moment by another writer (the window committing a long import, another run) while a
    // --changes-only run compares: the run's new versions still reach the history once the file is free, so the
    // next run only confirms them. This run is the one that can say what changed.
    void query_changesOnly_fileHeldForAMoment_stillWritesTheChange()
    {
        const QString list = listFile(u"holder.cn\nslow.cn\n"_s);
        const QString storePath = m_home->filePath(u"data/quernfold/quernfold.db"_s);
        const QStringList arguments { u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--format"_s,
            u"jsonl"_s, u"--changes-only"_s };
        {
            QueryProcess first(m_home->path());
            first.start(arguments);
            QCOMPARE(first.wait().exitCode, 0);
        }
        const FilingRecord before = site::expectedRecord(u"holder.cn"_s);
        m_site->setReply(u"holder.cn"_s,
            site::resultPageHtml(u"holder.cn"_s).replace(before.holder, u"新主人有限公司"_s).toUtf8(), 200,
            "text/html; charset=utf-8");

        sqlite3 *holder = nullptr;
        QCOMPARE(sqlite3_open(storePath.toUtf8().constData(), &holder), SQLITE_OK);
        QCOMPARE(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        // The second row keeps the run going past its first progress line, long after the first row's comparison
        // met the held file.
        m_site->setSlowDelayMs(15000);
        QueryProcess second(m_home->path());
        second.start(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(second.err().contains("1/2 rows"), 60000);
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        const Finished done = second.wait();
        QCOMPARE(done.exitCode, 0);

        QueryProcess third(m_home->path());
        third.start(arguments);
        const Finished after = third.wait();
        QCOMPARE(after.exitCode, 0);
        QCOMPARE(latestHolder(storePath, u"holder.cn"_s), u"新主人有限公司"_s);
        // Said by one run or the other, never by neither.
        const QByteArray said = done.out + after.out;
        QVERIFY2(said.contains("\"change\":\"备案人变更\""), said.constData());
    }

    // A file held past the minute the rows wait for it (a sqlite3 shell left open): the rows go out without their
    // comparison, stderr and the exit status say so, and the run ends while the file is still held rather than
    // whenever its holder lets go.
    void query_changesOnly_fileHeldPastTheMinute_endsWithoutTheComparisons()
    {
        const QString list = listFile(u"holder.cn\n"_s);
        const QString storePath = m_home->filePath(u"data/quernfold/quernfold.db"_s);
        const QStringList arguments { u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--changes-only"_s };
        {
            QueryProcess first(m_home->path());
            first.start(arguments);
            QCOMPARE(first.wait().exitCode, 0);
        }
        struct Holder {
            sqlite3 *db = nullptr;
            ~Holder() { sqlite3_close(db); }
        } holder;
        QCOMPARE(sqlite3_open(storePath.toUtf8().constData(), &holder.db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(holder.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        QueryProcess second(m_home->path());
        second.start(arguments);
        // The minute, the store's last 15 s for its queue at exit, and room for a loaded machine.
        const Finished run = second.wait(120000);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, kCsvHeader);
        QVERIFY2(run.err.contains("rows go out without saying what changed"), run.err.constData());
    }

    // A store this version cannot use (made by a newer one): nothing is compared, and the exit status says so
    // rather than an empty output reading as "nothing changed". The file is left alone.
    void query_changesOnlyWithoutUsableStore_exitsOne()
    {
        const QString storePath = m_home->filePath(u"data/quernfold/quernfold.db"_s);
        QVERIFY(QDir().mkpath(QFileInfo(storePath).path()));
        sqlite3 *newer = nullptr;
        QCOMPARE(sqlite3_open(storePath.toUtf8().constData(), &newer), SQLITE_OK);
        QCOMPARE(sqlite3_exec(newer, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(newer);
        QueryProcess program(m_home->path());
        program.start({ u"--query"_s, listFile(u"a.com\n"_s), u"--lookup-base"_s, m_site->baseUrl(),
            u"--changes-only"_s });
        const Finished run = program.wait();
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, kCsvHeader);
        QVERIFY2(run.err.contains("cannot be used"), run.err.constData());
    }

    // The window's list stays the window's, also while it is open; the results join the history, and a later run
    // reuses them without asking the site.
    void query_keepsHistoryAndLeavesTheWindowsList()
    {
        const QString storePath = m_home->filePath(u"data/quernfold/quernfold.db"_s);
        ResultsStore window(storePath);
        QSignalSpy windowProblems(&window, &ResultsStore::problemOccurred);
        std::vector<DomainRow> kept;
        kept.push_back(DomainRow { u"kept.cn"_s, nullptr, RowKey(1) });
        window.addRows(std::move(kept));
        QSignalSpy saved(&window, &ResultsStore::saved);
        QVERIFY(saved.wait(10000));

        const QString list = listFile(u"a.com\nb.cn\n"_s);
        QueryProcess first(m_home->path());
        first.start({ u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl() });
        const Finished firstRun = first.wait();
        QCOMPARE(firstRun.exitCode, 0);
        QVERIFY2(!firstRun.err.contains("history"), firstRun.err.constData());
        QCOMPARE(m_site->requests().size(), 2);

        QueryProcess second(m_home->path());
        second.start({ u"--query"_s, list, u"--lookup-base"_s, m_site->baseUrl(), u"--reuse-days"_s, u"1"_s,
            u"--format"_s, u"jsonl"_s });
        const Finished secondRun = second.wait();
        QCOMPARE(secondRun.exitCode, 0);
        QCOMPARE(m_site->requests().size(), 2);
        const QList<QByteArray> lines = secondRun.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        for (const QByteArray &line : lines) {
            const QJsonObject row = QJsonDocument::fromJson(line).object();
            QCOMPARE(
                row.value(u"record_no"_s).toString(), site::expectedRecord(row.value(u"domain"_s).toString()).recordNo);
            QVERIFY(row.value(u"note"_s).toString().startsWith(u"复用"_s));
        }

        bool restored = false;
        QStringList domains;
        window.restore([&](std::vector<DomainRow> rows) {
            for (const DomainRow &row : rows)
                domains << row.domain;
            restored = true;
        });
        QTRY_VERIFY(restored);
        QCOMPARE(domains, QStringList { u"kept.cn"_s });
        QVERIFY(windowProblems.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
