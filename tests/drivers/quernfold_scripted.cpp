// The real program (real window, real message boxes, real HTTP client) driven by a script from the
// environment, so tests can check how the process ends: its exit status and what was written before.
//
//   QUERNFOLD_SCRIPT_DOMAINS    domains to put in the list, separated by ","
//   QUERNFOLD_SCRIPT_ACTION     "batch" (click 批量查询), "selected" (query row 1), or nothing
//   QUERNFOLD_SCRIPT_CLOSE_ON_ROW  k: ask the window to close once row k (from 1) reads "查询中"
//   QUERNFOLD_SCRIPT_CLOSE_AFTER_CHECK  1: ask the window to close once the version check is over
//   QUERNFOLD_SCRIPT_SCREENSHOT  a PNG path: the window is saved there once the action has run, then closed
//   QUERNFOLD_SCRIPT_ANSWERS    answers for the message boxes in order: yes, no or ok
//   QUERNFOLD_SCRIPT_CLOSE_WHEN_READY  1: ask the window to close once the list of the last session is settled
//   QUERNFOLD_SCRIPT_TRACE      1: print "listed" once the list is in place, and "finished: <row>" the moment a
//                               row's status turns "查询完毕"
//
// The list and the action wait until the window has settled the list kept from the last session (XDG_DATA_HOME
// says where its store is). SIGTERM and SIGHUP end it as they end the program.
// After the event loop ends it prints "boxes:", the texts of the boxes it answered, every row, "opened:" and the
// addresses the browser was asked for, and "status:" with the event loop's result.
#include "app/config.h"
#include "app/interrupt_pipe.h"
#include "platform/browser.h"
#include "platform/curl_http.h"
#include "platform/qt_platform.h"
#include "window/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <csignal>
#include <cstdio>

using namespace quernfold;

namespace {

class RecordingBrowser : public Browser
{
public:
    bool openUrl(const QUrl &url) override
    {
        opened << url.toString();
        return true;
    }
    QStringList opened;
};

void print(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installChineseTranslations(app);
    const Config config = Config::fromEnvironment();
    QtDialogs dialogs;
    RecordingBrowser browser;
    StyleSheetSkin skin;
    CurlHttpClient http(config.httpTimeoutMs);
    Platform platform { &dialogs, &browser, &skin, &http, [](int status) { QCoreApplication::exit(status); } };

    InterruptPipe endSignals({ SIGTERM, SIGHUP });
    MainWindow window(platform, config);
    dialogs.setParentWidget(&window);
    QObject::connect(&endSignals, &InterruptPipe::interrupted, &window, &MainWindow::endWithoutQuestion);

    const bool trace = qEnvironmentVariableIntValue("QUERNFOLD_SCRIPT_TRACE") == 1;
    if (trace) {
        QObject::connect(&window.model(), &QAbstractItemModel::dataChanged,
            [&window](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    if (topLeft.column() <= DomainListModel::StatusColumn
                        && bottomRight.column() >= DomainListModel::StatusColumn
                        && window.model().cell(row, DomainListModel::StatusColumn) == QStringLiteral("查询完毕"))
                        print(QStringLiteral("finished: %1").arg(row));
                }
            });
    }
    const QString action = qEnvironmentVariable("QUERNFOLD_SCRIPT_ACTION");
    const QString domains = qEnvironmentVariable("QUERNFOLD_SCRIPT_DOMAINS");
    const bool closeWhenReady = qEnvironmentVariableIntValue("QUERNFOLD_SCRIPT_CLOSE_WHEN_READY") == 1;
    QObject::connect(&window, &MainWindow::listReady, &window, [&] {
        if (!domains.isEmpty())
            window.model().setDomains(domains.split(u','));
        if (trace)
            print(QStringLiteral("listed"));
        if (closeWhenReady)
            QTimer::singleShot(0, &window, [&window] { window.close(); });
        QTimer::singleShot(0, &window, [&] {
            if (action == QStringLiteral("batch")) {
                window.startOrStopBatchQuery();
            } else if (action == QStringLiteral("selected")) {
                window.selectRows({ window.model().keyAt(0) });
                window.querySelectedRow();
            }
        });
    });
    window.load();

    QStringList answers = qEnvironmentVariable("QUERNFOLD_SCRIPT_ANSWERS").split(u',', Qt::SkipEmptyParts);
    QStringList answered;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        answered << box->text();
        const QString answer = answers.isEmpty() ? QStringLiteral("no") : answers.takeFirst();
        QMessageBox::StandardButton which = QMessageBox::No;
        if (answer == QStringLiteral("yes"))
            which = QMessageBox::Yes;
        else if (answer == QStringLiteral("ok"))
            which = QMessageBox::Ok;
        if (QAbstractButton *button = box->button(which))
            button->click();
        else
            box->reject();
    });
    answerer.start(20);

    const int closeOnRow = qEnvironmentVariableIntValue("QUERNFOLD_SCRIPT_CLOSE_ON_ROW");
    const bool closeAfterCheck = qEnvironmentVariableIntValue("QUERNFOLD_SCRIPT_CLOSE_AFTER_CHECK") == 1;
    const auto *versionCheckTimer = window.findChild<QTimer *>(QStringLiteral("Timer1"));
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (closeAfterCheck && !versionCheckTimer->isActive() && !QApplication::activeModalWidget()) {
            closer.stop();
            window.close();
            return;
        }
        if (closeOnRow < 1 || closeOnRow > window.model().count())
            return;
        if (window.model().cell(closeOnRow - 1, DomainListModel::StatusColumn) == QStringLiteral("查询中")) {
            closer.stop();
            window.close();
        }
    });
    closer.start(20);

    const QString screenshot = qEnvironmentVariable("QUERNFOLD_SCRIPT_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(1500, &window, [&] {
            window.grab().save(screenshot);
            answers.prepend(QStringLiteral("yes"));
            window.close();
        });
    }

    const int status = app.exec();
    print(QStringLiteral("boxes: ") + answered.join(u'|'));
    for (int row = 0; row < window.model().count(); ++row) {
        QStringList cells;
        for (int column = 0; column < DomainListModel::BaseColumnCount; ++column)
            cells << window.model().cell(row, DomainListModel::Column(column));
        print(QStringLiteral("row: ") + cells.join(u'|'));
    }
    print(QStringLiteral("opened: ") + browser.opened.join(u'|'));
    print(QStringLiteral("message: ") + window.message());
    print(QStringLiteral("status: %1").arg(status));
    return status;
}
