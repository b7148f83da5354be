#include "domainlist/json_lines.h"

namespace quernfold {

const std::array<QString, kExportColumnsWithoutChange> &jsonLinesKeys()
{
    static const std::array<QString, kExportColumnsWithoutChange> keys = { QStringLiteral("id"),
        QStringLiteral("domain"), QStringLiteral("record_no"), QStringLiteral("holder"), QStringLiteral("record_type"),
        QStringLiteral("site_name"), QStringLiteral("status"), QStringLiteral("note") };
    return keys;
}

void appendJsonString(QString &out, QStringView text)
{
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    out.append(u'"');
    qsizetype copiedTo = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0x20 && unit != u'"' && unit != u'\\')
            continue;
        out.append(text.sliced(copiedTo, i - copiedTo));
        copiedTo = i + 1;
        switch (unit) {
        case u'"':
            out.append(u"\\\"");
            break;
        case u'\\':
            out.append(u"\\\\");
            break;
        case u'\n':
            out.append(u"\\n");
            break;
        case u'\r':
            out.append(u"\\r");
            break;
        case u'\t':
            out.append(u"\\t");
            break;
        default:
            out.append(u"\\u00").append(QChar(kHex[unit >> 4])).append(QChar(kHex[unit & 0xF]));
            break;
        }
    }
    out.append(text.sliced(copiedTo)).append(u'"');
}

bool JsonLinesWriter::writeRow(qint64 id, const ExportCells &cells)
{
    const auto &keys = jsonLinesKeys();
    m_text.append(u"{\"").append(keys[0]).append(u"\":").append(QString::number(id));
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        m_text.append(u",\"").append(keys[i + 1]).append(u"\":");
        appendJsonString(m_text, cells[i]);
    }
    m_text.append(u"}\n");
    return flushIfFull();
}

} // namespace quernfold
