// Import and export as the window runs them through its two file dialogs.
#include "support/scripted_platform.h"

#include "domainlist/import_file.h"
#include "platform/codepage.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quernfold;
using namespace quernfold::test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList domains(const DomainListModel &model)
{
    QStringList result;
    for (int row = 0; row < model.count(); ++row)
        result << model.cell(row, DomainListModel::DomainColumn);
    return result;
}

} // namespace

class TestWindowFiles : public QObject
{
    Q_OBJECT
private slots:
    void import_replacesListAndRemembersFileName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        // GBK bytes for "中文.cn", as a Windows editor writes them.
        write(path, QByteArray("www.example.com\r\n\r\n\xD6\xD0\xCE\xC4.cn\r\nnewww.a.org"));
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("old.com") });
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::RecordNoColumn, QStringLiteral("京ICP备1号"));
        w.dialogs.fileAnswers << path << std::optional<QString>();
        w.dialogs.messageAnswers << MessageAnswer::No;
        w.window->importList();

        QCOMPARE(domains(w.window->model()),
            QStringList({ QStringLiteral("example.com"), QStringLiteral("中文.cn"), QStringLiteral("newww.a.org") }));
        QCOMPARE(w.window->model().cell(0, DomainListModel::RecordNoColumn), QString());
        QCOMPARE(w.window->model().cell(2, DomainListModel::IdColumn), QStringLiteral("3"));
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入3个域名。"));
        QCOMPARE(w.dialogs.fileDialogs.first().title, QStringLiteral(" 打开文件"));
        QCOMPARE(w.dialogs.fileDialogs.first().filter,
            QStringLiteral(
                "域名列表(*.txt *.csv)|*.txt;*.csv|文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|所有文件(*.*)|*.*|"));

        // Cancel: the dialog offers the last name, and nothing changes.
        w.window->importList();
        QCOMPARE(w.dialogs.fileDialogs.at(1).fileName, path);
        QCOMPARE(w.window->model().count(), 3);
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入3个域名。"));
    }

    void import_refusedFileKeepsTheList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("sparseSize");
        QTest::addColumn<int>("shortLines");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("typo") << QStringLiteral("no-such-file.txt") << qint64(-1) << 0
                              << QStringLiteral("无法打开文件:");
        QTest::newRow("directory") << QString() << qint64(-1) << 0 << QStringLiteral("无法打开文件:");
        // Sparse: no disk is spent, and reading it would take gigabytes of memory.
        QTest::newRow("over the size limit")
            << QStringLiteral("huge.txt") << kImportSizeLimit + 1 << 0 << QStringLiteral("文件超过512MB,无法导入:");
        // 20 MB of "a\n": far below the size limit, yet its rows alone would take over half a gigabyte.
        QTest::newRow("over the line bound")
            << QStringLiteral("lines.txt") << qint64(-1) << 10'000'001 << QStringLiteral("文件超过1000万行,无法导入:");
    }
    void import_refusedFileKeepsTheList()
    {
        QFETCH(QString, name);
        QFETCH(qint64, sparseSize);
        QFETCH(int, shortLines);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? dir.path() : dir.filePath(name);
        if (sparseSize >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(sparseSize));
        }
        if (shortLines > 0) {
            QByteArray lines;
            lines.reserve(2 * shortLines);
            for (int i = 0; i < shortLines; ++i)
                lines.append("a\n", 2);
            write(path, lines);
        }
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("keep.com"), QStringLiteral("me.cn") });
        w.dialogs.fileAnswers << path;
        w.dialogs.messageAnswers << MessageAnswer::No;
        QSignalSpy messages(w.window.get(), &MainWindow::messageWritten);
        w.window->importList();
        QCOMPARE(domains(w.window->model()), QStringList({ QStringLiteral("keep.com"), QStringLiteral("me.cn") }));
        QCOMPARE(w.panel(2), refusal + path + QStringLiteral(".."));
        // Nothing was read but the count of lines: at most the progress of that one pass came before.
        QCOMPARE(messages.size() == 1, shortLines == 0);
    }

    void import_readFails_listHoldsWhatWasRead()
    {
        // Opens as a plain file, then the first read fails: the old rows are gone, as after any import.
        const QString path = QStringLiteral("/proc/self/mem");
        if (!QFile::exists(path))
            QSKIP("no /proc/self/mem here");
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("old.com") });
        w.dialogs.fileAnswers << path;
        w.dialogs.messageAnswers << MessageAnswer::No;
        w.window->importList();
        QCOMPARE(w.window->model().count(), 0);
        QCOMPARE(w.panel(2), QStringLiteral("读取文件出错:/proc/self/mem,已导入0个域名.."));
    }

    // The import repaints through the event loop; what a timer or the window manager does meanwhile.
    void import_eventsWhileReading_data()
    {
        QTest::addColumn<bool>("closeYes");
        QTest::newRow("version check tick waits") << false;
        QTest::newRow("close confirmed, nothing written") << true;
    }
    void import_eventsWhileReading()
    {
        QFETCH(bool, closeYes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        write(path, QByteArray("a.com\r\nb.cn\r\n"));
        ScriptedHttp http;
        http.answerAlways(ScriptedHttp::reply(200, QByteArrayLiteral("application/json"),
            QByteArrayLiteral(R"({"result":"1","info":{"version":"2.0","sid":"1","must":"0"}})")));
        Config config;
        config.versionBase = QStringLiteral("https://version.test");
        ScriptedWindow w(&http, config);
        w.window->load();
        w.window->model().setDomains({ QStringLiteral("old.com") });
        w.dialogs.fileAnswers << path;
        w.dialogs.messageAnswers << MessageAnswer::No << MessageAnswer::Yes;
        // Armed before the click: the first time the import lets events run, this runs.
        bool ran = false;
        QTimer::singleShot(0, w.window.get(), [&w, &ran, closeYes] {
            ran = true;
            if (closeYes)
                w.window->close();
            else
                w.window->versionCheckTick();
        });
        w.window->importList();
        QVERIFY(ran);
        if (closeYes) {
            QCOMPARE(w.quitStatuses, QList<int> { 0 });
            QCOMPARE(domains(w.window->model()), QStringList { QStringLiteral("old.com") });
            QCOMPARE(w.panel(2), QStringLiteral("正在导入.. 0%"));
            return;
        }
        QVERIFY(http.requests.isEmpty());
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入2个域名。"));
        auto *add = w.find<QPushButton>(QStringLiteral("Command1_0"));
        add->setEnabled(false);
        w.window->versionCheckTick();
        QCOMPARE(http.requests.size(), 1);
        // The check has ended once it hands the buttons back; the count stays, since the user has not read it.
        QTRY_VERIFY(add->isEnabled());
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入2个域名。"));
    }

    void codePageMissing_saysSoOnceAndRefusesImportAndExport()
    {
        struct Restore {
            ~Restore() { codepage::overrideNameForTests(nullptr); }
        } restore;
        codepage::overrideNameForTests("no-such-code-page");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        write(dir.filePath(QStringLiteral("in.txt")), QByteArray("a.com\r\n"));
        ScriptedWindow w;
        w.window->load();
        QCOMPARE(w.dialogs.boxes.size(), 1);
        QCOMPARE(w.dialogs.boxes.first().text, QStringLiteral("缺少GBK编码支持,导入和导出功能不可用.."));
        QCOMPARE(w.dialogs.boxes.first().title, QStringLiteral("提示"));
        QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::Ok | MessageIcon::Information);

        w.window->model().setDomains({ QStringLiteral("例子.cn") });
        w.dialogs.fileAnswers << dir.filePath(QStringLiteral("in.txt")) << path;
        w.window->importList();
        QCOMPARE(w.panel(2), QStringLiteral("缺少GBK编码支持,无法导入.."));
        QCOMPARE(domains(w.window->model()), QStringList { QStringLiteral("例子.cn") });
        // A list named on the command line does not pass the dialog.
        w.window->importListFile(dir.filePath(QStringLiteral("in.txt")));
        QCOMPARE(w.panel(2), QStringLiteral("缺少GBK编码支持,无法导入.."));
        QCOMPARE(domains(w.window->model()), QStringList { QStringLiteral("例子.cn") });
        w.window->exportList();
        QCOMPARE(w.panel(2), QStringLiteral("缺少GBK编码支持,无法导出.."));
        QVERIFY(w.dialogs.fileDialogs.isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(w.dialogs.boxes.size(), 1);
    }

    void export_appendsBlockAndReports()
    {
        QTemporaryDir dir;
        ScriptedWindow w;
        w.window->exportList();
        QCOMPARE(w.panel(2), QStringLiteral("没有可导出的内容"));
        QVERIFY(w.dialogs.fileDialogs.isEmpty());

        w.window->model().setDomains({ QStringLiteral("a.com"), QStringLiteral("b.cn") });
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::RecordNoColumn, QStringLiteral("京ICP备1号"));
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::HolderColumn, QStringLiteral("某公司"));
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::RecordTypeColumn, QStringLiteral("企业"));
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::SiteNameColumn, QStringLiteral("站"));
        w.window->model().setCell(w.window->model().keyAt(0), DomainListModel::StatusColumn, QStringLiteral("查询完毕"));
        // A bare name gets the selected type's extension; the dialog then offers the name as saved.
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        w.dialogs.fileAnswers << dir.filePath(QStringLiteral("out")) << path;
        w.window->exportList();
        QTRY_COMPARE(w.panel(2), QStringLiteral("保存成功!路径:%1 (已导出2/2行)").arg(path));
        QCOMPARE(w.dialogs.fileDialogs.first().title, QStringLiteral(" 保存数据"));
        QCOMPARE(w.dialogs.fileDialogs.first().filter,
            QStringLiteral("文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|Excel 工作簿(*.xlsx)|*.xlsx|"));
        const QByteArray block = QByteArray("a.com----\xBE\xA9ICP\xB1\xB8"
                                            "1\xBA\xC5----\xC4\xB3\xB9\xAB\xCB\xBE----"
                                            "\xC6\xF3\xD2\xB5----\xD5\xBE\r\n"
                                            "b.cn----------------\r\n\r\n\xB9\xB2:2\xB8\xF6\xD3\xF2\xC3\xFB\r\n");
        QCOMPARE(readAll(path), block);

        // The export dialog keeps its own name, apart from the import dialog's. Under a filter only the rows shown
        // go, and the message says how many of the list's.
        w.window->showKind(ShownRowsModel::Kind::Found);
        w.window->exportList();
        QCOMPARE(w.dialogs.fileDialogs.at(1).fileName, path);
        // The writing thread reads the rows where they are: nothing is pasted in meanwhile.
        w.clipboard.current = QStringLiteral("c.cn");
        w.window->pasteDomains();
        QCOMPARE(w.window->model().count(), 2);
        QTRY_VERIFY(!w.window->isExporting());
        const QByteArray foundBlock
            = block.left(block.indexOf("b.cn")) + QByteArray("\r\n\xB9\xB2:1\xB8\xF6\xD3\xF2\xC3\xFB\r\n");
        QCOMPARE(readAll(path), block + foundBlock);
        const QString saved = QStringLiteral("保存成功!路径:%1 (已导出1/2行)").arg(path);
        QCOMPARE(w.panel(2), saved);

        // Cancel writes nothing and leaves the message.
        w.window->exportList();
        QCOMPARE(readAll(path), block + foundBlock);
        QCOMPARE(w.panel(2), saved);
    }

    void export_typeAndName_chooseTheFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QByteArray>("start");
        const QByteArray csv("\xEF\xBB\xBFID,");
        const QByteArray block("a.com----");
        QTest::newRow("bare name, csv type") << 1 << QStringLiteral("list") << QStringLiteral("list.csv") << csv;
        QTest::newRow("bare name, xlsx type")
            << 2 << QStringLiteral("list") << QStringLiteral("list.xlsx") << QByteArray("PK\x03\x04");
        QTest::newRow("csv name, text type") << 0 << QStringLiteral("list.CSV") << QStringLiteral("list.CSV") << csv;
        QTest::newRow("other extension is a text block")
            << 1 << QStringLiteral("list.dat") << QStringLiteral("list.dat") << block;
    }
    void export_typeAndName_chooseTheFormat()
    {
        QFETCH(int, type);
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(QByteArray, start);
        QTemporaryDir dir;
        ScriptedWindow w;
        w.window->load();
        w.window->model().setDomains({ QStringLiteral("a.com"), QStringLiteral("b.cn") });
        w.dialogs.fileAnswers << dir.filePath(typed);
        w.dialogs.filterAnswers << type;
        w.window->exportList();
        // Written off the window's thread: until it is done the list is locked as during a run, and a late version
        // check does not unlock it.
        auto *importButton = w.find<QPushButton>(QStringLiteral("Command1_2"));
        QVERIFY(w.window->isExporting());
        w.window->enableWorkingButtons();
        QVERIFY(!importButton->isEnabled());
        QVERIFY(!w.find<QPushButton>(QStringLiteral("Command2"))->isEnabled());
        QTRY_COMPARE(w.panel(2), QStringLiteral("保存成功!路径:%1 (已导出2/2行)").arg(dir.filePath(saved)));
        QVERIFY(importButton->isEnabled());
        QVERIFY(readAll(dir.filePath(saved)).startsWith(start));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { saved });
        // The next export offers the same type and name.
        w.window->exportList();
        QCOMPARE(w.dialogs.fileDialogs.at(1).selectedFilter, type);
        QCOMPARE(w.dialogs.fileDialogs.at(1).fileName, dir.filePath(saved));
    }

    void export_unwritableTargetNeverReportsSuccess_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("full device") << QStringLiteral("/dev/full");
        QTest::newRow("directory") << QString();
        QTest::newRow("csv in a missing folder") << QStringLiteral("missing/out.csv");
    }
    void export_unwritableTargetNeverReportsSuccess()
    {
        QFETCH(QString, target);
        QTemporaryDir dir;
        const QString path = target.isEmpty() ? dir.path() : target.startsWith(u'/') ? target : dir.filePath(target);
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("a.com") });
        w.dialogs.fileAnswers << path;
        w.window->exportList();
        QTRY_VERIFY(!w.window->isExporting());
        QVERIFY2(!w.panel(2).startsWith(QStringLiteral("保存成功")), qPrintable(w.panel(2)));
        QVERIFY2(w.panel(2).contains(path), qPrintable(w.panel(2)));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    }

    void import_listWithRows_asksAppendOrReplace_data()
    {
        QTest::addColumn<std::optional<MessageAnswer>>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("message");
        const QString listed = QStringLiteral("listed.cn");
        QTest::newRow("追加 appends, checking the listed rows too")
            << std::optional(MessageAnswer::Yes)
            << QStringList { listed, QStringLiteral("a.com"), QStringLiteral("new.cn") }
            << QStringLiteral("导入完毕，共导入1个域名。跳过2行(重复或不是域名)。");
        QTest::newRow("替换 replaces") << std::optional(MessageAnswer::No)
                                       << QStringList { listed, QStringLiteral("new.cn") }
                                       << QStringLiteral("导入完毕，共导入2个域名。跳过1行(重复或不是域名)。");
        QTest::newRow("cancel changes nothing")
            << std::optional(MessageAnswer::Cancel) << QStringList { listed, QStringLiteral("a.com") }
            << QStringLiteral("已取消..");
        QTest::newRow("empty list, no question")
            << std::optional<MessageAnswer>() << QStringList { listed, QStringLiteral("new.cn") }
            << QStringLiteral("导入完毕，共导入2个域名。跳过1行(重复或不是域名)。");
    }
    void import_listWithRows_asksAppendOrReplace()
    {
        QFETCH(std::optional<MessageAnswer>, answer);
        QFETCH(QStringList, expected);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        write(path, QByteArray("LISTED.cn\r\nhttp://new.cn/\r\nnew.cn\r\n"));
        ScriptedWindow w;
        if (answer) {
            w.window->model().setDomains({ QStringLiteral("listed.cn"), QStringLiteral("a.com") });
            w.window->model().setCell(w.window->model().keyAt(1), DomainListModel::StatusColumn, QStringLiteral("查询完毕"));
            w.dialogs.messageAnswers << *answer;
        }
        w.dialogs.fileAnswers << path;
        w.window->importList();
        QCOMPARE(w.dialogs.boxes.size(), answer ? 1 : 0);
        if (answer) {
            QCOMPARE(w.dialogs.boxes.first().text,
                QStringLiteral("列表中已有2个域名。\n追加: 把导入的域名加在列表后面\n替换: 用导入的域名替换整个列表"));
            QCOMPARE(w.dialogs.boxes.first().title, QStringLiteral("提示"));
            QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::YesNoCancel | MessageIcon::Information);
            QCOMPARE(w.dialogs.boxes.first().captions,
                QStringList({ QStringLiteral("追加"), QStringLiteral("替换"), QStringLiteral("取消") }));
        }
        if (answer == MessageAnswer::Yes) {
            // Rows already there keep their place and their results; the new ones are numbered after them.
            QCOMPARE(w.window->model().cell(1, DomainListModel::StatusColumn), QStringLiteral("查询完毕"));
            QCOMPARE(w.window->model().cell(2, DomainListModel::IdColumn), QStringLiteral("3"));
        }
        QCOMPARE(domains(w.window->model()), expected);
        QCOMPARE(w.panel(2), message);
    }

    // Lines pasted on the list, through its menu or into 单个添加 join the list as an append import's would: cleaned,
    // repeats and non-domains skipped and counted; the rows added are selected and in view.
    void paste_addsLinesAsAnAppendImport_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QString>("message");
        const QString lines = QStringLiteral("https://www.New.cn/path\r\nd1.cn\n\nnot a domain\r中文.中国\nnew.cn\n");
        const QStringList added { QStringLiteral("new.cn"), QStringLiteral("中文.中国") };
        const QString counted = QStringLiteral("导入完毕，共导入2个域名。跳过3行(重复或不是域名)。");
        QTest::newRow("Ctrl+V") << QStringLiteral("key") << lines << added << counted;
        QTest::newRow("menu, nothing new") << QStringLiteral("menu") << QStringLiteral("d1.cn") << QStringList()
                                           << QStringLiteral("导入完毕，共导入0个域名。跳过1行(重复或不是域名)。");
        QTest::newRow("单个添加, lines") << QStringLiteral("add") << lines << added << counted;
        QTest::newRow("单个添加, one") << QStringLiteral("add") << QStringLiteral("one.cn")
                                       << QStringList { QStringLiteral("one.cn") } << QStringLiteral("域名添加成功..");
    }
    void paste_addsLinesAsAnAppendImport()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(QStringList, added);
        QFETCH(QString, message);
        ScriptedWindow w;
        w.window->load();
        QStringList listed;
        for (int i = 0; i < 1000; ++i)
            listed << QStringLiteral("d%1.cn").arg(i);
        w.window->model().setDomains(listed);
        auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
        w.clipboard.current = text;
        w.dialogs.inputAnswers << text;
        if (how == QStringLiteral("key")) {
            QApplication::setActiveWindow(w.window.get());
            QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
            list->setFocus();
            QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
        } else if (how == QStringLiteral("menu")) {
            w.window->findChild<QAction *>(QStringLiteral("pasteDomains"))->trigger();
        } else {
            w.window->addDomain();
        }
        QCOMPARE(w.panel(2), message);
        QCOMPARE(domains(w.window->model()), listed + added);
        std::vector<RowKey> addedKeys;
        for (int i = 0; i < added.size(); ++i)
            addedKeys.push_back(w.window->model().keyAt(1000 + i));
        QCOMPARE(w.window->selectedKeys(), addedKeys);
        QVERIFY(added.isEmpty() || list->visualRect(list->currentIndex()).intersects(list->viewport()->rect()));
    }

    void startupImport_endsAsTheImportButton_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("list file") << QStringLiteral("list.txt");
        QTest::newRow("missing file") << QStringLiteral("no-such-file.txt");
    }
    void startupImport_endsAsTheImportButton()
    {
        // The file named on the command line against the same file chosen in the import dialog.
        QFETCH(QString, name);
        QTemporaryDir dir;
        write(dir.filePath(QStringLiteral("list.txt")), QByteArray("www.a.com\r\n\r\nb.cn\n"));
        const QString path = dir.filePath(name);
        ScriptedWindow button;
        ScriptedWindow startup;
        for (ScriptedWindow *w : { &button, &startup }) {
            w->window->model().setDomains({ QStringLiteral("old.com") });
            w->dialogs.messageAnswers << MessageAnswer::No;
        }
        button.dialogs.fileAnswers << path;
        button.window->importList();
        startup.window->importListFile(path);

        // The list had rows: the file named on the command line asks as well.
        QCOMPARE(startup.dialogs.boxes.size(), 1);
        QCOMPARE(startup.dialogs.boxes.first().text, button.dialogs.boxes.first().text);
        QCOMPARE(startup.panel(2), button.panel(2));
        QCOMPARE(domains(startup.window->model()), domains(button.window->model()));
        QVERIFY(startup.dialogs.fileDialogs.isEmpty());
        // The import dialog then offers that file, as after an import through it.
        startup.window->importList();
        QCOMPARE(startup.dialogs.fileDialogs.first().fileName, path);
    }
};

QTEST_MAIN(TestWindowFiles)
#include "tst_window_files.moc"
