// What a user or a scheduler meets off the usual path: a list file that is not the encoding it seems to be, a record
// page that wraps a cell over two lines, an undo after a removed domain was added again, and an output file written
// under a file size limit.
#include "support/scripted_platform.h"

#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "lookup/record_parser.h"
#include "lookup_site.h"
#include "platform/codepage.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 120000;

QStringList domainsOf(const DomainListModel &model)
{
    QStringList domains;
    for (int row = 0; row < model.count(); ++row)
        domains << model.cell(row, DomainListModel::DomainColumn);
    return domains;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(absent)");
}

} // namespace

class TestHardCases : public QObject
{
    Q_OBJECT
private slots:
    // A list saved by another program: every line comes in as the name written there, or is skipped and counted; none
    // becomes a different name that is then looked up.
    void import_textNotWhatItSeems_keepsEveryNameAsWritten_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("domains");
        // A list kept in UTF-8 that got one line pasted from a GBK file.
        QTest::newRow("utf-8 with one gbk line") << u"例子.cn\n"_s.toUtf8() + codepage::toNarrow(u"测试.cn\n"_s)
                                                 << QStringList { u"例子.cn"_s, u"测试.cn"_s };
        // What a Windows editor writes when told "Unicode": its byte order mark says what it is.
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        const QByteArray utf16Bytes = utf16(u"alpha.com\r\n例子.cn\r\n"_s);
        QTest::newRow("utf-16 with byte order mark") << utf16Bytes << QStringList { u"alpha.com"_s, u"例子.cn"_s };
    }
    void import_textNotWhatItSeems_keepsEveryNameAsWritten()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, domains);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const ImportResult result = readDomainDevice(buffer, u"list.txt"_s);
        QCOMPARE(result.status, ImportResult::Ok);
        QCOMPARE(result.domains(), domains);
    }

    // A site whose markup wraps the holder and the site name over lines: the text block written from such a row
    // reads back as that row, as every other row does.
    void readBack_pageCellOverTwoLines_rowComesBack()
    {
        const QString page = u"<tbody id=\"table_tr\"><tr><td>1</td><td>北京某某\r\n    科技有限公司</td><td>企业</td>"
                             "<td><a>京ICP备12345678号-1</a></td><td>某某\n官网</td></tr></tbody>"_s;
        DomainListModel model;
        model.appendDomain(u"a.com"_s);
        model.setLookupResult(model.keyAt(0), parseRecordPage(page), u"查询完毕"_s);
        QByteArray block = buildExportBlock(model, { 0 });
        QBuffer buffer(&block);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const ImportResult back = readDomainDevice(buffer, u"block"_s);
        QCOMPARE(back.domains(), QStringList { u"a.com"_s });
        QCOMPARE(back.skipped, 0);
    }

    // A domain removed, added again by hand, then the removal taken back: the list holds the domain once, as an
    // import or 单个添加 would have it.
    void undo_afterDomainAddedAgain_listsItOnce()
    {
        ScriptedWindow w;
        w.window->load();
        DomainListModel &model = w.window->model();
        model.setDomains({ u"a.cn"_s, u"b.cn"_s });
        w.window->selectRows({ model.keyAt(0) });
        w.window->deleteSelectedRow();
        w.dialogs.inputAnswers << u"a.cn"_s;
        w.window->addDomain();
        QCOMPARE(domainsOf(model), (QStringList { u"b.cn"_s, u"a.cn"_s }));
        w.window->undoLastChange();
        QCOMPARE(domainsOf(model).count(u"a.cn"_s), 1);
    }

    // `ulimit -f` (or a service's file size limit) below the output: the write fails as on a full disk, the program
    // says why and exits 4, and a text file it appends to keeps what it held. The signal the limit sends by default
    // must not end the program halfway through a block.
    void query_outputPastFileSizeLimit_failsAndKeepsTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("text block appended") << u"out.txt"_s;
        QTest::newRow("csv") << u"out.csv"_s;
    }
    void query_outputPastFileSizeLimit_failsAndKeepsTheFile()
    {
        QFETCH(QString, name);
        site::LookupSite site;
        QVERIFY(site.listen());
        QTemporaryDir home;
        QFile list(home.filePath(u"list.txt"_s));
        QVERIFY(list.open(QIODevice::WriteOnly));
        for (int i = 0; i < 2000; ++i)
            list.write(QByteArrayLiteral("host") + QByteArray::number(i) + QByteArrayLiteral(".example.cn\n"));
        list.close();
        const QString output = home.filePath(name);
        const QByteArray before = name.endsWith(u".txt"_s) ? QByteArrayLiteral("kept\r\n") : QByteArray();
        if (!before.isEmpty()) {
            QFile file(output);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
        // The history goes to a folder that cannot be made, so only the output meets the limit.
        env.insert(u"XDG_DATA_HOME"_s, u"/proc/no-such-folder"_s);
        program.setProcessEnvironment(env);
        // 64 KiB: the list's output is over 200 KiB.
        program.start(u"/bin/bash"_s,
            { u"-c"_s, u"ulimit -f 64; exec \"$@\""_s, u"limited"_s,
                qEnvironmentVariable("QUERNFOLD_BIN_DIR") + u"/app/quernfold"_s, u"--query"_s, list.fileName(),
                u"--lookup-base"_s, site.baseUrl(), u"--quiet"_s, u"--output"_s, output });
        QVERIFY(program.waitForStarted(10000));
        program.closeWriteChannel();
        QSignalSpy finished(&program, &QProcess::finished);
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 4);
        QCOMPARE(readAll(output), before.isEmpty() ? QByteArray("(absent)") : before);
        // The system's reason, as for every other failed write.
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(err.contains(u"quernfold: cannot write %1: File too large\n"_s.arg(output)), qPrintable(err));
    }
};

QTEST_MAIN(TestHardCases)
#include "tst_hard_cases.moc"
