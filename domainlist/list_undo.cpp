#include "domainlist/list_undo.h"

namespace quernfold {

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
    const int before = model.count();
    model.reinsertRows(std::move(step.rows));
    return Undone { step.change, model.count() - before };
}

} // namespace quernfold
