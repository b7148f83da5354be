#include "domainlist/duplicate_domains.h"

#include "domainlist/domain_name.h"

#include <QHash>

#include <algorithm>
#include <cstdint>

namespace quernfold {

namespace {

// Open addressing over row numbers: a million domains take 16 MiB of slots, where a set of strings would copy
// every domain into a node of its own. The hash kept beside each number spares almost every string comparison
// on a probe that passes someone else's slot.
class DomainTable
{
public:
    explicit DomainTable(size_t domains)
    {
        size_t capacity = 16;
        while (capacity < 2 * domains)
            capacity *= 2;
        m_slots.assign(capacity, Slot {});
        m_mask = capacity - 1;
    }

    // The number already filed under this domain, or -1 after filing `number` under it.
    template <typename DomainOf> int findOrAdd(QStringView domain, int number, const DomainOf &domainOf)
    {
        const size_t hash = qHash(domain, m_seed);
        const auto check = std::uint32_t(hash >> 32) ^ std::uint32_t(hash);
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.number < 0) {
                slot = Slot { check, number };
                return -1;
            }
            if (slot.check == check && domainOf(slot.number) == domain)
                return slot.number;
        }
    }

private:
    struct Slot {
        std::uint32_t check = 0;
        int number = -1;
    };
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    // Per process, so a file made to collide cannot slow every import down to a crawl.
    size_t m_seed = QHashSeed::globalSeed();
};

} // namespace

qsizetype dropDuplicateDomains(std::vector<DomainRow> &rows, const DomainListModel *listed)
{
    const int listedCount = listed ? listed->count() : 0;
    DomainTable table(size_t(listedCount) + rows.size());
    // Few listed rows, if any, are in another form than the list's: they alone get a copy.
    QHash<int, QString> listForms;
    // Numbers below listedCount are rows of the list; the rest are rows kept from `rows`, at their new place.
    const auto keyOf = [&](int number) -> QStringView {
        if (number >= listedCount)
            return repeatKey(rows[size_t(number - listedCount)].domain);
        const auto form = listForms.constFind(number);
        return repeatKey(form != listForms.cend() ? *form : listed->row(number).domain);
    };
    for (int i = 0; i < listedCount; ++i) {
        QString form = listFormIfDifferent(listed->row(i).domain);
        if (!form.isNull())
            listForms.insert(i, std::move(form));
        table.findOrAdd(keyOf(i), i, keyOf);
    }
    size_t kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (table.findOrAdd(repeatKey(rows[i].domain), listedCount + int(kept), keyOf) >= 0)
            continue;
        if (kept != i)
            rows[kept] = std::move(rows[i]);
        ++kept;
    }
    const qsizetype dropped = qsizetype(rows.size() - kept);
    rows.resize(kept);
    return dropped;
}

bool listHoldsName(const DomainListModel &listed, QStringView name)
{
    const QStringView key = repeatKey(name);
    for (int i = 0; i < listed.count(); ++i) {
        const QString &domain = listed.row(i).domain;
        if (repeatKey(domain) == key)
            return true;
        const QString form = listFormIfDifferent(domain);
        if (!form.isNull() && repeatKey(form) == key)
            return true;
    }
    return false;
}

} // namespace quernfold
