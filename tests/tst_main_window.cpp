#include "support/scripted_platform.h"

#include "platform/qt_platform.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace quernfold;
using namespace quernfold::test;

namespace {

QStringList columnTexts(const DomainListModel &model, DomainListModel::Column column)
{
    QStringList texts;
    for (int row = 0; row < model.count(); ++row)
        texts << model.cell(row, column);
    return texts;
}

void addDomains(ScriptedWindow &w, const QStringList &domains)
{
    for (const QString &domain : domains) {
        w.dialogs.inputAnswers << domain;
        w.window->addDomain();
    }
}

void selectRow(ScriptedWindow &w, int row)
{
    w.window->selectRows({ w.window->model().keyAt(row) });
}

QAction *action(ScriptedWindow &w, const char *name)
{
    return w.window->findChild<QAction *>(QString::fromLatin1(name));
}

// Hands the real box or dialog to `look` once it is up and modal, from inside its own event loop; `look` closes it.
void whenModal(std::function<void(QWidget *)> look)
{
    auto *poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, look] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        look(modal);
    });
    poll->start();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void create_controlsHaveTheirNamesGeometryAndStates_data();
    void create_controlsHaveTheirNamesGeometryAndStates();
    void create_statusPanelsListColumnsAndMenus();
    void captions_fitTheirControls_data();
    void captions_fitTheirControls();
    void load_attachesSkinEnablesButtonsAndCentres();
    void enableWorkingButtons_isIdempotentAndTouchesOnlyTheFourButtons();

    void add_reportsEveryOutcome_data();
    void add_reportsEveryOutcome();
    void add_refusesOtherSpellingsOfListedNames_data();
    void add_refusesOtherSpellingsOfListedNames();
    void add_numbersRowsInOrderAndRefusesDuplicates();

    void mouseDown_onlyRightButtonOpensContextMenu();
    void headerClick_sortsShownRowsOnly();
    void headerDrag_widensColumnAndTakesRoomFromThoseAfter_data();
    void headerDrag_widensColumnAndTakesRoomFromThoseAfter();
    void toolTip_showsModelTipElseCutText();

    void delete_removesSelectedRowAndRenumbers();
    void delete_refusesWithoutSelectionOrDomain();
    void clear_asksAndEmptiesOnlyOnYes();

    void about_showsBoxAndChangesNothing();
    void exit_asksFromMenuAndCloseButton_data();
    void exit_asksFromMenuAndCloseButton();
    void exitDuringInputBox_writesNothingAfterwards();

    void websiteButtons_openConfiguredSites();
    void messageBox_captionsNameTheButtons();
    void inputBox_keepsPastedLinesWhole();
    void settings_unwritableFile_saysSoInABox();
    void translations_standardButtonsReadChinese();
    void model_passesItemModelTester();
    void accessibility_controlsExposeTheirTexts();
    void accessibility_everyControlHasAName();
};

void TestMainWindow::create_controlsHaveTheirNamesGeometryAndStates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("add") << "Command1_0" << QRect(8, 496, 81, 41) << u"单个添加"_qs << false;
    QTest::newRow("import") << "Command1_2" << QRect(96, 496, 81, 41) << u"批量导入"_qs << false;
    QTest::newRow("query") << "Command2" << QRect(184, 496, 81, 41) << u"批量查询"_qs << false;
    QTest::newRow("export") << "Command1_3" << QRect(272, 496, 81, 41) << u"导出数据"_qs << false;
    QTest::newRow("studio") << "Command1_4" << QRect(640, 496, 97, 41) << u"工作室官网"_qs << true;
    QTest::newRow("company") << "Command1_1" << QRect(744, 496, 97, 41) << u"Brellow公司官网"_qs << true;
}

void TestMainWindow::create_controlsHaveTheirNamesGeometryAndStates()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    ScriptedWindow w;
    auto *button = w.find<QPushButton>(name);
    QVERIFY(button);
    QCOMPARE(button->geometry(), geometry);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->isEnabled(), enabled);
    QVERIFY(!button->isDefault());
}

