// The record page parser on any page text: values are plain text cut from the table body, and they are exactly
// what splitting the page at its markers gives.
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

RecordInfo readBySplitting(const QString &page)
{
    const QString table = piece(page, kTableMarker, 1);
    const auto cell = [&table](int k) { return piece(table, QStringLiteral("<td>"), k); };
    RecordInfo info;
    info.Holder = CellText(cell(2));
    info.RecordType = CellText(cell(3));
    info.SiteName = CellText(cell(5));
    const QStringList numberPieces = cell(4).split(u'>');
    if (numberPieces.size() > 1) {
        QString number = CellText(numberPieces.at(1));
        while (number.startsWith(u' '))
            number.remove(0, 1);
        while (number.endsWith(u' '))
            number.chop(1);
        info.RecordNo = number;
    }
    return info;
}

void checkCellText(const QString &text)
{
    const QString cut = CellText(text);
    const qsizetype tag = text.indexOf(u'<');
    FUZZ_CHECK(tag < 0 ? cut.isEmpty() : cut == text.first(tag));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const RecordInfo info = ParseRecordPage(page);

    for (const QString *value : { &info.RecordNo, &info.Holder, &info.RecordType, &info.SiteName })
        FUZZ_CHECK(!value->contains(u'<'));
    FUZZ_CHECK(!info.RecordNo.contains(u'>'));
    FUZZ_CHECK(!info.RecordNo.startsWith(u' ') && !info.RecordNo.endsWith(u' '));
    if (!hasTableMarker(page))
        FUZZ_CHECK(
            info.RecordNo.isEmpty() && info.Holder.isEmpty() && info.RecordType.isEmpty() && info.SiteName.isEmpty());

    const RecordInfo expected = readBySplitting(page);
    FUZZ_CHECK(info.RecordNo == expected.RecordNo);
    FUZZ_CHECK(info.Holder == expected.Holder);
    FUZZ_CHECK(info.RecordType == expected.RecordType);
    FUZZ_CHECK(info.SiteName == expected.SiteName);

    checkCellText(page);
    return 0;
}
