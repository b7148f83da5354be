// The record page parser on any page text: values are plain text cut from the table body without the padding at
// their ends, and they are exactly what splitting the page at its markers and trimming gives.
#include "fuzz_check.h"
#include "lookup/record_parser.h"

#include <QString>
#include <QStringList>

using namespace quernfold;

namespace {

const QString kTableMarker = QStringLiteral("<tbody id=\"table_tr\">");

// The reading in its plainest form: split at every marker, missing pieces are empty.
QString piece(const QString &text, const QString &separator, int index)
{
    const QStringList pieces = text.split(separator);
    return index < pieces.size() ? pieces.at(index) : QString();
}

const QStringList kPadding = { QStringLiteral(" "), QStringLiteral("\t"), QStringLiteral("\n"), QStringLiteral("\r"),
    QStringLiteral("\f"), QStringLiteral("\v"), QStringLiteral("\u00A0"), QStringLiteral("\u3000"),
    QStringLiteral("&nbsp;"), QStringLiteral("&#160;"), QStringLiteral("&#xa0;"), QStringLiteral("&#xA0;") };

// Takes any padding off either end, one piece at a time, until none is left.
QString trimmed(QString text)
{
    for (bool cut = true; cut;) {
        cut = false;
        for (const QString &padding : kPadding) {
            if (text.startsWith(padding)) {
                text.remove(0, padding.size());
                cut = true;
            }
            if (text.endsWith(padding)) {
                text.chop(padding.size());
                cut = true;
            }
        }
    }
    return text;
}

bool isPadded(const QString &text)
{
    for (const QString &padding : kPadding) {
        if (text.startsWith(padding) || text.endsWith(padding))
            return true;
    }
    return false;
}

FilingRecord readBySplitting(const QString &page)
{
    const QString table = piece(page, kTableMarker, 1);
    const auto cell = [&table](int k) { return piece(table, QStringLiteral("<td>"), k); };
    FilingRecord info;
    info.holder = trimmed(cellText(cell(2)));
    info.recordType = trimmed(cellText(cell(3)));
    info.siteName = trimmed(cellText(cell(5)));
    const QStringList numberPieces = cell(4).split(u'>');
    if (numberPieces.size() > 1)
        info.recordNo = trimmed(cellText(numberPieces.at(1)));
    return info;
}

void checkCellText(const QString &text)
{
    const QString cut = cellText(text);
    const qsizetype tag = text.indexOf(u'<');
    FUZZ_CHECK(tag < 0 ? cut.isEmpty() : cut == text.first(tag));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const FilingRecord info = parseRecordPage(page);

    for (const QString *value : { &info.recordNo, &info.holder, &info.recordType, &info.siteName }) {
        FUZZ_CHECK(!value->contains(u'<'));
        FUZZ_CHECK(!isPadded(*value));
    }
    FUZZ_CHECK(!info.recordNo.contains(u'>'));
    if (!hasTableMarker(page))
        FUZZ_CHECK(
            info.recordNo.isEmpty() && info.holder.isEmpty() && info.recordType.isEmpty() && info.siteName.isEmpty());

    const FilingRecord expected = readBySplitting(page);
    FUZZ_CHECK(info.recordNo == expected.recordNo);
    FUZZ_CHECK(info.holder == expected.holder);
    FUZZ_CHECK(info.recordType == expected.recordType);
    FUZZ_CHECK(info.siteName == expected.siteName);

    checkCellText(page);
    return 0;
}