void TestMainWindow::create_statusPanelsListColumnsAndMenus()
{
    ScriptedWindow w;
    QCOMPARE(w.window->windowTitle(), u"Quernfold V2.0"_qs);
    QVERIFY(w.window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(w.window->windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(w.window->windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(w.find<QWidget>(QStringLiteral("client"))->size(), QSize(851, 597));
    QCOMPARE(w.find<QWidget>(QStringLiteral("S1"))->geometry(), QRect(0, 556, 851, 41));
    QCOMPARE(w.find<QLabel>(QStringLiteral("S1_panel1"))->geometry(), QRect(0, 2, 96, 37));
    QCOMPARE(w.find<QLabel>(QStringLiteral("S1_panel2"))->geometry(), QRect(98, 2, 655, 37));
    QCOMPARE(w.find<QLabel>(QStringLiteral("S1_panel3"))->geometry(), QRect(755, 2, 96, 37));

    QCOMPARE(w.panel(1), u"提示"_qs);
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\D*\\d{1,2}[:.]\\d{2}\\D*$")).match(w.panel(3)).hasMatch(),
        qPrintable(w.panel(3)));

    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    QCOMPARE(list->geometry(), QRect(8, 8, 833, 473));
    QCOMPARE(list->font().family(), u"微软雅黑"_qs);
    QCOMPARE(list->font().pointSize(), 9);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    // The record columns start at the widths drawn for them, ID and 域名 at least as wide (what they fit is
    // checked in tst_list_view); 说明 and 查询时间 are there but hidden, 变化 shown at the end.
    const QStringList headers { u"ID"_qs, u"域名"_qs, u"备案号"_qs, u"备案人"_qs, u"备案类型"_qs, u"网站名称"_qs,
        u"查询状态"_qs, u"说明"_qs, u"查询时间"_qs, u"变化"_qs };
    const QList<int> widths { 33, 120, 133, 160, 96, 96, 96, 160, 96, 96 };
    QCOMPARE(list->model()->columnCount(), headers.size());
    for (int column = 0; column < headers.size(); ++column) {
        QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), headers.at(column));
        QCOMPARE(list->isColumnShown(column), column < 7 || column == 9);
        if (column == 0 || column == 1 || column == 8)
            QVERIFY(list->columnWidth(column) >= widths.at(column));
        else
            QCOMPARE(list->columnWidth(column), widths.at(column));
    }
    QCOMPARE(list->model()->rowCount(), 0);

    const QList<QAction *> bar = w.window->menuBar()->actions();
    QCOMPARE(bar.size(), 1);
    QCOMPARE(bar.first()->text(), u"程序菜单"_qs);
    QStringList programItems;
    for (QAction *item : bar.first()->menu()->actions())
        programItems << (item->isSeparator() ? u"-"_qs : item->text());
    QCOMPARE(programItems,
        QStringList({ u"软件说明"_qs, u"查询设置.."_qs, u"清除历史结果.."_qs, u"-"_qs, u"退出软件"_qs }));
    auto *listMenu = w.find<QMenu>(QStringLiteral("caozuo"));
    QStringList contextItems;
    for (QAction *item : listMenu->actions())
        contextItems << (item->isSeparator() ? u"-"_qs : item->text());
    QCOMPARE(contextItems.mid(0, 7),
        QStringList({ u"查询域名"_qs, u"-"_qs, u"删除域名"_qs, u"-"_qs, u"清空列表"_qs, u"-"_qs, u"查询未完成项"_qs }));
    const QList<QAction *> items = listMenu->actions();
    const QAction *undo = items.at(items.size() - 3);
    QCOMPARE(undo->objectName(), u"undo"_qs);
    QCOMPARE(undo->text(), u"撤销"_qs);
    QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    QCOMPARE(items.at(items.size() - 2)->objectName(), u"pasteDomains"_qs);
    QCOMPARE(items.last()->objectName(), u"showHistory"_qs);
    QCOMPARE(items.last()->text(), u"查看历史.."_qs);
    QVERIFY(!undo->isEnabled()); // nothing to undo yet

    auto *timer1 = w.window->findChild<QTimer *>(QStringLiteral("Timer1"));
    QCOMPARE(timer1->interval(), 1000);
    ScriptedWindow running(nullptr, {}, true);
    QVERIFY(running.window->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
}

void TestMainWindow::captions_fitTheirControls_data()
{
    QTest::addColumn<int>("skin");
    QTest::newRow("platform look") << 0;
    QTest::newRow("example skin, as the program loads it") << 1;
    QTest::newRow("example skin already there") << 2;
}

void TestMainWindow::captions_fitTheirControls()
{
    // Each text measured with its widget's own font and the style's margins around it, against the widget's
    // width: a caption that does not fit is drawn cut.
    QFETCH(int, skin);
    const auto attachSkin = [] {
        StyleSheetSkin skin;
        return skin.attach(qEnvironmentVariable("QUERNFOLD_BIN_DIR") + u"/app/skinh.she"_qs);
    };
    const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
    if (skin == 2)
        QVERIFY(attachSkin());
    ScriptedWindow w;
    if (skin == 1)
        QVERIFY(attachSkin());
    w.window->load();

    const QList<QPushButton *> buttons = w.window->findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 6);
    for (QPushButton *button : buttons) {
        QCOMPARE(button->font().pointSize(), 9);
        QStringList captions { button->text() };
        if (button->objectName() == u"Command2"_qs)
            captions << u"停止查询"_qs << u"开始查询"_qs;
        for (const QString &caption : captions) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = caption;
            const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, caption);
            const int needed = button->style()->sizeFromContents(QStyle::CT_PushButton, &option, text, button).width();
            QVERIFY2(needed <= button->width(),
                qPrintable(caption + u": %1 px needed, %2 px wide"_qs.arg(needed).arg(button->width())));
        }
    }

    QHeaderView *header = w.find<DomainListView>(QStringLiteral("ListView1"))->header();
    QCOMPARE(header->font().pointSize(), 9);
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        QStyleOptionHeader option;
        option.initFrom(header);
        option.section = column;
        option.orientation = Qt::Horizontal;
        option.text = header->model()->headerData(column, Qt::Horizontal).toString();
        const int needed
            = header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header).width();
        QVERIFY2(needed <= header->sectionSize(column),
            qPrintable(option.text + u": %1 px needed, %2 px wide"_qs.arg(needed).arg(header->sectionSize(column))));
    }

    for (int number = 1; number <= 3; ++number) {
        const auto *panel = w.find<QLabel>(u"S1_panel%1"_qs.arg(number));
        QCOMPARE(panel->font().pointSize(), 9);
        // The label's size hint is its text plus frame, margins and indent.
        QVERIFY2(panel->sizeHint().width() <= panel->width(), qPrintable(panel->text()));
    }
}

