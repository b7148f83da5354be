// The program's command line: the real executable for what ends before a window opens, the parser for the rest.
#include "app/command_line.h"

#include <QProcess>
#include <QTest>

using namespace quernfold;

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void option_endsBeforeAnyWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("display");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed"); // expected in stdout, or in stderr for status 2
        const QString help = QStringLiteral("Usage: ");
        // Help and version are answered without any display to connect to.
        QTest::newRow("--help") << QStringList { QStringLiteral("--help") } << false << 0 << help;
        QTest::newRow("-h") << QStringList { QStringLiteral("-h") } << false << 0 << help;
        QTest::newRow("--version") << QStringList { QStringLiteral("--version") } << false << 0
                                   << QStringLiteral("quernfold 2.0\n");
        QTest::newRow("help wins over a file")
            << QStringList { QStringLiteral("list.txt"), QStringLiteral("-h") } << false << 0 << help;
        QTest::newRow("unknown option") << QStringList { QStringLiteral("--bogus") } << true << 2
                                        << QStringLiteral("Unknown option 'bogus'.\n\n") + help;
        // Qt's own options are Qt's: only what is left over is refused.
        QTest::newRow("after Qt's options")
            << QStringList { QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-x") } << true
            << 2 << QStringLiteral("Unknown option 'x'.\n\n") + help;
        QTest::newRow("two files") << QStringList { QStringLiteral("a.txt"), QStringLiteral("b.txt") } << true << 2
                                   << QStringLiteral("Only one FILE can be imported, not 2.\n\n") + help;
        // A refusal needs no display either: the platform plugin is never loaded for it.
        QTest::newRow("unknown option, no display")
            << QStringList { QStringLiteral("--no-such-option") } << false << 2
            << QStringLiteral("Unknown option 'no-such-option'.\n\n") + help;
        QTest::newRow("after Qt's options, no display")
            << QStringList { QStringLiteral("--platform=offscreen"), QStringLiteral("-style"), QStringLiteral("fusion"),
                   QStringLiteral("--reverse"), QStringLiteral("--bogus") }
            << false << 2 << QStringLiteral("Unknown option 'bogus'.\n\n") + help;
    }
    void option_endsBeforeAnyWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, display);
        QFETCH(int, status);
        QFETCH(QString, printed);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            env.remove(QString::fromLatin1(name));
        if (display)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("QUERNFOLD_BIN_DIR") + QStringLiteral("/app/quernfold"), arguments);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        const QString &text = status == 0 ? out : err;
        QVERIFY2(text.contains(printed), qPrintable(text));
        if (status != 0)
            QVERIFY2(out.isEmpty(), qPrintable(out));
        // Whenever help is shown, it is the whole help.
        if (printed.endsWith(QStringLiteral("Usage: ")))
            QVERIFY2(
                text.contains(QStringLiteral("--version")) && text.contains(QStringLiteral("FILE")), qPrintable(text));
    }

    void parse_takesTheListFile_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("listFile");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("a file") << QStringList { QStringLiteral("/tmp/列表.txt") } << QStringLiteral("/tmp/列表.txt");
        QTest::newRow("a name like an option, after --")
            << QStringList { QStringLiteral("--"), QStringLiteral("-list.txt") } << QStringLiteral("-list.txt");
    }
    void parse_takesTheListFile()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, listFile);
        const CommandLine commandLine = parseCommandLine(QStringList { QStringLiteral("quernfold") } + arguments);
        QCOMPARE(commandLine.action, CommandLine::Run);
        QCOMPARE(commandLine.listFile, listFile);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
