#pragma once

#include "domainlist/domain_list_model.h"

#include <vector>

namespace quernfold {

// Takes out of `rows` every row whose domain is already a row of `listed` (when there is one) or stands earlier
// in `rows`, keeping the order of the rest; returns how many went. Domains compare exactly, as the import left
// them. Memory: eight bytes a slot, at most four slots per domain of both lists together, however long they are.
qsizetype dropDuplicateDomains(std::vector<DomainRow> &rows, const DomainListModel *listed);

} // namespace quernfold