void TestMainWindow::load_attachesSkinEnablesButtonsAndCentres()
{
    ScriptedWindow w;
    w.window->load();
    // Beside the program first, then the data folder of an installed program.
    const QString programDir = QCoreApplication::applicationDirPath();
    QCOMPARE(w.skin.attached,
        QStringList(
            { programDir + u"/skinh.she"_qs, QDir::cleanPath(programDir + u"/../share/quernfold/skinh.she"_qs) }));
    ScriptedWindow beside;
    beside.skin.accepts = true;
    beside.window->load();
    QCOMPARE(beside.skin.attached, QStringList(programDir + u"/skinh.she"_qs));
    for (const char *name : { "Command1_0", "Command1_2", "Command1_3", "Command2", "Command1_1", "Command1_4" })
        QVERIFY2(w.find<QPushButton>(QString::fromLatin1(name))->isEnabled(), name);
    QVERIFY(w.window->isVisible());
    QVERIFY(w.window->windowIcon().isNull());
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
    QCOMPARE(w.dialogs.boxes.size(), 0);
    const QRect screen = w.window->screen()->availableGeometry();
    QVERIFY(qAbs(w.window->frameGeometry().center().x() - screen.center().x()) <= 1);
    // The first size is the least: the window grows, never below the client area it was drawn for and the menu bar.
    QCOMPARE(w.window->minimumSizeHint(), w.window->size());
    QVERIFY(w.window->maximumSize().width() > w.window->size().width());
}

void TestMainWindow::enableWorkingButtons_isIdempotentAndTouchesOnlyTheFourButtons()
{
    ScriptedWindow w;
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    list->setEnabled(false);
    w.window->enableWorkingButtons();
    w.window->enableWorkingButtons();
    for (const char *name : { "Command1_0", "Command1_2", "Command1_3", "Command2" })
        QVERIFY2(w.find<QPushButton>(QString::fromLatin1(name))->isEnabled(), name);
    QVERIFY(!list->isEnabled());
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
    QCOMPARE(w.find<QPushButton>(QStringLiteral("Command2"))->text(), u"批量查询"_qs);
}

void TestMainWindow::add_reportsEveryOutcome_data()
{
    QTest::addColumn<std::optional<QString>>("input");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("stored");
    const QString added = u"域名添加成功.."_qs;
    const QString refused = u"域名不正确,您请检查.."_qs;
    QTest::newRow("cancel") << std::optional<QString>() << u"已取消.."_qs << QString();
    QTest::newRow("empty ok") << std::optional<QString>(QString()) << u"请输入域名.."_qs << QString();
    QTest::newRow("com") << std::optional<QString>(u"example.com"_qs) << added << u"example.com"_qs;
    QTest::newRow("gov.cn") << std::optional<QString>(u"example.gov.cn"_qs) << added << u"example.gov.cn"_qs;
    QTest::newRow("hk subdomain") << std::optional<QString>(u"sub.example.hk"_qs) << added << u"sub.example.hk"_qs;
    // The suffix texts alone let these through; they are no domains.
    QTest::newRow("contains com, one label") << std::optional<QString>(u"mycomputer"_qs) << refused << QString();
    QTest::newRow("contains me, one label") << std::optional<QString>(u"home"_qs) << refused << QString();
    QTest::newRow("contains cn, no such suffix") << std::optional<QString>(u"cn.example"_qs) << refused << QString();
    QTest::newRow("address") << std::optional<QString>(u"http://10.0.0.1/cn"_qs) << refused << QString();
    QTest::newRow("IDNA refuses") << std::optional<QString>(u"a_b.com"_qs) << refused << QString();
    QTest::newRow("ideographic stop") << std::optional<QString>(u"例子。cn"_qs) << added << u"例子.cn"_qs;
    QTest::newRow("full-width letters") << std::optional<QString>(u"ＡＢＣ．ＣＯＭ"_qs) << added << u"abc.com"_qs;
    QTest::newRow("A-label") << std::optional<QString>(u"xn--fiqs8s.cn"_qs) << added << u"中国.cn"_qs;
    QTest::newRow("capital umlaut") << std::optional<QString>(u"BÜCHER.com"_qs) << added << u"bücher.com"_qs;
    QTest::newRow("capitals lower-cased") << std::optional<QString>(u"EXAMPLE.COM"_qs) << added << u"example.com"_qs;
    QTest::newRow("io") << std::optional<QString>(u"example.io"_qs) << refused << QString();
    QTest::newRow("co.uk") << std::optional<QString>(u"example.co.uk"_qs) << refused << QString();
    QTest::newRow("blanks trimmed") << std::optional<QString>(u" example.com\t"_qs) << added << u"example.com"_qs;
    QTest::newRow("address cut to its host")
        << std::optional<QString>(u"https://user@Shop.Example.cn:8443/a?b#c"_qs) << added << u"shop.example.cn"_qs;
    QTest::newRow("trailing dot") << std::optional<QString>(u"example.cn."_qs) << added << u"example.cn"_qs;
    QTest::newRow("empty label") << std::optional<QString>(u"foo..bar.com"_qs) << refused << QString();
    QTest::newRow("hyphen at label edge") << std::optional<QString>(u"-bad-.com"_qs) << refused << QString();
    QTest::newRow("space inside") << std::optional<QString>(u"not a domain.com"_qs) << refused << QString();
    QTest::newRow("www kept") << std::optional<QString>(u"www.example.com"_qs) << added << u"www.example.com"_qs;
    QTest::newRow("blank only") << std::optional<QString>(u" "_qs) << refused << QString();
}

