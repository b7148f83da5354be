#pragma once

#include <QString>

namespace quernfold {

// A domain's filing record as the result page gives it and the list shows it. A value the page does not carry
// is empty. It stands alone so that the list, the page reader and the local test site share it without
// depending on one another.
struct FilingRecord {
    QString recordNo;
    QString holder;
    QString recordType;
    QString siteName;
};

} // namespace quernfold
