// The real program in a child process, ended in the middle of its waits: it must leave with status 0 and
// write nothing after the user said Yes.
#include "lookup_site.h"

#include <memory>

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
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
Run runProgram(site::LookupSite &site, const QMap<QString, QString> &script, const QString &versionBase = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUERNFOLD_LOOKUP_BASE"), site.baseUrl());
    env.insert(QStringLiteral("QUERNFOLD_VERSION_BASE"), versionBase.isEmpty() ? site.baseUrl() : versionBase);
    env.insert(QStringLiteral("QUERNFOLD_DOWNLOAD_BASE"), QStringLiteral("https://download.test.example"));
    for (auto it = script.begin(); it != script.end(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(qEnvironmentVariable("QUERNFOLD_BIN_DIR") + QStringLiteral("/tests/quernfold_scripted"));
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

private:
    std::unique_ptr<site::LookupSite> m_site;
};

QTEST_GUILESS_MAIN(TestExitProcess)
#include "tst_exit_process.moc"