void TestMainWindow::add_reportsEveryOutcome()
{
    QFETCH(std::optional<QString>, input);
    QFETCH(QString, message);
    QFETCH(QString, stored);
    ScriptedWindow w;
    w.window->load();
    w.dialogs.inputAnswers << input;
    w.window->addDomain();
    QCOMPARE(w.dialogs.inputs.size(), 1);
    QCOMPARE(w.dialogs.inputs.first().text, u"请输入域名|"_qs);
    QCOMPARE(w.dialogs.inputs.first().title, u"请输入域名"_qs);
    QCOMPARE(w.panel(2), message);
    QCOMPARE(columnTexts(w.window->model(), DomainListModel::DomainColumn),
        stored.isNull() ? QStringList() : QStringList(stored));
    QCOMPARE(w.dialogs.boxes.size(), 0);
}

void TestMainWindow::add_refusesOtherSpellingsOfListedNames_data()
{
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("added");
    QTest::newRow("www. typed, listed without") << u"newsite.cn"_qs << u"www.newsite.cn"_qs << false;
    QTest::newRow("listed with www., typed without") << u"www.newsite.cn"_qs << u"newsite.cn"_qs << false;
    QTest::newRow("A-label typed") << u"中国.cn"_qs << u"XN--FIQS8S.cn"_qs << false;
    QTest::newRow("listed as an A-label long ago") << u"xn--fiqs8s.cn"_qs << u"中国.cn"_qs << false;
    QTest::newRow("listed in capitals long ago") << u"BÜCHER.com"_qs << u"bücher.com"_qs << false;
    QTest::newRow("another name under it") << u"newsite.cn"_qs << u"shop.newsite.cn"_qs << true;
    QTest::newRow("www inside is part of the name") << u"newsite.cn"_qs << u"a.www.newsite.cn"_qs << true;
}

void TestMainWindow::add_refusesOtherSpellingsOfListedNames()
{
    QFETCH(QString, listed);
    QFETCH(QString, typed);
    QFETCH(bool, added);
    ScriptedWindow w;
    w.window->load();
    w.window->model().setDomains({ listed });
    w.dialogs.inputAnswers << typed;
    w.window->addDomain();
    QCOMPARE(w.panel(2), added ? u"域名添加成功.."_qs : u"该域名已在列表中.."_qs);
    QCOMPARE(w.window->model().count(), added ? 2 : 1);
    QCOMPARE(w.window->model().row(0).domain, listed);
}

void TestMainWindow::add_numbersRowsInOrderAndRefusesDuplicates()
{
    ScriptedWindow w;
    QSignalSpy messages(w.window.get(), &MainWindow::messageWritten);
    addDomains(w, { u"a.com"_qs, u"b.cn"_qs, u" A.com"_qs, u"bad.io"_qs, u"c.net"_qs });
    QCOMPARE(messages.at(2).first().toString(), u"该域名已在列表中.."_qs);
    const DomainListModel &model = w.window->model();
    QCOMPARE(columnTexts(model, DomainListModel::IdColumn), QStringList({ u"1"_qs, u"2"_qs, u"3"_qs }));
    QCOMPARE(columnTexts(model, DomainListModel::DomainColumn), QStringList({ u"a.com"_qs, u"b.cn"_qs, u"c.net"_qs }));
    for (int column = DomainListModel::RecordNoColumn; column < DomainListModel::ColumnCount; ++column)
        QCOMPARE(model.cell(2, DomainListModel::Column(column)), QString());
}

void TestMainWindow::mouseDown_onlyRightButtonOpensContextMenu()
{
    ScriptedWindow w;
    w.window->load();
    addDomains(w, { u"a.com"_qs });
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    auto *listMenu = w.find<QMenu>(QStringLiteral("caozuo"));
    const QPoint emptySpace(200, 300);

    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, emptySpace);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, emptySpace);
    QTest::mousePress(list->viewport(), Qt::MiddleButton, {}, emptySpace);
    QTest::mouseRelease(list->viewport(), Qt::MiddleButton, {}, emptySpace);
    QVERIFY(!listMenu->isVisible());

    QTest::mousePress(list->viewport(), Qt::RightButton, {}, emptySpace);
    QTRY_VERIFY(listMenu->isVisible());
    QCOMPARE(listMenu->pos(), list->viewport()->mapToGlobal(emptySpace));
    listMenu->hide();

    // The menu opens on a row as well, and its items act on the selection.
    const QPoint onRow = list->visualRect(w.window->model().index(0, 1)).center();
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, onRow);
    QTRY_VERIFY(listMenu->isVisible());
    listMenu->hide();

    // A disabled list (as during a query) receives no mouse events, so no menu.
    list->setEnabled(false);
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, emptySpace);
    QVERIFY(!listMenu->isVisible());
}

