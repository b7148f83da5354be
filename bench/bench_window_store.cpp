// The window with its results store at a million rows, as a user meets it: an import of 1M domains until every
// row is in the file, with the longest gap of the window's event loop meanwhile; the peak memory the store adds to
// that import; and, once every row has a result, the next start, from the window made to the window shown with the
// million rows brought back. Between the two, the changes that once made the store rewrite the list (a row removed
// then one added, a scattered delete, an import replacing the list, a clear), each timed until it is in the file,
// with the rows the file took and a check that the file then holds exactly the list. Every measured run is a child
// process of its own, so its peak RSS and its caches are its own. Prints the figures with their targets.
//
//   bench_window_store [rows]       1,000,000 rows unless told
#include "bench_common.h"
#include "window/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace quernfold;

namespace {

struct Window {
    explicit Window(const QString &storeFolder)
    {
        platform.dialogs = &dialogs;
        platform.quit = [](int) {};
        Config config;
        if (!storeFolder.isEmpty())
            config.storePath = storeFolder + QStringLiteral("/quernfold.db");
        window = std::make_unique<MainWindow>(platform, config);
        window->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    }
    // Yes to the question whether to bring the list back (the import's append question does not come: the list is
    // empty then).
    bench::CountingDialogs dialogs { MessageAnswer::Yes };
    Platform platform;
    std::unique_ptr<MainWindow> window;
};

bool waitFor(QSignalSpy &spy, int timeoutMs = 120000)
{
    return !spy.isEmpty() || spy.wait(timeoutMs);
}

// In the child: import the list file into a window (with a store in `storeFolder`, or none) and wait until it is
// all in the file.
int importChild(const QString &listFile, const QString &storeFolder)
{
    Window w(storeFolder);
    QSignalSpy ready(w.window.get(), &MainWindow::listReady);
    w.window->load();
    if (!waitFor(ready))
        return 1;
    QCoreApplication::processEvents();
    bench::TickWatch watch;
    watch.start();
    QElapsedTimer clock;
    qint64 countAtMs = -1;
    QObject::connect(w.window.get(), &MainWindow::messageWritten, [&](const QString &text) {
        if (text.startsWith(QStringLiteral("导入完毕")))
            countAtMs = clock.elapsed();
    });
    const bool store = w.window->resultsStore();
    // Listened to from before the import: a short list is in the file before the view has settled.
    QSignalSpy saved(w.window.get(), &MainWindow::listSaved);
    qint64 firstSavedMs = -1;
    QObject::connect(w.window.get(), &MainWindow::listSaved, [&] {
        // A save of what came before the import (the start's empty list) says nothing about the import.
        if (firstSavedMs < 0 && countAtMs >= 0)
            firstSavedMs = clock.elapsed();
    });
    clock.start();
    w.window->importListFile(listFile);
    const qint64 importMs = clock.elapsed();
    // The view lays the rows out on its next turn of the event loop: both runs let it, so that the memory compared
    // is the store's alone.
    w.window->findChild<QAbstractItemView *>(QStringLiteral("ListView1"))->doItemsLayout();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    qint64 storedMs = -1;
    double storingGapMs = 0;
    double storedRssMiB = 0;
    double importGapMs = 0;
    if (store) {
        bench::TickWatch whileStoring;
        whileStoring.start();
        while (firstSavedMs < 0) {
            if (!saved.wait(120000))
                return 1;
        }
        storedMs = firstSavedMs;
        storingGapMs = whileStoring.longestMs();
        // The peak of the import itself; the results written afterwards only prepare the next start.
        storedRssMiB = bench::peakRssMiB();
        importGapMs = watch.longestMs();
        // Every row finished, as after a whole run, so that the next start brings back a list with its results.
        DomainListModel &model = w.window->model();
        for (int row = 0; row < model.count(); ++row) {
            model.setLookupResult(model.keyAt(row),
                { QStringLiteral("京ICP备%1号-1").arg(10000000 + row), QStringLiteral("北京某某科技有限公司"),
                    QStringLiteral("企业"), QStringLiteral("某某网") },
                QStringLiteral("查询完毕"));
        }
        saved.clear();
        if (!waitFor(saved))
            return 1;
    }
    std::printf("rows=%d\nimport_ms=%lld\ncount_ms=%lld\nstored_ms=%lld\ngap_ms=%.1f\nstoring_gap_ms=%.1f\n"
                "rss_mib=%.1f\n",
        w.window->model().count(), qlonglong(importMs), qlonglong(countAtMs), qlonglong(storedMs),
        store ? importGapMs : watch.longestMs(), storingGapMs, store ? storedRssMiB : bench::peakRssMiB());
    return 0;
}

// Answers the window's questions from a queue (Yes when it runs dry) and gives the next domain to 单个添加.
class QueuedDialogs : public bench::CountingDialogs
{
public:
    QueuedDialogs()
        : CountingDialogs(MessageAnswer::Yes)
    { }
    MessageAnswer messageBox(
        const QString &text, MessageStyle style, const QString &title, const QStringList &captions) override
    {
        const MessageAnswer fallback = CountingDialogs::messageBox(text, style, title, captions);
        return answers.isEmpty() ? fallback : answers.takeFirst();
    }
    std::optional<QString> inputBox(const QString &, const QString &, const QString &) override
    {
        ++asked;
        return domain;
    }
    QList<MessageAnswer> answers;
    QString domain;
};

// Whether the store's file holds exactly the window's rows, keys and cells included: "equal (N rows)" or the
// first difference.
QString compareWithStore(MainWindow &window)
{
    std::vector<DomainRow> stored;
    QEventLoop loop;
    window.resultsStore()->restore([&](std::vector<DomainRow> rows) {
        stored = std::move(rows);
        loop.quit();
    });
    loop.exec();
    const DomainListModel &model = window.model();
    const auto cells = [](const DomainRow &row) {
        return row.lookup ? row.lookup->record.recordNo + u'|' + row.lookup->status + u'|' + row.lookup->note
                          : QString();
    };
    for (size_t i = 0; i < std::max(stored.size(), size_t(model.count())); ++i) {
        if (i >= stored.size() || i >= size_t(model.count()))
            return QStringLiteral("DIFFERENT: %1 rows stored, %2 listed").arg(stored.size()).arg(model.count());
        const DomainRow &listed = model.row(int(i));
        if (stored[i].key != listed.key || stored[i].domain != listed.domain || cells(stored[i]) != cells(listed)) {
            return QStringLiteral("DIFFERENT at row %1: stored %2 %3, listed %4 %5")
                .arg(i)
                .arg(keyValue(stored[i].key))
                .arg(stored[i].domain)
                .arg(keyValue(listed.key))
                .arg(listed.domain);
        }
    }
    return QStringLiteral("equal (%1 rows)").arg(model.count());
}

// In the child: the window's list at scale through the changes that once made the store rewrite it, each timed
// until it is in the file, with what the file was asked to write and whether the file then equals the list.
int keyedChild(const QString &listFile, const QString &storeFolder)
{
    Platform platform;
    QueuedDialogs dialogs;
    platform.dialogs = &dialogs;
    platform.quit = [](int) {};
    Config config;
    config.storePath = storeFolder + QStringLiteral("/quernfold.db");
    MainWindow window(platform, config);
    window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    QSignalSpy ready(&window, &MainWindow::listReady);
    window.load();
    if (!waitFor(ready))
        return 1;
    QSignalSpy saved(&window, &MainWindow::listSaved);
    ResultsStore &store = *window.resultsStore();
    bool valid = true;
    const auto change = [&](const char *what, const std::function<void()> &make) {
        // Nothing of the change before may be taken for this one: its last report is in and taken.
        while (!store.isSaved())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        saved.clear();
        const StoreStats before = store.stats();
        QElapsedTimer clock;
        clock.start();
        make();
        const qint64 madeMs = clock.elapsed();
        if (!waitFor(saved))
            std::exit(1);
        const qint64 savedMs = clock.elapsed();
        const StoreStats after = store.stats();
        const QString equal = compareWithStore(window);
        valid = valid && equal.startsWith(QStringLiteral("equal"));
        std::printf("  %s: made in %lld ms, in the file %lld ms after it began; the file took %lld rows deleted, "
                    "%lld inserted, %lld cells; store and list %s\n",
            what, qlonglong(madeMs), qlonglong(savedMs), qlonglong(after.rowsDeleted - before.rowsDeleted),
            qlonglong(after.rowsInserted - before.rowsInserted), qlonglong(after.cellsWritten - before.cellsWritten),
            qPrintable(equal));
        std::fflush(stdout);
    };
    change("import", [&] { window.importListFile(listFile); });
    change("one row removed near the top, then one added", [&] {
        window.selectRows({ window.model().keyAt(10) });
        window.deleteSelectedRow();
        dialogs.domain = QStringLiteral("added.example.com");
        window.addDomain();
    });
    change("every 100th row removed (a scattered delete)", [&] {
        std::vector<RowKey> rows;
        for (int position = 0; position < window.model().count(); position += 100)
            rows.push_back(window.model().keyAt(position));
        window.selectRows(rows);
        window.deleteSelectedRow();
    });
    change("an import replacing the list", [&] {
        dialogs.answers << MessageAnswer::No;
        window.importListFile(listFile);
    });
    change("the list cleared", [&] { window.clearList(); });
    return valid ? 0 : 2;
}

// In the child: start a window on the store and wait until the list is back and painted.
int restoreChild(const QString &storeFolder)
{
    QElapsedTimer clock;
    clock.start();
    Window w(storeFolder);
    QSignalSpy ready(w.window.get(), &MainWindow::listReady);
    bench::TickWatch watch;
    watch.start();
    w.window->load();
    if (!waitFor(ready))
        return 1;
    // The rows are shown once the view has laid them out and painted.
    w.window->repaint();
    QCoreApplication::processEvents();
    const qint64 shownMs = clock.elapsed();
    std::printf("rows=%d\nshown_ms=%lld\ngap_ms=%.1f\nasked=%d\nrss_mib=%.1f\n", w.window->model().count(),
        qlonglong(shownMs), watch.longestMs(), w.dialogs.asked, bench::peakRssMiB());
    return 0;
}

QMap<QString, double> runChild(const QStringList &arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QMap<QString, double> values;
    if (!child.waitForFinished(600000) || child.exitCode() != 0) {
        child.kill();
        std::printf("  (child %s failed)\n", qPrintable(arguments.join(u' ')));
        return values;
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromLatin1(line.first(eq)), line.sliced(eq + 1).toDouble());
    }
    return values;
}

