// Import and export as the window runs them through its two file dialogs.
#include "support/scripted_platform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
        write(path, QByteArray("www.example.com\r\n\r\n\xD6\xD0\xCE\xC4.cn\r\nmywww.a.org"));
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("old.com") });
        w.window->model().setCell(0, DomainListModel::RecordNoColumn, QStringLiteral("京ICP备1号"));
        w.dialogs.fileAnswers << path << std::optional<QString>();
        w.window->Command1_Click(2);

        QCOMPARE(domains(w.window->model()),
            QStringList({ QStringLiteral("example.com"), QStringLiteral("中文.cn"), QStringLiteral("mya.org") }));
        QCOMPARE(w.window->model().cell(0, DomainListModel::RecordNoColumn), QString());
        QCOMPARE(w.window->model().cell(2, DomainListModel::IdColumn), QStringLiteral("3"));
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入3个域名。"));
        QCOMPARE(w.dialogs.fileDialogs.first().title, QStringLiteral(" 打开文件"));
        QCOMPARE(w.dialogs.fileDialogs.first().filter, QStringLiteral("文本文件(*.txt)|*.txt|所有文件(*.*)|*.*|"));

        // Cancel: the dialog offers the last name, and nothing changes.
        w.window->Command1_Click(2);
        QCOMPARE(w.dialogs.fileDialogs.at(1).fileName, path);
        QCOMPARE(w.window->model().count(), 3);
        QCOMPARE(w.panel(2), QStringLiteral("导入完毕，共导入3个域名。"));
    }

    void import_unopenableFileKeepsTheList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("typo") << QStringLiteral("no-such-file.txt");
        QTest::newRow("directory") << QString();
    }
    void import_unopenableFileKeepsTheList()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? dir.path() : dir.filePath(name);
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("keep.com"), QStringLiteral("me.cn") });
        w.dialogs.fileAnswers << path;
        w.window->Command1_Click(2);
        QCOMPARE(domains(w.window->model()), QStringList({ QStringLiteral("keep.com"), QStringLiteral("me.cn") }));
        QVERIFY2(
            w.panel(2).contains(QDir::toNativeSeparators(path)) || w.panel(2).contains(path), qPrintable(w.panel(2)));
        QVERIFY(!w.panel(2).startsWith(QStringLiteral("导入完毕")));
    }

    void export_appendsBlockAndReports()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out"));
        ScriptedWindow w;
        w.window->Command1_Click(3);
        QCOMPARE(w.panel(2), QStringLiteral("没有可导出的内容"));
        QVERIFY(w.dialogs.fileDialogs.isEmpty());

        w.window->model().setDomains({ QStringLiteral("a.com"), QStringLiteral("b.cn") });
        w.window->model().setCell(0, DomainListModel::RecordNoColumn, QStringLiteral("京ICP备1号"));
        w.window->model().setCell(0, DomainListModel::HolderColumn, QStringLiteral("某公司"));
        w.window->model().setCell(0, DomainListModel::RecordTypeColumn, QStringLiteral("企业"));
        w.window->model().setCell(0, DomainListModel::SiteNameColumn, QStringLiteral("站"));
        w.window->model().setCell(0, DomainListModel::StatusColumn, QStringLiteral("查询完毕"));
        w.dialogs.fileAnswers << path << path;
        w.window->Command1_Click(3);
        QCOMPARE(w.panel(2), QStringLiteral("保存成功!路径:") + path);
        QCOMPARE(w.dialogs.fileDialogs.first().title, QStringLiteral(" 保存数据"));
        QCOMPARE(w.dialogs.fileDialogs.first().filter, QStringLiteral("文本文件(*.txt)|*.txt|所有文件(*.*)|*.*|"));
        const QByteArray block = QByteArray("a.com----\xBE\xA9ICP\xB1\xB8"
                                            "1\xBA\xC5----\xC4\xB3\xB9\xAB\xCB\xBE----"
                                            "\xC6\xF3\xD2\xB5----\xD5\xBE\r\n"
                                            "b.cn----------------\r\n\r\n\xB9\xB2:2\xB8\xF6\xD3\xF2\xC3\xFB\r\n");
        QCOMPARE(readAll(path), block);

        // The export dialog keeps its own name, apart from the import dialog's.
        w.window->Command1_Click(3);
        QCOMPARE(w.dialogs.fileDialogs.at(1).fileName, path);
        QCOMPARE(readAll(path), block + block);

        // Cancel writes nothing and leaves the message.
        w.window->Command1_Click(3);
        QCOMPARE(readAll(path), block + block);
        QCOMPARE(w.panel(2), QStringLiteral("保存成功!路径:") + path);
    }

    void export_unwritableTargetNeverReportsSuccess_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("full device") << QStringLiteral("/dev/full");
        QTest::newRow("directory") << QString();
    }
    void export_unwritableTargetNeverReportsSuccess()
    {
        QFETCH(QString, target);
        QTemporaryDir dir;
        const QString path = target.isEmpty() ? dir.path() : target;
        ScriptedWindow w;
        w.window->model().setDomains({ QStringLiteral("a.com") });
        w.dialogs.fileAnswers << path;
        w.window->Command1_Click(3);
        QVERIFY2(!w.panel(2).startsWith(QStringLiteral("保存成功")), qPrintable(w.panel(2)));
        QVERIFY2(w.panel(2).contains(path), qPrintable(w.panel(2)));
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
        for (ScriptedWindow *w : { &button, &startup })
            w->window->model().setDomains({ QStringLiteral("old.com") });
        button.dialogs.fileAnswers << path;
        button.window->Command1_Click(2);
        startup.window->importListFile(path);

        QCOMPARE(startup.panel(2), button.panel(2));
        QCOMPARE(domains(startup.window->model()), domains(button.window->model()));
        QVERIFY(startup.dialogs.fileDialogs.isEmpty());
        // The import dialog then offers that file, as after an import through it.
        startup.window->Command1_Click(2);
        QCOMPARE(startup.dialogs.fileDialogs.first().fileName, path);
    }
};

QTEST_MAIN(TestWindowFiles)
#include "tst_window_files.moc"