void TestMainWindow::headerClick_sortsShownRowsOnly()
{
    ScriptedWindow w;
    w.window->load();
    addDomains(w, { u"c.com"_qs, u"a.com"_qs, u"b.com"_qs });
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    QHeaderView *header = list->header();
    const int domainWidth = header->sectionSize(1);
    const auto clickHeader = [header](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    const auto shown = [list](int column) {
        QStringList texts;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            texts << list->model()->index(row, column).data().toString();
        return texts;
    };
    clickHeader(1);
    QCOMPARE(shown(1), QStringList({ u"a.com"_qs, u"b.com"_qs, u"c.com"_qs }));
    // IDs stay the rows' places in the list, which keeps its order.
    QCOMPARE(shown(0), QStringList({ u"2"_qs, u"3"_qs, u"1"_qs }));
    QCOMPARE(columnTexts(w.window->model(), DomainListModel::DomainColumn),
        QStringList({ u"c.com"_qs, u"a.com"_qs, u"b.com"_qs }));
    clickHeader(1);
    QCOMPARE(shown(1), QStringList({ u"c.com"_qs, u"b.com"_qs, u"a.com"_qs }));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickHeader(0);
    QCOMPARE(shown(1), QStringList({ u"c.com"_qs, u"a.com"_qs, u"b.com"_qs }));
    QVERIFY(!header->isSortIndicatorShown());
    QCOMPARE(header->sectionSize(1), domainWidth);
}

void TestMainWindow::headerDrag_widensColumnAndTakesRoomFromThoseAfter_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("by");
    QTest::newRow("域名 wider") << int(DomainListModel::DomainColumn) << 80;
    QTest::newRow("备案人 narrower") << int(DomainListModel::HolderColumn) << -40;
    // Nothing after it stretches: the columns before it make up the difference.
    QTest::newRow("查询状态 narrower") << int(DomainListModel::StatusColumn) << -30;
    // A double click on the edge fits the column to the long domain of row 2.
    QTest::newRow("域名 fitted") << int(DomainListModel::DomainColumn) << 0;
}

void TestMainWindow::headerDrag_widensColumnAndTakesRoomFromThoseAfter()
{
    QFETCH(int, column);
    QFETCH(int, by);
    ScriptedWindow w;
    w.window->load();
    w.window->model().setDomains({ u"a.cn"_qs, u"a-subdomain-far-too-long-for-its-column.example.com.cn"_qs });
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    QHeaderView *header = list->header();
    QList<int> before;
    for (int c = 0; c < header->count(); ++c)
        before << header->sectionSize(c);
    const QPoint border(
        header->sectionViewportPosition(column) + header->sectionSize(column) - 1, header->height() / 2);
    if (by == 0) {
        QVERIFY(!list->toolTipFor(list->model()->index(1, column)).isEmpty());
        QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, border);
        QCOMPARE(list->toolTipFor(list->model()->index(1, column)), QString());
        by = header->sectionSize(column) - before.at(column);
    } else {
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, border);
        QTest::mouseMove(header->viewport(), border + QPoint(by, 0));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, border + QPoint(by, 0));
    }
    QCOMPARE(header->sectionSize(column), before.at(column) + by);
    QCOMPARE(header->length(), list->viewport()->width());
    const bool lastStretching = column == DomainListModel::StatusColumn;
    for (int c = 0; c < DomainListModel::BaseColumnCount; ++c) {
        if (c == column)
            continue;
        const bool gives = DomainListModel::columns()[size_t(c)].stretches && (lastStretching || c > column);
        if (!gives)
            QCOMPARE(header->sectionSize(c), before.at(c));
        else if (by > 0)
            QVERIFY(header->sectionSize(c) <= before.at(c));
        else
            QVERIFY(header->sectionSize(c) >= before.at(c));
    }
}

void TestMainWindow::toolTip_showsModelTipElseCutText()
{
    ScriptedWindow w;
    w.window->load();
    const QString longDomain = u"a-subdomain-far-too-long-for-its-column.example.com.cn"_qs;
    w.window->model().setDomains({ u"a.cn"_qs, longDomain });
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    const QModelIndex cut = list->model()->index(1, 1);
    QCOMPARE(list->toolTipFor(cut), longDomain);
    QCOMPARE(list->toolTipFor(list->model()->index(0, 1)), QString());
    QCOMPARE(list->toolTipFor(list->model()->index(1, 0)), QString());

    // The way a user gets it: the pointer rests on the cell.
    const QPoint onCell = list->visualRect(cut).center();
    QHelpEvent rest(QEvent::ToolTip, onCell, list->viewport()->mapToGlobal(onCell));
    QApplication::sendEvent(list->viewport(), &rest);
    QTRY_COMPARE(QToolTip::text(), longDomain);
    QToolTip::hideText();

    // Widened until it fits: nothing left to show.
    list->header()->resizeSection(1, 500);
    QCOMPARE(list->toolTipFor(cut), QString());

    // A tooltip the model gives for a cell is shown as it stands, whether the text is cut or not.
    QStandardItemModel tips(1, 2);
    tips.setData(tips.index(0, 0), u"ok"_qs);
    tips.setData(tips.index(0, 0), u"原因"_qs, Qt::ToolTipRole);
    tips.setData(tips.index(0, 1), longDomain);
    tips.setData(tips.index(0, 1), u"另一个原因"_qs, Qt::ToolTipRole);
    DomainListView view;
    view.setModel(&tips);
    view.header()->resizeSection(1, 50);
    QCOMPARE(view.toolTipFor(tips.index(0, 0)), u"原因"_qs);
    QCOMPARE(view.toolTipFor(tips.index(0, 1)), u"另一个原因"_qs);
}

