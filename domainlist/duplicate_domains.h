#pragma once

#include "domainlist/domain_list_model.h"

#include <vector>

namespace quernfold {

// Takes out of `rows` every row whose domain is already a row of `listed` (when there is one) or stands earlier
// in `rows`, keeping the order of the rest; returns how many went. Names compare by their repeatKey: `rows` are
// in the list's form, as the import leaves them; a listed row from before names were mapped compares in its list
// form. Memory: eight bytes a slot, at most four slots per domain of both lists together, however long they are,
// and a copy of each listed name that has another form.
qsizetype dropDuplicateDomains(std::vector<DomainRow> &rows, const DomainListModel *listed);

// Whether `listed` holds this name (in the list's form) or another spelling of it, by the same comparison.
bool listHoldsName(const DomainListModel &listed, QStringView name);

} // namespace quernfold
