#pragma once

#include "domainlist/filing_record.h"

#include <QString>

namespace quernfold {

// A domain's result as the history held it before a later lookup found something else.
struct PreviousResult {
    FilingRecord record;
    QString status;
    // When it was first found and when a lookup last found it again, in seconds since 1970 UTC.
    qint64 firstSeen = 0;
    qint64 lastConfirmed = 0;
};

// What changed from `before` to a lookup's result now, in the words the list shows: "新备案" (no record before, one
// now), "备案已注销" (a record before; "无记录" or "备案已被删除" now), or the cells that differ between two records,
// "备案号变更", "备案人变更", "网站名称变更", "备案类型变更", joined with "、". Empty when nothing a reader would call a
// change differs (two answers without a record, say).
QString changeText(const PreviousResult &before, const FilingRecord &now);

// Whether a record cell says the domain has a filing ("京ICP备…"), as opposed to "无记录", "备案已被删除" or nothing.
bool hasFiling(const FilingRecord &record);

// The status cell's tooltip line about the earlier result: "之前(2026-12-01): 京ICP备…号-1 / 某某公司", the date in
// local time being the last day the earlier result was found.
QString previousResultLine(const PreviousResult &before);

} // namespace quernfold