void TestMainWindow::delete_removesSelectedRowAndRenumbers()
{
    ScriptedWindow w;
    w.window->load();
    addDomains(w, { u"1.com"_qs, u"2.com"_qs, u"3.com"_qs, u"4.com"_qs, u"5.com"_qs });
    DomainListModel &model = w.window->model();
    model.setCell(model.keyAt(3), DomainListModel::HolderColumn, u"持有人"_qs);
    selectRow(w, 2);
    action(w, "del")->trigger();
    QCOMPARE(w.panel(2), u"3.com删除成功.."_qs);
    QCOMPARE(columnTexts(model, DomainListModel::IdColumn), QStringList({ u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs }));
    QCOMPARE(columnTexts(model, DomainListModel::DomainColumn),
        QStringList({ u"1.com"_qs, u"2.com"_qs, u"4.com"_qs, u"5.com"_qs }));
    QCOMPARE(model.cell(2, DomainListModel::HolderColumn), u"持有人"_qs);
    // The view shows the renumbered IDs too, not stale ones.
    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    QCOMPARE(list->model()->data(list->model()->index(3, 0)).toString(), u"4"_qs);

    // Deleting the last remaining row leaves an empty list; a later add starts at ID 1 again.
    ScriptedWindow single;
    addDomains(single, { u"only.com"_qs });
    selectRow(single, 0);
    single.window->deleteSelectedRow();
    QCOMPARE(single.window->model().count(), 0);
    addDomains(single, { u"next.com"_qs });
    QCOMPARE(single.window->model().cell(0, DomainListModel::IdColumn), u"1"_qs);
}

void TestMainWindow::delete_refusesWithoutSelectionOrDomain()
{
    ScriptedWindow w;
    w.window->deleteSelectedRow();
    QCOMPARE(w.panel(2), u"请选择要删除的域名.."_qs);

    // An imported "www." line leaves a row with an empty domain; it cannot be deleted, only cleared.
    w.window->model().setDomains({ u"a.com"_qs, QString(), u"b.com"_qs });
    selectRow(w, 1);
    w.window->deleteSelectedRow();
    QCOMPARE(w.panel(2), u"请选择要删除的域名.."_qs);
    QCOMPARE(w.window->model().count(), 3);

    auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
    list->selectionModel()->clearSelection();
    w.window->deleteSelectedRow();
    QCOMPARE(w.window->model().count(), 3);
}

void TestMainWindow::clear_asksAndEmptiesOnlyOnYes()
{
    ScriptedWindow w;
    addDomains(w, { u"a.com"_qs, u"b.com"_qs });
    w.dialogs.messageAnswers << MessageAnswer::No;
    action(w, "clear")->trigger();
    QCOMPARE(w.dialogs.boxes.size(), 1);
    QCOMPARE(w.dialogs.boxes.first().text, u"确定要清空列表?"_qs);
    QCOMPARE(w.dialogs.boxes.first().title, u"Tarnwick软件"_qs);
    QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::YesNo | MessageIcon::Information);
    QCOMPARE(w.window->model().count(), 2);
    QCOMPARE(w.panel(2), u"域名添加成功.."_qs);

    w.dialogs.messageAnswers << MessageAnswer::Yes << MessageAnswer::Yes;
    w.window->clearList();
    QCOMPARE(w.window->model().count(), 0);
    QCOMPARE(w.panel(2), u"列表已清空.."_qs);
    w.window->clearList();
    QCOMPARE(w.panel(2), u"列表已清空.."_qs);
    QCOMPARE(w.dialogs.unprepared, 0);
}

void TestMainWindow::about_showsBoxAndChangesNothing()
{
    ScriptedWindow w;
    addDomains(w, { u"a.com"_qs });
    w.dialogs.messageAnswers << MessageAnswer::Ok;
    action(w, "sm")->trigger();
    QCOMPARE(w.dialogs.boxes.size(), 1);
    QCOMPARE(w.dialogs.boxes.first().text, u"本工具可帮助您批量快捷查询域名备案情况，域名大佬的绝佳助手！"_qs);
    QCOMPARE(w.dialogs.boxes.first().title, u"Tarnwick软件"_qs);
    QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::Ok | MessageIcon::Information);
    QCOMPARE(w.panel(2), u"域名添加成功.."_qs);
    QCOMPARE(w.window->model().count(), 1);
}

void TestMainWindow::exit_asksFromMenuAndCloseButton_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<bool>("closeAgainWhileAsking");
    QTest::newRow("menu, no") << true << MessageAnswer::No << false;
    QTest::newRow("menu, yes") << true << MessageAnswer::Yes << false;
    QTest::newRow("close button, no") << false << MessageAnswer::No << false;
    QTest::newRow("close button, yes") << false << MessageAnswer::Yes << false;
    // A second close request while the question is open is the same request.
    QTest::newRow("closed again while asking, no") << false << MessageAnswer::No << true;
    QTest::newRow("closed again while asking, yes") << false << MessageAnswer::Yes << true;
}

