#include "domainlist/list_undo.h"

#include "domainlist/domain_name.h"

#include <QSet>

#include <algorithm>

namespace quernfold {

namespace {

// A domain listed again since the change (单个添加, an import, a paste) stays where it is now: its old row does not
// come back beside it. The set is made of the smaller side, so undoing a small delete under a long list stays quick;
// dropDuplicateDomains would hash the whole list each time (hundreds of milliseconds at a million rows).
void dropListedAgain(const DomainListModel &model, std::vector<DomainRow> &rows)
{
    if (rows.empty() || model.count() == 0)
        return;
    QSet<QStringView> listed;
    if (size_t(model.count()) <= rows.size()) {
        for (int position = 0; position < model.count(); ++position)
            listed.insert(repeatKey(model.row(position).domain));
    } else {
        QSet<QStringView> restored;
        for (const DomainRow &row : rows)
            restored.insert(repeatKey(row.domain));
        for (int position = 0; position < model.count(); ++position) {
            const QStringView key = repeatKey(model.row(position).domain);
            if (restored.contains(key))
                listed.insert(key);
        }
    }
    if (listed.isEmpty())
        return;
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                   [&listed](const DomainRow &row) { return listed.contains(repeatKey(row.domain)); }),
        rows.end());
}

} // namespace

void ListUndo::recordDelete(std::vector<DomainRow> removed)
{
    if (!removed.empty())
        push({ Change::Delete, std::move(removed) });
}

void ListUndo::recordClear(std::vector<DomainRow> removed)
{
    if (!removed.empty())
        push({ Change::Clear, std::move(removed) });
}

void ListUndo::recordReplace(std::vector<DomainRow> replaced, RowKey firstNew, RowKey endNew)
{
    push({ Change::Replace, std::move(replaced), firstNew, endNew });
}

void ListUndo::push(Step step)
{
    m_steps.push_back(std::move(step));
    while (m_steps.size() > size_t(kMostSteps))
        m_steps.pop_front();
}

std::optional<ListUndo::Undone> ListUndo::undo(DomainListModel &model)
{
    if (m_steps.empty())
        return std::nullopt;
    Step step = std::move(m_steps.back());
    m_steps.pop_back();
    if (step.change == Change::Replace) {
        // The imported rows still listed go; rows added since the import stay.
        std::vector<RowKey> imported;
        for (int position = 0; position < model.count(); ++position) {
            const RowKey key = model.keyAt(position);
            if (key >= step.firstNew && key < step.endNew)
                imported.push_back(key);
        }
        model.removeRows(std::move(imported));
    }
    dropListedAgain(model, step.rows);
    const int before = model.count();
    model.reinsertRows(std::move(step.rows));
    return Undone { step.change, model.count() - before };
}

} // namespace quernfold
