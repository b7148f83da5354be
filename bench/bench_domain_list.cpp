// Appends 1,000,000 rows one by one through the model while the window's list view shows it, then deletes
// one row near the top (which renumbers every row below), then 10,000 scattered rows in one go, as a delete of
// that many selected rows does, then clears the list and sets it again as an import does. Prints the times and the
// peak RSS.
#include "window/main_window.h"
#include "bench_common.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quernfold;

int main(int argc, char *argv[])
{
    // Offscreen unless told otherwise (QT_QPA_PLATFORM=xcb under Xvfb measures the real window).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    Platform platform;
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

    std::printf("rows appended: %d\n", rows);
    std::printf("append: %lld ms (target <= 1500 ms)\n", static_cast<long long>(appendMs));
    std::printf("delete one row near the top: %.2f ms median of 5, first %.2f ms (target <= 10 ms)\n",
        deleteMs[deleteMs.size() / 2], firstDeleteMs);
    std::printf("delete %zu scattered selected rows in one pass: %.2f ms\n", scattered.size(), manyMs);
    std::printf("rows left %d; row 11 then read ID %s\n", rowsLeft, qPrintable(eleventh));
    std::printf("clear the list: %.2f ms; the same rows as one import (setDomains): %.2f ms\n", clearMs, setMs);
    std::printf("peak RSS: %.1f MiB (target <= 400 MiB)\n", bench::peakRssMiB());
    return 0;
}