int orchestrate(int rows)
{
    QTemporaryDir dir;
    const QString listFile = dir.filePath(QStringLiteral("list.txt"));
    {
        QFile file(listFile);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray text;
        text.reserve(rows * 28);
        for (int i = 0; i < rows; ++i)
            text += "domain" + QByteArray::number(i) + ".example.com\r\n";
        file.write(text);
    }
    const QString storeFolder = dir.filePath(QStringLiteral("store"));
    std::printf("== %d rows, offscreen unless QT_QPA_PLATFORM says otherwise ==\n", rows);
    const QMap<QString, double> without = runChild({ QStringLiteral("--import"), listFile, QString() });
    const QMap<QString, double> with = runChild({ QStringLiteral("--import"), listFile, storeFolder });
    if (without.isEmpty() || with.isEmpty())
        return 1;
    std::printf("import without a store: %.0f ms to the count message, longest loop gap %.1f ms, peak RSS %.1f MiB\n",
        without.value(QStringLiteral("count_ms")), without.value(QStringLiteral("gap_ms")),
        without.value(QStringLiteral("rss_mib")));
    std::printf("import with the store:  %.0f ms to the count message, longest loop gap %.1f ms, peak RSS %.1f MiB\n",
        with.value(QStringLiteral("count_ms")), with.value(QStringLiteral("gap_ms")),
        with.value(QStringLiteral("rss_mib")));
    std::printf("all %0.f rows in the file %.0f ms after the count message (target <= 5000 ms), longest loop gap "
                "meanwhile %.1f ms (target <= 50 ms)\n",
        with.value(QStringLiteral("rows")),
        with.value(QStringLiteral("stored_ms")) - with.value(QStringLiteral("count_ms")),
        with.value(QStringLiteral("storing_gap_ms")));
    std::printf("peak memory the store adds: %.1f MiB (target <= 40 MiB)\n",
        with.value(QStringLiteral("rss_mib")) - without.value(QStringLiteral("rss_mib")));

    std::printf("the list and its store at %d rows, each change until it is in the file:\n", rows);
    std::fflush(stdout);
    QProcess keyed;
    keyed.setProcessChannelMode(QProcess::ForwardedChannels);
    keyed.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--keyed"), listFile, dir.filePath(QStringLiteral("keyed")) });
    const bool keyedEqual = keyed.waitForFinished(1800000) && keyed.exitCode() == 0;
    if (!keyedEqual)
        std::printf("INVALID: the store and the list differed, or the run failed\n");

    const QMap<QString, double> restored = runChild({ QStringLiteral("--restore"), storeFolder });
    if (restored.isEmpty())
        return 1;
    std::printf("next start (every row with a result): %.0f rows back and shown %.0f ms after the window was made "
                "(target <= 2000 ms), "
                "longest loop gap %.1f ms, %0.f question(s), peak RSS %.1f MiB\n",
        restored.value(QStringLiteral("rows")), restored.value(QStringLiteral("shown_ms")),
        restored.value(QStringLiteral("gap_ms")), restored.value(QStringLiteral("asked")),
        restored.value(QStringLiteral("rss_mib")));
    const bool valid = with.value(QStringLiteral("rows")) == rows && restored.value(QStringLiteral("rows")) == rows;
    if (!valid)
        std::printf("INVALID: not every row was imported or brought back\n");
    return valid && keyedEqual ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.value(0) == QStringLiteral("--import"))
        return importChild(args.value(1), args.value(2));
    if (args.value(0) == QStringLiteral("--keyed"))
        return keyedChild(args.value(1), args.value(2));
    if (args.value(0) == QStringLiteral("--restore"))
        return restoreChild(args.value(1));
    return orchestrate(args.isEmpty() ? 1000000 : qMax(1, args.first().toInt()));
}
