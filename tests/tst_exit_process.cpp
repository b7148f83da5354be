// The real program in a child process, ended in the middle of its waits: it must leave with status 0 and
// write nothing after the user said Yes.
#include "lookup_site.h"
#include "store/results_store.h"

#include <memory>

#include <csignal>

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace quernfold;

namespace {

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QStringList boxes;
    QStringList rows;
    QString opened;
    QString message;
};

QString takeField(const QStringList &lines, const QString &prefix)
{
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QStringLiteral("<missing>");
}

// Runs the scripted program against the site; waits with the event loop running so the in-process site can
// answer meanwhile.
QProcessEnvironment programEnvironment(
    site::LookupSite &site, const QMap<QString, QString> &script, const QString &versionBase = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUERNFOLD_LOOKUP_BASE"), site.baseUrl());
    env.insert(QStringLiteral("QUERNFOLD_VERSION_BASE"), versionBase.isEmpty() ? site.baseUrl() : versionBase);
    env.insert(QStringLiteral("QUERNFOLD_DOWNLOAD_BASE"), QStringLiteral("https://download.test.example"));
    for (auto it = script.begin(); it != script.end(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

QString programPath()
{
    return qEnvironmentVariable("QUERNFOLD_BIN_DIR") + QStringLiteral("/tests/quernfold_scripted");
}

Run runProgram(site::LookupSite &site, const QMap<QString, QString> &script, const QString &versionBase = {})
{
    QProcess process;
    // Each run its own store, unless the script names one: a list left by one run would be offered to the next.
    QTemporaryDir data;
    QMap<QString, QString> withStore = script;
    if (!withStore.contains(QStringLiteral("XDG_DATA_HOME")))
        withStore.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    process.setProcessEnvironment(programEnvironment(site, withStore, versionBase));
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(programPath());
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    if (!finished.wait(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    run.boxes = takeField(lines, QStringLiteral("boxes: ")).split(u'|', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(QStringLiteral("row: ")))
            run.rows << line.mid(5);
    }
    run.opened = takeField(lines, QStringLiteral("opened: "));
    run.message = takeField(lines, QStringLiteral("message: "));
    return run;
}

QString recordRow(int id, const QString &domain)
{
    const FilingRecord r = site::expectedRecord(domain);
    return QStringList { QString::number(id), domain, r.recordNo, r.holder, r.recordType, r.siteName,
        QStringLiteral("查询完毕") }
        .join(u'|');
}

const QByteArray kCurrentVersion = R"({"result":"1","info":{"version":"2.0","sid":"15","must":"0"}})";

} // namespace

class TestExitProcess : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_site = std::make_unique<site::LookupSite>();
        QVERIFY(m_site->listen());
        m_site->setVersionReply(kCurrentVersion);
    }
    void cleanup() { m_site.reset(); }

    void closeDuringBatchFetch_exitsZeroAndWritesNothingMore()
    {
        const Run run = runProgram(*m_site,
            { { QStringLiteral("QUERNFOLD_SCRIPT_DOMAINS"), QStringLiteral("a.com,hang.com,b.com") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ACTION"), QStringLiteral("batch") },
                { QStringLiteral("QUERNFOLD_SCRIPT_CLOSE_ON_ROW"), QStringLiteral("2") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), QStringLiteral("yes") } });
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.boxes, QStringList(QStringLiteral("是否确定退出软件?")));
        QCOMPARE(run.rows.size(), 3);
        QCOMPARE(run.rows.at(0), recordRow(1, QStringLiteral("a.com")));
        QCOMPARE(run.rows.at(1), QStringLiteral("2|hang.com|||||查询中"));
        QCOMPARE(run.rows.at(2), QStringLiteral("3|b.com|||||"));
        QCOMPARE(run.message, QStringLiteral("共有3个域名，正在查询第2个.."));
    }

    void closeDuringSelectedFetch_exitsZero()
    {
        const Run run = runProgram(*m_site,
            { { QStringLiteral("QUERNFOLD_SCRIPT_DOMAINS"), QStringLiteral("hang.com") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ACTION"), QStringLiteral("selected") },
                { QStringLiteral("QUERNFOLD_SCRIPT_CLOSE_ON_ROW"), QStringLiteral("1") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), QStringLiteral("yes") } });
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.boxes, QStringList(QStringLiteral("是否确定退出软件?")));
        QCOMPARE(run.rows, QStringList(QStringLiteral("1|hang.com|||||查询中")));
    }

    void updateOffer_endsWithoutExitQuestion_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("opened");
        QTest::newRow("yes opens the download page")
            << QByteArray(R"({"result":"1","info":{"version":"2.1","sid":"15","must":"0"}})") << QStringLiteral("yes")
            << QStringLiteral("https://download.test.example/index.php/Works/detail/sid/15");
        QTest::newRow("no to a mandatory update")
            << QByteArray(R"({"result":"1","info":{"version":"2.1","sid":"15","must":"1"}})") << QStringLiteral("no")
            << QString();
    }
    void updateOffer_endsWithoutExitQuestion()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, answer);
        QFETCH(QString, opened);
        m_site->setVersionReply(reply);
        const Run run = runProgram(*m_site, { { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), answer } });
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.boxes, QStringList(QStringLiteral("发现最新版本2.1，是否现在更新?")));
        QCOMPARE(run.opened, opened);
    }

    void offline_showsFailureOnceAndStaysUsable()
    {
        // A port that nobody listens on: the request is refused at once.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        const Run run = runProgram(*m_site,
            { { QStringLiteral("QUERNFOLD_SCRIPT_CLOSE_AFTER_CHECK"), QStringLiteral("1") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), QStringLiteral("ok,yes") } },
            refused);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.boxes,
            QStringList({ QStringLiteral("检测失败,请先使用当前版本"), QStringLiteral("是否确定退出软件?") }));
        QCOMPARE(run.message, QStringLiteral("正在检测版本更新"));
    }

    // A crash, a power cut or the OOM killer, at several moments of a run: the next start finds every row and every
    // result that was on screen a second before, and the file is whole.
    void killedMidRun_nextStartHasWhatWasShownASecondBefore_data()
    {
        QTest::addColumn<int>("killAtRow"); // once this many rows finished; 0: as soon as the list is in place
        QTest::newRow("while the list is being saved") << 0;
        QTest::newRow("early in the run") << 25;
        QTest::newRow("late in the run") << 50;
    }
    void killedMidRun_nextStartHasWhatWasShownASecondBefore()
    {
        QFETCH(int, killAtRow);
        constexpr int kRows = 60;
        m_site->setSlowDelayMs(60);
        QStringList domains;
        for (int i = 0; i < kRows; ++i)
            domains << QStringLiteral("slow.row%1.cn").arg(i);
        QTemporaryDir data;

        QProcess running;
        running.setProcessEnvironment(programEnvironment(*m_site,
            { { QStringLiteral("XDG_DATA_HOME"), data.path() },
                { QStringLiteral("QUERNFOLD_SCRIPT_DOMAINS"), domains.join(u',') },
                { QStringLiteral("QUERNFOLD_SCRIPT_ACTION"), QStringLiteral("batch") },
                { QStringLiteral("QUERNFOLD_SCRIPT_TRACE"), QStringLiteral("1") } }));
        // When each row was seen finished, on this side: never earlier than the program showed it.
        QMap<int, qint64> finishedAt;
        bool listed = false;
        QElapsedTimer clock;
        QObject::connect(&running, &QProcess::readyReadStandardOutput, [&] {
            while (running.canReadLine()) {
                const QString line = QString::fromUtf8(running.readLine()).trimmed();
                if (line == QStringLiteral("listed"))
                    listed = true;
                else if (line.startsWith(QStringLiteral("finished: ")))
                    finishedAt.insert(line.mid(10).toInt(), clock.elapsed());
            }
        });
        running.start(programPath());
        QVERIFY(running.waitForStarted(10000));
        clock.start();
        // Waits for the program's own word, never for a time: a busy machine starts it late.
        if (killAtRow == 0)
            QTRY_VERIFY_WITH_TIMEOUT(listed, 30000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(finishedAt.size() >= killAtRow, 30000);
        running.kill();
        QVERIFY(running.waitForFinished(10000));
        const qint64 killedAt = clock.elapsed();
        QSet<int> mustBeBack;
        for (auto it = finishedAt.cbegin(); it != finishedAt.cend(); ++it) {
            if (it.value() <= killedAt - 1000)
                mustBeBack << it.key();
        }

        const QString db = data.filePath(QStringLiteral("quernfold/quernfold.db"));
        QCOMPARE(ResultsStore::integrityReport(db), QStringLiteral("ok"));
        const Run next = runProgram(*m_site,
            { { QStringLiteral("XDG_DATA_HOME"), data.path() },
                { QStringLiteral("QUERNFOLD_SCRIPT_CLOSE_WHEN_READY"), QStringLiteral("1") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), QStringLiteral("yes,yes") } });
        QCOMPARE(next.exitCode, 0);
        // The list itself was handed over before the first row started; a second after that it must be back.
        if (!finishedAt.isEmpty() && finishedAt.first() <= killedAt - 1000) {
            QCOMPARE(next.rows.size(), kRows);
            QVERIFY2(next.boxes.first().startsWith(QStringLiteral("上次关闭时列表中有%1个域名").arg(kRows)),
                qPrintable(next.boxes.join(u'|')));
        }
        for (const int row : std::as_const(mustBeBack))
            QCOMPARE(next.rows.value(row), recordRow(row + 1, domains.at(row)));
        if (killAtRow > 0)
            QVERIFY2(!mustBeBack.isEmpty(), "the run had not got far enough to test anything");
        QCOMPARE(ResultsStore::integrityReport(db), QStringLiteral("ok"));
    }

    // A logout, `kill` or `docker stop` in the middle of a run: the program ends at once with 0, asks nothing, and
    // the next start finds the list and every result shown before the signal, also those the window had not
    // handed to the store yet.
    void endSignal_savesWhatIsPendingAndExitsZero_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("atRow"); // once this many rows finished; 0: as soon as the list is in place
        QTest::newRow("SIGTERM as the list is put in") << SIGTERM << 0;
        QTest::newRow("SIGTERM during the run") << SIGTERM << 5;
        QTest::newRow("SIGHUP during the run") << SIGHUP << 5;
    }
    void endSignal_savesWhatIsPendingAndExitsZero()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, atRow);
        constexpr int kRows = 40;
        m_site->setSlowDelayMs(40);
        QStringList domains;
        for (int i = 0; i < kRows; ++i)
            domains << QStringLiteral("slow.row%1.cn").arg(i);
        QTemporaryDir data;
        QProcess running;
        running.setProcessEnvironment(programEnvironment(*m_site,
            { { QStringLiteral("XDG_DATA_HOME"), data.path() },
                { QStringLiteral("QUERNFOLD_SCRIPT_DOMAINS"), domains.join(u',') },
                { QStringLiteral("QUERNFOLD_SCRIPT_ACTION"), QStringLiteral("batch") },
                { QStringLiteral("QUERNFOLD_SCRIPT_TRACE"), QStringLiteral("1") } }));
        QStringList lines;
        bool signalled = false;
        QList<int> finishedBefore;
        QObject::connect(&running, &QProcess::readyReadStandardOutput, [&] {
            while (running.canReadLine()) {
                const QString line = QString::fromUtf8(running.readLine()).trimmed();
                lines << line;
                if (signalled)
                    continue;
                if (line.startsWith(QStringLiteral("finished: ")))
                    finishedBefore << line.mid(10).toInt();
                if ((atRow == 0 && line == QStringLiteral("listed")) || (atRow > 0 && finishedBefore.size() >= atRow)) {
                    signalled = true;
                    ::kill(pid_t(running.processId()), signalNumber);
                }
            }
        });
        QSignalSpy finished(&running, &QProcess::finished);
        running.start(programPath());
        QVERIFY(running.waitForStarted(10000));
        QVERIFY(finished.wait(30000));
        lines += QString::fromUtf8(running.readAllStandardOutput()).split(u'\n');
        QVERIFY(signalled);
        QCOMPARE(running.exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.exitCode(), 0);
        // No box was answered: the exit question never came.
        QVERIFY2(lines.contains(QStringLiteral("boxes:")), qPrintable(lines.join(u'|')));

        const Run next = runProgram(*m_site,
            { { QStringLiteral("XDG_DATA_HOME"), data.path() },
                { QStringLiteral("QUERNFOLD_SCRIPT_CLOSE_WHEN_READY"), QStringLiteral("1") },
                { QStringLiteral("QUERNFOLD_SCRIPT_ANSWERS"), QStringLiteral("yes,yes") } });
        QCOMPARE(next.exitCode, 0);
        QCOMPARE(next.rows.size(), kRows);
        for (const int row : std::as_const(finishedBefore))
            QCOMPARE(next.rows.value(row), recordRow(row + 1, domains.at(row)));
    }

private:
    std::unique_ptr<site::LookupSite> m_site;
};

QTEST_GUILESS_MAIN(TestExitProcess)
#include "tst_exit_process.moc"
