// 查询设置: the settings file, the environment on top of it, and the dialog as the window runs it.
#include "support/scripted_platform.h"

#include "lookup/lookup_settings.h"
#include "platform/qt_platform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

namespace {

// What a user types into 查询设置, by the fields' names.
QMap<QString, QString> goodAnswer()
{
    return { { u"QUERNFOLD_LOOKUP_BASE"_s, u"http://127.0.0.1:9/"_s }, { u"QUERNFOLD_PARALLEL"_s, u"4"_s },
        { u"QUERNFOLD_INTERVAL_MS"_s, u"250"_s }, { u"QUERNFOLD_RETRIES"_s, u"3"_s },
        { u"QUERNFOLD_DEADLINE_S"_s, u"20"_s }, { u"QUERNFOLD_PROXY"_s, u"socks5://127.0.0.1:1080"_s },
        { u"QUERNFOLD_REUSE_DAYS"_s, u"7"_s }, { u"QUERNFOLD_HISTORY_DAYS"_s, u"90"_s },
        { u"QUERNFOLD_BY_REGISTRABLE"_s, u"1"_s } };
}

SettingsForm goodForm()
{
    SettingsForm form;
    const QMap<QString, QString> answer = goodAnswer();
    for (const Setting &setting : settingTable())
        form.setText(setting.field, answer.value(setting.variable));
    return form;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void readForm_namesTheFirstBadField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::newRow("good") << QString() << QString() << QString();
        QTest::newRow("base not http") << u"QUERNFOLD_LOOKUP_BASE"_s << u"ftp://x.cn"_s
                                       << u"查询网站地址须为以 http:// 或 https:// 开头的网址.."_s;
        QTest::newRow("base empty") << u"QUERNFOLD_LOOKUP_BASE"_s << QString()
                                    << u"查询网站地址须为以 http:// 或 https:// 开头的网址.."_s;
        QTest::newRow("parallel 0") << u"QUERNFOLD_PARALLEL"_s << u"0"_s << u"同时查询数须为1到16之间的整数.."_s;
        QTest::newRow("parallel 17") << u"QUERNFOLD_PARALLEL"_s << u"17"_s << u"同时查询数须为1到16之间的整数.."_s;
        QTest::newRow("interval words") << u"QUERNFOLD_INTERVAL_MS"_s << u"soon"_s
                                        << u"请求间隔(毫秒)须为0到60000之间的整数.."_s;
        QTest::newRow("retries 6") << u"QUERNFOLD_RETRIES"_s << u"6"_s << u"失败重试次数须为0到5之间的整数.."_s;
        QTest::newRow("deadline 0") << u"QUERNFOLD_DEADLINE_S"_s << u"0"_s
                                    << u"单个请求时限(秒)须为1到3600之间的整数.."_s;
        QTest::newRow("reuse 366") << u"QUERNFOLD_REUSE_DAYS"_s << u"366"_s
                                   << u"复用几天内的结果须为0到365之间的整数.."_s;
        QTest::newRow("history 0") << u"QUERNFOLD_HISTORY_DAYS"_s << u"0"_s << u"历史保留天数须为1到3650之间的整数.."_s;
        QTest::newRow("proxy without port")
            << u"QUERNFOLD_PROXY"_s << u"http://proxy.cn"_s
            << u"代理须留空(使用系统代理设置)、填 none(不使用代理),或填 http://主机:端口 或 socks5://主机:端口.."_s;
        QTest::newRow("proxy ftp")
            << u"QUERNFOLD_PROXY"_s << u"ftp://p:21"_s
            << u"代理须留空(使用系统代理设置)、填 none(不使用代理),或填 http://主机:端口 或 socks5://主机:端口.."_s;
        QTest::newRow("proxy none") << u"QUERNFOLD_PROXY"_s << u"none"_s << QString();
        QTest::newRow("proxy from environment") << u"QUERNFOLD_PROXY"_s << QString() << QString();
        QTest::newRow("by registrable off") << u"QUERNFOLD_BY_REGISTRABLE"_s << u"0"_s << QString();
        QTest::newRow("by registrable neither")
            << u"QUERNFOLD_BY_REGISTRABLE"_s << u"2"_s << u"按主域名查询须为是(1)或否(0).."_s;
    }
    void readForm_namesTheFirstBadField()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        SettingsForm form = goodForm();
        for (const Setting &setting : settingTable()) {
            if (setting.variable == field)
                form.setText(setting.field, text);
        }
        LookupSettings read;
        QCOMPARE(readForm(form, &read), message);
        if (message.isEmpty() && field.isEmpty()) {
            QCOMPARE(read.lookupBase, u"http://127.0.0.1:9"_s); // trailing slash trimmed
            QCOMPARE(read.parallel, 4);
            QCOMPARE(read.intervalMs, 250);
            QCOMPARE(read.retries, 3);
            QCOMPARE(read.deadlineSeconds, 20);
            QCOMPARE(read.proxy, u"socks5://127.0.0.1:1080"_s);
            QCOMPARE(read.reuseDays, 7);
            QCOMPARE(read.historyDays, 90);
            QCOMPARE(read.byRegistrable, true);
        }
    }

    void file_badValuesAreClampedOrIgnoredAndNoted_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("parallel");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("byRegistrable");
        QTest::addColumn<int>("notes");
        QTest::newRow("good") << QByteArray("[lookup]\nparallel=8\nretries=0\nbase=http://a.cn/\nbyRegistrable=true\n")
                              << 8 << 0 << u"http://a.cn"_s << true << 0;
        QTest::newRow("yes as a digit") << QByteArray("[lookup]\nbyRegistrable= 1\n") << 1 << 2
                                        << u"http://default.example"_s << true << 0;
        QTest::newRow("out of range clamped") << QByteArray("[lookup]\nparallel=99\nretries=-3\nbyRegistrable=FALSE\n")
                                              << 16 << 0 << u"http://default.example"_s << false << 2;
        QTest::newRow("not numbers ignored")
            << QByteArray("[lookup]\nparallel=many\nbase=javascript:x\nbyRegistrable=yes\n") << 1 << 2
            << u"http://default.example"_s << false << 3;
        static const char garbage[] = "\x00\xff[[[\n=\x01\n";
        QTest::newRow("binary garbage") << QByteArray(garbage, sizeof garbage - 1) << 1 << 2
                                        << u"http://default.example"_s << false << -1;
    }
    void file_badValuesAreClampedOrIgnoredAndNoted()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, parallel);
        QFETCH(int, retries);
        QFETCH(QString, base);
        QFETCH(bool, byRegistrable);
        QFETCH(int, notes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quernfold.ini"_s);
        writeFile(path, contents);
        LookupSettings defaults;
        defaults.lookupBase = u"http://default.example"_s;
        QStringList noted;
        const LookupSettings read = readSettingsFile(path, defaults, &noted);
        QCOMPARE(read.parallel, parallel);
        QCOMPARE(read.retries, retries);
        QCOMPARE(read.lookupBase, base);
        QCOMPARE(read.byRegistrable, byRegistrable);
        if (notes >= 0)
            QCOMPARE(noted.size(), notes);
    }

    void file_unreadableMeansDefaults()
    {
        // A folder where the file should be cannot be read by anyone, root included.
        QTemporaryDir dir;
        const QString path = dir.path();
        QStringList noted;
        QCOMPARE(readSettingsFile(path, LookupSettings(), &noted).parallel, 1);
        QCOMPARE(noted.size(), 1);
    }

    void environment_winsForOneRunAndSaysWhichFields()
    {
        LookupSettings saved;
        saved.lookupBase = u"http://saved.cn"_s;
        saved.parallel = 2;
        QProcessEnvironment env;
        env.insert(u"QUERNFOLD_LOOKUP_BASE"_s, u"http://env.cn/"_s);
        env.insert(u"QUERNFOLD_PARALLEL"_s, u"40"_s); // clamped, still fixes the field
        env.insert(u"QUERNFOLD_RETRIES"_s, u"x"_s); // ignored, fixes nothing
        env.insert(u"QUERNFOLD_BY_REGISTRABLE"_s, u"True"_s);
        QStringList notes;
        const SettingsState state = applyEnvironment(saved, env, &notes);
        QCOMPARE(state.effective.lookupBase, u"http://env.cn"_s);
        QCOMPARE(state.effective.parallel, 16);
        QCOMPARE(state.effective.retries, 2);
        QCOMPARE(state.effective.byRegistrable, true);
        QCOMPARE(state.saved, saved);
        QCOMPARE(state.fixedBy.keys(),
            QList<SettingField>({ SettingField::LookupBase, SettingField::Parallel, SettingField::ByRegistrable }));
        QCOMPARE(notes.size(), 2);
    }

    void environment_outOfRangeCapsAndStillFixesTheField_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("effective");
        // Clamped to exactly what the file holds: the variable still decides, or the dialog would offer an edit
        // that the next start overrides.
        QTest::newRow("clamped to the saved 16") << u"QUERNFOLD_PARALLEL"_s << u"40"_s << 16;
        // Past what 32 bits hold: capped at the top of the range, never wrapped to something small.
        QTest::newRow("2^31") << u"QUERNFOLD_INTERVAL_MS"_s << u"2147483648"_s << 60000;
        QTest::newRow("2^32") << u"QUERNFOLD_INTERVAL_MS"_s << u"4294967296"_s << 60000;
        QTest::newRow("past 64 bits") << u"QUERNFOLD_INTERVAL_MS"_s << u"99999999999999999999999"_s << 60000;
        QTest::newRow("far below") << u"QUERNFOLD_DEADLINE_S"_s << u"-99999999999999999999999"_s << 1;
    }
    void environment_outOfRangeCapsAndStillFixesTheField()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(int, effective);
        LookupSettings saved;
        saved.parallel = 16;
        QProcessEnvironment env;
        env.insert(variable, value);
        const SettingsState state = applyEnvironment(saved, env, nullptr);
        const Setting *setting = nullptr;
        for (const Setting &s : settingTable()) {
            if (s.variable == variable)
                setting = &s;
        }
        QVERIFY(setting);
        QCOMPARE(state.effective.*setting->number, effective);
        QCOMPARE(state.fixedBy.value(setting->field), variable);
    }

    void dialog_badFieldIsNamedAndNothingSaved_goodOneIsSavedAndUsed()
    {
        QTemporaryDir dir;
        Config config;
        config.settingsPath = dir.filePath(u"quernfold.ini"_s);
        config.settings.saved.lookupBase = u"http://old.cn"_s;
        config.settings.saved.parallel = 3;
        config.settings.effective = config.settings.saved;
        config.settings.effective.parallel = 5; // QUERNFOLD_PARALLEL=5 for this run
        config.settings.fixedBy.insert(SettingField::Parallel, u"QUERNFOLD_PARALLEL"_s);
        ScriptedHttp http;
        ScriptedWindow w(&http, config);
        w.window->load();

        QMap<QString, QString> bad = goodAnswer();
        bad.insert(u"QUERNFOLD_RETRIES"_s, u"9"_s);
        w.dialogs.formAnswers << bad << std::nullopt;
        w.dialogs.messageAnswers << MessageAnswer::Ok;
        w.window->findChild<QAction *>(u"querySettings"_s)->trigger();
        QCOMPARE(w.dialogs.boxes.size(), 1);
        QCOMPARE(w.dialogs.boxes.first().text, u"失败重试次数须为0到5之间的整数.."_s);
        // The dialog came back with what was typed, and the environment's field marked.
        QCOMPARE(w.dialogs.forms.size(), 2);
        QCOMPARE(fieldText(w.dialogs.forms.at(0), u"QUERNFOLD_PARALLEL"_s), u"5"_s);
        QCOMPARE(findField(w.dialogs.forms.at(0), u"QUERNFOLD_PARALLEL"_s)->fixedBy, u"QUERNFOLD_PARALLEL"_s);
        QVERIFY(findField(w.dialogs.forms.at(0), u"QUERNFOLD_BY_REGISTRABLE"_s)->check);
        QCOMPARE(fieldText(w.dialogs.forms.at(0), u"QUERNFOLD_BY_REGISTRABLE"_s), u"0"_s);
        QCOMPARE(fieldText(w.dialogs.forms.at(1), u"QUERNFOLD_RETRIES"_s), u"9"_s);
        QVERIFY(!QFile::exists(config.settingsPath));

        QMap<QString, QString> good = goodAnswer();
        good.remove(u"QUERNFOLD_PARALLEL"_s); // shown from the environment, not editable
        w.dialogs.formAnswers << good;
        w.window->editQuerySettings();
        QCOMPARE(w.window->message(), u"查询设置已保存.."_s);
        QStringList notes;
        const LookupSettings saved = readSettingsFile(config.settingsPath, LookupSettings(), &notes);
        QVERIFY(notes.isEmpty());
        QCOMPARE(saved.lookupBase, u"http://127.0.0.1:9"_s);
        QCOMPARE(saved.parallel, 3); // the file keeps its own value where the environment decides
        QCOMPARE(saved.retries, 3);
        QCOMPARE(saved.proxy, u"socks5://127.0.0.1:1080"_s);
        QCOMPARE(saved.byRegistrable, true);

        // The next lookup goes where the dialog said, through the proxy it named, by the registrable domain.
        http.answerAlways(ScriptedHttp::reply(200, "text/html", QStringLiteral("没有符合").toUtf8()));
        w.window->model().setDomains({ u"www.a.cn"_s, u"a.cn"_s });
        w.find<QPushButton>(u"Command2"_s)->click();
        QTRY_VERIFY(!w.window->isQuerying());
        QCOMPARE(http.requests.size(), 1);
        QCOMPARE(http.requests.first().url, QUrl(u"http://127.0.0.1:9/s-0/a.cn.html"_s));
        QCOMPARE(w.window->model().note(0), u"按主域名a.cn查询"_s);
        QCOMPARE(w.window->model().note(1), QString());
        QCOMPARE(http.requests.first().proxy, QByteArray("socks5://127.0.0.1:1080"));
        QCOMPARE(http.requests.first().deadlineMs, 20000);
    }

    void realDialog_showsRangesAndFixedFieldsAndSavesWhatWasTyped()
    {
        // The window's own dialog, as a user meets it: what the table says each field may hold, the field the
        // environment fixes shown but closed, and the values typed saved on OK.
        QTemporaryDir dir;
        Config config;
        config.settingsPath = dir.filePath(u"quernfold.ini"_s);
        config.settings.effective.lookupBase = u"http://a.cn"_s;
        config.settings.saved = config.settings.effective;
        config.settings.fixedBy.insert(SettingField::Parallel, u"QUERNFOLD_PARALLEL"_s);
        QtDialogs dialogs;
        ScriptedHttp http;
        Platform platform;
        platform.dialogs = &dialogs;
        platform.http = &http;
        MainWindow window(platform, config);
        dialogs.setParentWidget(&window);

        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), u"querySettingsDialog"_s);
            for (const Setting &setting : settingTable()) {
                QWidget *editor = dialog->findChild<QWidget *>(setting.variable);
                QVERIFY2(editor, qPrintable(setting.variable));
                QCOMPARE(editor->isEnabled(), setting.field != SettingField::Parallel);
                auto *spin = qobject_cast<QSpinBox *>(editor);
                QCOMPARE(spin != nullptr, setting.isNumber());
                QCOMPARE(qobject_cast<QCheckBox *>(editor) != nullptr, setting.isFlag());
                if (spin) {
                    QCOMPARE(spin->minimum(), setting.min);
                    QCOMPARE(spin->maximum(), setting.max);
                }
            }
            dialog->findChild<QSpinBox *>(u"QUERNFOLD_RETRIES"_s)->setValue(4);
            dialog->findChild<QLineEdit *>(u"QUERNFOLD_PROXY"_s)->setText(u"none"_s);
            dialog->findChild<QCheckBox *>(u"QUERNFOLD_BY_REGISTRABLE"_s)->setChecked(true);
            checked = true;
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        window.editQuerySettings();
        QVERIFY(checked);
        QCOMPARE(window.message(), u"查询设置已保存.."_s);
        const LookupSettings saved = readSettingsFile(config.settingsPath, LookupSettings(), nullptr);
        QCOMPARE(saved.retries, 4);
        QCOMPARE(saved.proxy, u"none"_s);
        QCOMPARE(saved.lookupBase, u"http://a.cn"_s);
        QCOMPARE(saved.byRegistrable, true);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
