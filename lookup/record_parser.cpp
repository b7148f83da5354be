#include "lookup/record_parser.h"

#include <array>

namespace quernfold {

namespace {

constexpr QStringView kTableMarker = u"<tbody id=\"table_tr\">";
constexpr QStringView kCellMarker = u"<td>";
constexpr qsizetype kCellsRead = 5;

// What a page pads a cell with: blanks, tabs and line breaks of the markup, no-break and ideographic spaces, and
// a no-break space still written as its entity (nothing here decodes entities).
bool isPadding(QChar c)
{
    switch (c.unicode()) {
    case u' ':
    case u'\t':
    case u'\n':
    case u'\r':
    case u'\f':
    case u'\v':
    case u'\u00A0':
    case u'\u3000':
        return true;
    default:
        return false;
    }
}

QStringView trimPadding(QStringView text)
{
    static constexpr QStringView kEntities[] = { u"&nbsp;", u"&#160;", u"&#xa0;", u"&#xA0;" };
    for (qsizetype before = -1; before != text.size();) {
        before = text.size();
        while (!text.isEmpty() && isPadding(text.front()))
            text = text.sliced(1);
        while (!text.isEmpty() && isPadding(text.back()))
            text.chop(1);
        for (const QStringView entity : kEntities) {
            if (text.startsWith(entity))
                text = text.sliced(entity.size());
            if (text.endsWith(entity))
                text.chop(entity.size());
        }
    }
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

    // The registry's values are what stands between the padding; inside a cell nothing changes.
    info.holder = trimPadding(cellTextView(cells[2])).toString();
    info.recordType = trimPadding(cellTextView(cells[3])).toString();
    info.siteName = trimPadding(cellTextView(cells[5])).toString();

    const QStringView numberCell = cells[4];
    if (const qsizetype firstGt = numberCell.indexOf(u'>'); firstGt >= 0) {
        QStringView inner = numberCell.sliced(firstGt + 1);
        if (const qsizetype secondGt = inner.indexOf(u'>'); secondGt >= 0)
            inner = inner.first(secondGt);
        info.recordNo = trimPadding(cellTextView(inner)).toString();
    }
    return info;
}

} // namespace quernfold
