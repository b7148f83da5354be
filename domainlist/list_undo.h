#pragma once

#include "domainlist/domain_list_model.h"

#include <deque>
#include <optional>
#include <vector>

namespace quernfold {

// The list changes the user can take back: a delete, a clear, and an import that replaced the list. Each step keeps
// the rows the change took out, moved rather than copied, with their keys and cells, so that undoing it puts each
// row back at its own place. A step costs what its rows cost in the list; the oldest steps go first.
class ListUndo
{
public:
    static constexpr int kMostSteps = 10;

    enum class Change { Delete, Clear, Replace };
    struct Undone {
        Change change;
        // Rows that came back (rows whose keys the list held again, or whose domains it lists again, were left out).
        int restored = 0;
    };

    // A change that took no row is no step.
    void recordDelete(std::vector<DomainRow> removed);
    void recordClear(std::vector<DomainRow> removed);
    // An import that replaced the list: `replaced` are the rows it took out, the rows it brought have keys from
    // `firstNew` up to (not including) `endNew`.
    void recordReplace(std::vector<DomainRow> replaced, RowKey firstNew, RowKey endNew);

    bool canUndo() const { return !m_steps.empty(); }
    int steps() const { return int(m_steps.size()); }
    // Undoes the newest step in the model, or nothing when there is none.
    std::optional<Undone> undo(DomainListModel &model);

private:
    struct Step {
        Change change;
        std::vector<DomainRow> rows;
        RowKey firstNew = RowKey::None;
        RowKey endNew = RowKey::None;
    };
    void push(Step step);

    std::deque<Step> m_steps;
};

} // namespace quernfold
