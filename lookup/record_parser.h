#pragma once

#include "domainlist/filing_record.h"

#include <QString>
#include <QStringView>

namespace quernfold {

// The text of a cell up to its first tag. A piece without any "<" is not a finished cell and gives nothing.
QString cellText(QStringView piece);

// Cuts the record out of a result page at the site's fixed markers. Plain text cutting: no HTML parsing, no
// entity decoding, no case folding; each of the four values loses the padding at its ends (blanks, tabs, line
// breaks, no-break and ideographic spaces, "&nbsp;"). Never fails; whatever piece is missing gives the empty text.
FilingRecord parseRecordPage(QStringView page);

// Whether the page carries the record table at all; an error or captcha page does not.
bool hasTableMarker(QStringView page);

} // namespace quernfold