void TestMainWindow::exit_asksFromMenuAndCloseButton()
{
    QFETCH(bool, fromMenu);
    QFETCH(MessageAnswer, answer);
    QFETCH(bool, closeAgainWhileAsking);
    ScriptedWindow w;
    w.window->load();
    addDomains(w, { u"a.com"_qs });
    w.dialogs.messageAnswers << answer;
    if (closeAgainWhileAsking) {
        // Straight to the window: Qt itself refuses a nested close() and, behind a modal box, the window
        // system's close, but a close event can still arrive on its own.
        w.dialogs.whileBoxOpen = [&w] {
            QCloseEvent event;
            QCoreApplication::sendEvent(w.window.get(), &event);
        };
    }
    if (fromMenu)
        action(w, "endd")->trigger();
    else
        w.window->close();
    QCOMPARE(w.dialogs.boxes.size(), 1);
    QCOMPARE(w.dialogs.boxes.first().text, u"是否确定退出软件?"_qs);
    QCOMPARE(w.dialogs.boxes.first().title, u"提示"_qs);
    QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::YesNo | MessageIcon::Information);
    if (answer == MessageAnswer::Yes) {
        QCOMPARE(w.quitStatuses, QList<int> { 0 });
        QVERIFY(w.window->isClosing());
        QVERIFY(!w.window->isVisible());
    } else {
        QVERIFY(w.quitStatuses.isEmpty());
        QVERIFY(!w.window->isClosing());
        QVERIFY(w.window->isVisible());
        QCOMPARE(w.window->model().count(), 1);
        QCOMPARE(w.panel(2), u"域名添加成功.."_qs);
    }
}

void TestMainWindow::exitDuringInputBox_writesNothingAfterwards()
{
    // A timer or the window manager can ask to close while the input box is still up; once the user has
    // said Yes, the add that was waiting must not write into a list that is going away.
    ScriptedWindow w;
    w.window->load();
    w.dialogs.messageAnswers << MessageAnswer::Yes;
    w.dialogs.inputAnswers << u"late.com"_qs;
    w.dialogs.whileBoxOpen = [&w] { w.window->close(); };
    w.window->addDomain();
    QCOMPARE(w.quitStatuses, QList<int> { 0 });
    QCOMPARE(w.window->model().count(), 0);
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
    // A further close request after the end needs no second question.
    w.window->close();
    QCOMPARE(w.dialogs.boxes.size(), 1);
}

void TestMainWindow::websiteButtons_openConfiguredSites()
{
    Config config;
    config.companySite = u"http://company.test.example"_qs;
    config.studioSite = u"http://studio.test.example"_qs;
    ScriptedWindow w(nullptr, config);
    w.window->load();
    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("Command1_1")), Qt::LeftButton);
    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("Command1_4")), Qt::LeftButton);
    QCOMPARE(w.browser.opened,
        QList<QUrl>({ QUrl(u"http://company.test.example"_qs), QUrl(u"http://studio.test.example"_qs) }));
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
    QCOMPARE(w.dialogs.boxes.size(), 0);

    // No browser to start: the user is told, with the address to type in elsewhere.
    w.browser.starts = false;
    w.dialogs.messageAnswers << MessageAnswer::Ok;
    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("Command1_4")), Qt::LeftButton);
    QCOMPARE(w.dialogs.boxes.size(), 1);
    QCOMPARE(w.dialogs.boxes.first().text, u"无法打开浏览器,请手动访问:http://studio.test.example"_qs);
    QCOMPARE(w.dialogs.boxes.first().title, u"提示"_qs);
    QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::Ok | MessageIcon::Information);
    QCOMPARE(w.panel(2), u"正在检测版本更新"_qs);
}

void TestMainWindow::messageBox_captionsNameTheButtons()
{
    QtDialogs dialogs;
    QStringList shown;
    QString defaultButton;
    whenModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        for (const QMessageBox::StandardButton button : { QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel })
            shown << box->button(button)->text();
        defaultButton = box->defaultButton()->text();
        box->button(QMessageBox::No)->click();
    });
    const MessageAnswer given = dialogs.messageBox(u"列表中已有2个域名。"_qs,
        MessageButtons::YesNoCancel | MessageIcon::Information, u"提示"_qs, { u"追加"_qs, u"替换"_qs, u"取消"_qs });
    QCOMPARE(shown, QStringList({ u"追加"_qs, u"替换"_qs, u"取消"_qs }));
    // The safe answer stays the one Enter gives.
    QCOMPARE(defaultButton, u"追加"_qs);
    QCOMPARE(given, MessageAnswer::No);
}

void TestMainWindow::inputBox_keepsPastedLinesWhole()
{
    // Longer than a line edit takes by default, so a paste cut at its limit would end in half a domain.
    QString pasted;
    for (int i = 0; i < 3000; ++i)
        pasted += u"domain%1.example.cn\r\n"_qs.arg(i);
    QGuiApplication::clipboard()->setText(pasted);
    QtDialogs dialogs;
    int titleWidth = 0;
    whenModal([&](QWidget *modal) {
        titleWidth = modal->width();
        if (auto *line = modal->findChild<QLineEdit *>())
            line->paste();
        QTest::keyClick(modal, Qt::Key_Return);
    });
    const std::optional<QString> typed = dialogs.inputBox(u"请输入域名"_qs, u"请输入域名"_qs, QString());
    QCOMPARE(typed.value_or(QString()), pasted);
    QVERIFY2(titleWidth >= QtDialogs::titleWidth(u"请输入域名"_qs), qPrintable(QString::number(titleWidth)));
}

