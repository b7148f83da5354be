// Appends 1,000,000 rows one by one through the model while the window's list view shows it, then deletes
// one row near the top (which renumbers every row below), then 10,000 scattered rows in one go, as a delete of
// that many selected rows does, then clears the list and sets it again as an import does. Then 清空列表 and its
// undo through the window, and what ten undo steps of a million rows each hold. Prints the times and the memory.
#include "window/main_window.h"
#include "bench_common.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quernfold;

namespace {

// Resident set size now, in MiB (VmRSS), or -1 where /proc is not there.
double rssMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen unless told otherwise (QT_QPA_PLATFORM=xcb under Xvfb measures the real window).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    // 清空列表 asks first; the bench says yes.
    bench::CountingDialogs dialogs(MessageAnswer::Yes);
    Platform platform;
    platform.dialogs = &dialogs;
    MainWindow window(platform, Config {});
    // No version service here: its first tick would ask one.
    window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    window.show();
    QCoreApplication::processEvents();
    DomainListModel &model = window.model();

    // The texts are made first so that only the model and the view are timed.
    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("domain%1.example.com").arg(i);

    std::printf("peak RSS before: %.1f MiB\n", bench::peakRssMiB());
    QElapsedTimer timer;
    timer.start();
    for (const QString &domain : std::as_const(domains))
        model.appendDomain(domain);
    QCoreApplication::processEvents(); // let the view lay out what it was told about
    const qint64 appendMs = timer.elapsed();

    // The first delete also pays for laying out what the appends left; the median of five shows the delete.
    QCoreApplication::processEvents();
    std::vector<double> deleteMs;
    for (int i = 0; i < 5; ++i) {
        timer.restart();
        model.removeRows({ model.keyAt(10) });
        QCoreApplication::processEvents();
        deleteMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double firstDeleteMs = deleteMs.front();
    std::sort(deleteMs.begin(), deleteMs.end());

    // Every hundredth row of the first million: 10,000 rows, none next to another.
    std::vector<RowKey> scattered;
    for (int row = 5; row < model.count() && scattered.size() < 10000; row += 100)
        scattered.push_back(model.keyAt(row));
    window.selectRows(scattered);
    QCoreApplication::processEvents();
    timer.restart();
    model.removeRows(window.selectedKeys());
    QCoreApplication::processEvents();
    const double manyMs = timer.nsecsElapsed() / 1e6;

    const int rowsLeft = model.count();
    const QString eleventh = model.cell(10, DomainListModel::IdColumn) + QStringLiteral(", domain ")
        + model.cell(10, DomainListModel::DomainColumn);

    timer.restart();
    model.clear();
    QCoreApplication::processEvents();
    const double clearMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    model.setDomains(domains);
    QCoreApplication::processEvents();
    const double setMs = timer.nsecsElapsed() / 1e6;

    // 清空列表 and 撤销 as the user does them, each until the view has taken the change in.
    const int rowsCleared = model.count();
    timer.restart();
    window.clearList();
    QCoreApplication::processEvents();
    const double clearByMenuMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    window.undoLastChange();
    QCoreApplication::processEvents();
    const double undoClearMs = timer.nsecsElapsed() / 1e6;
    const int rowsBack = model.count();
    const QString lastBack = model.cell(rowsBack - 1, DomainListModel::DomainColumn);

    // Ten clears of a list of a million new names each (no text shared with anything else): the steps hold them.
    window.clearList();
    window.undoLastChange();
    model.clear();
    QCoreApplication::processEvents();
    const double rssBeforeSteps = rssMiB();
    const double peakBeforeSteps = bench::peakRssMiB();
    for (int step = 0; step < 10; ++step) {
        QStringList fresh;
        fresh.reserve(rows);
        for (int i = 0; i < rows; ++i)
            fresh << QStringLiteral("step%1-domain%2.example.com").arg(step).arg(i);
        model.setDomains(std::move(fresh));
        window.clearList();
        QCoreApplication::processEvents();
    }
    const double rssWithSteps = rssMiB();
    const int stepsHeld = window.undoSteps();

    std::printf("rows appended: %d\n", rows);
    std::printf("append: %lld ms (target <= 1500 ms)\n", static_cast<long long>(appendMs));
    std::printf("delete one row near the top: %.2f ms median of 5, first %.2f ms (target <= 10 ms)\n",
        deleteMs[deleteMs.size() / 2], firstDeleteMs);
    std::printf("delete %zu scattered selected rows in one pass: %.2f ms\n", scattered.size(), manyMs);
    std::printf("rows left %d; row 11 then read ID %s\n", rowsLeft, qPrintable(eleventh));
    std::printf("clear the list: %.2f ms; the same rows as one import (setDomains): %.2f ms\n", clearMs, setMs);
    std::printf("清空列表 of %d rows: %.2f ms; its undo: %.2f ms (target <= 1000 ms each); rows back %d, last %s\n",
        rowsCleared, clearByMenuMs, undoClearMs, rowsBack, qPrintable(lastBack));
    std::printf("undo steps held: %d of %d rows each; RSS %.1f MiB before, %.1f MiB with them: %.1f MiB a step "
                "(%.0f bytes a row)\n",
        stepsHeld, rows, rssBeforeSteps, rssWithSteps, (rssWithSteps - rssBeforeSteps) / stepsHeld,
        (rssWithSteps - rssBeforeSteps) * 1024 * 1024 / (double(stepsHeld) * rows));
    std::printf("peak RSS: %.1f MiB before the ten steps (target <= 400 MiB), %.1f MiB with them\n", peakBeforeSteps,
        bench::peakRssMiB());
    return 0;
}
