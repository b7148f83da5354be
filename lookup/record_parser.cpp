#include "lookup/record_parser.h"

#include <array>

namespace quernfold {

namespace {

constexpr QStringView kTableMarker = u"<tbody id=\"table_tr\">";
constexpr QStringView kCellMarker = u"<td>";
constexpr qsizetype kCellsRead = 5;

// Removes blanks (U+0020) only: a record number padded with tabs or line breaks keeps them.
QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return text;
}

QStringView cellTextView(QStringView piece)
{
    const qsizetype tagStart = piece.indexOf(u'<');
    return tagStart < 0 ? QStringView() : piece.first(tagStart);
}

} // namespace

QString cellText(QStringView piece)
{
    return cellTextView(piece).toString();
}

bool hasTableMarker(QStringView page)
{
    return page.contains(kTableMarker);
}

FilingRecord parseRecordPage(QStringView page)
{
    FilingRecord info;
    const qsizetype marker = page.indexOf(kTableMarker);
    if (marker < 0)
        return info;

    QStringView table = page.sliced(marker + kTableMarker.size());
    if (const qsizetype second = table.indexOf(kTableMarker); second >= 0)
        table = table.first(second);

    // Only the first five cells matter, so the search stops there instead of splitting the whole table body
    // (a page can list thousands of rows).
    std::array<QStringView, kCellsRead + 1> cells; // cells[k] is cell k; cells[0] stays unused
    qsizetype cellStart = table.indexOf(kCellMarker);
    for (qsizetype k = 1; k <= kCellsRead && cellStart >= 0; ++k) {
        const qsizetype contentStart = cellStart + kCellMarker.size();
        const qsizetype next = table.indexOf(kCellMarker, contentStart);
        cells[k] = table.sliced(contentStart, (next < 0 ? table.size() : next) - contentStart);
        cellStart = next;
    }

    info.holder = cellText(cells[2]);
    info.recordType = cellText(cells[3]);
    info.siteName = cellText(cells[5]);

    const QStringView numberCell = cells[4];
    if (const qsizetype firstGt = numberCell.indexOf(u'>'); firstGt >= 0) {
        QStringView inner = numberCell.sliced(firstGt + 1);
        if (const qsizetype secondGt = inner.indexOf(u'>'); secondGt >= 0)
            inner = inner.first(secondGt);
        info.recordNo = trimBlanks(cellTextView(inner)).toString();
    }
    return info;
}

} // namespace quernfold