void TestMainWindow::settings_unwritableFile_saysSoInABox()
{
    // The settings hold for this run only; the box that says so is measured like every other (scripted dialogs).
    QTemporaryDir dir;
    QFile(dir.filePath(u"file"_qs)).open(QIODevice::WriteOnly);
    Config config;
    config.settingsPath = dir.filePath(u"file/quernfold.ini"_qs);
    ScriptedWindow w(nullptr, config);
    w.dialogs.formAnswers << QMap<QString, QString> { { u"QUERNFOLD_LOOKUP_BASE"_qs, u"http://127.0.0.1:9"_qs } };
    w.window->editQuerySettings();
    QCOMPARE(w.dialogs.boxes.size(), 1);
    QCOMPARE(w.dialogs.boxes.first().text, u"查询设置无法写入%1,仅在本次运行中有效.."_qs.arg(config.settingsPath));
}

void TestMainWindow::translations_standardButtonsReadChinese()
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    QVERIFY(installChineseTranslations(*app));
    const QString yes = QCoreApplication::translate("QPlatformTheme", "&Yes");
    QVERIFY2(yes.contains(u'是'), qPrintable(yes));
}

void TestMainWindow::model_passesItemModelTester()
{
    DomainListModel model;
    {
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.appendDomain(u"a.com"_qs);
        model.appendDomain(u"b.com"_qs);
        model.setDomains({ u"x.cn"_qs, u"y.cn"_qs, u"z.cn"_qs });
        model.setCell(model.keyAt(1), DomainListModel::StatusColumn, u"查询中"_qs);
        model.setCell(model.keyAt(1), DomainListModel::IdColumn, u"99"_qs); // IDs are positions; writes are ignored
        model.clear();
        model.appendDomain(u"a.com"_qs);
    }
    // The tester expects a removal to leave the next row's first cell as it was; ours is the position,
    // which renumbers by design, so removal is checked on its own.
    model.setDomains({ u"x.cn"_qs, u"y.cn"_qs, u"z.cn"_qs });
    model.setCell(model.keyAt(1), DomainListModel::StatusColumn, u"查询中"_qs);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.removeRows({ model.keyAt(0) });
    // A key the list does not hold changes nothing.
    model.removeRows({ RowKey(12345) });
    QCOMPARE(model.count(), 2);
    QCOMPARE(model.cell(0, DomainListModel::IdColumn), u"1"_qs);
    QCOMPARE(model.cell(0, DomainListModel::DomainColumn), u"y.cn"_qs);
    QCOMPARE(model.cell(0, DomainListModel::StatusColumn), u"查询中"_qs);
    QCOMPARE(changed.size(), 1); // the IDs below the removed row, so views repaint them
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));
}

void TestMainWindow::accessibility_controlsExposeTheirTexts()
{
    ScriptedWindow w;
    w.window->load();
    addDomains(w, { u"a.com"_qs, u"b.cn"_qs });
    const auto nameOf = [](QObject *object) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
    };
    QCOMPARE(nameOf(w.find<QPushButton>(QStringLiteral("Command1_1"))), u"Brellow公司官网"_qs);
    QCOMPARE(nameOf(w.find<QPushButton>(QStringLiteral("Command2"))), u"批量查询"_qs);
    QCOMPARE(nameOf(w.find<QLabel>(QStringLiteral("S1_panel2"))), u"域名添加成功.."_qs);
    QCOMPARE(nameOf(w.find<QLabel>(QStringLiteral("S1_panel1"))), u"提示"_qs);

    // The panels are announced as parts of a status bar.
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(w.find<QWidget>(QStringLiteral("S1")));
    QVERIFY(bar);
    QCOMPARE(bar->role(), QAccessible::StatusBar);
    QVERIFY(bar->childCount() >= 3);
    QCOMPARE(bar->child(0)->text(QAccessible::Name), u"提示"_qs);
    QCOMPARE(bar->child(1)->text(QAccessible::Name), u"域名添加成功.."_qs);

    // A screen reader reads the list as a table: headers and cells.
    QAccessibleInterface *list
        = QAccessible::queryAccessibleInterface(w.find<DomainListView>(QStringLiteral("ListView1")));
    QVERIFY(list);
    QAccessibleTableInterface *table = list->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), int(DomainListModel::ColumnCount));
    QTRY_COMPARE(table->rowCount(), 2); // once the view has laid the rows out
    QCOMPARE(table->columnDescription(1), u"域名"_qs);
    QAccessibleInterface *cell = table->cellAt(1, 1);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), u"b.cn"_qs);
    QCOMPARE(table->cellAt(1, 0)->text(QAccessible::Name), u"2"_qs);
}

// Whatever a screen reader can land on says what it is: every widget but plain containers and labels, which are
// read by their text. The find bar is shown and the list long enough to scroll, so their parts are all there.
void TestMainWindow::accessibility_everyControlHasAName()
{
    ScriptedWindow w;
    w.window->load();
    QStringList domains;
    for (int i = 0; i < 200; ++i)
        domains << QStringLiteral("d%1.cn").arg(i);
    w.window->model().setDomains(domains);
    w.window->showFindBar();
    const QList<QWidget *> widgets = w.window->findChildren<QWidget *>();
    QVERIFY(widgets.size() > 30);
    QStringList unnamed;
    for (QWidget *widget : widgets) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface);
        const QAccessible::Role role = iface->role();
        if (role == QAccessible::Client || role == QAccessible::Border || role == QAccessible::StaticText)
            continue;
        if (iface->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + u' ' + widget->objectName();
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", ")));
    QCOMPARE(w.find<QWidget>(QStringLiteral("clearFind"))->accessibleName(), u"清除查找"_qs);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
