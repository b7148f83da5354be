#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

namespace quernfold::test {

// What a user or a lookup run can do to the list. A step names its operation and three numbers; what the numbers
// pick (a row, a text, an answer) is decided against the list as it stands when the step runs, so any subset of a
// sequence is still a sequence: a step that has nothing to act on does nothing.
enum class Op : quint8 {
    Add, // 单个添加 through the input box
    Import, // 批量导入 of a text file, appended or replacing
    ImportExported, // 批量导入 of the last CSV this sequence exported
    Select, // rows of the list chosen by the user
    Delete, // Delete key on the selection, the question answered
    Clear, // 清空列表, the question answered
    Result, // a lookup's outcome written by key, as a run writes it
    Run, // 查询域名 over a few chosen rows, the site answering when told
    Answer, // the site answers one request in flight
    Stop, // 停止查询
    Sort, // a click on a column header
    Kind, // 显示: one kind of row
    Find, // the find field's text narrowed, widened, replaced or cleared
    Copy, // Ctrl+C
    Export, // 导出数据 to a CSV
    Restart, // close the window, open a new one on the same store, bring the list back
    Count
};

struct Step {
    Op op = Op::Add;
    quint32 a = 0;
    quint32 b = 0;
    quint32 c = 0;
};

// `count` steps drawn from a seed: mostly small changes, now and then a big import or a restart.
std::vector<Step> randomSteps(quint64 seed, int count);
// The steps as C++ initializer lines, ready to paste into a regression table.
QString formatSteps(const std::vector<Step> &steps);

struct SequenceResult {
    bool failed = false;
    int failedStep = -1; // index into the steps
    QString check; // which comparison failed ("shown rows", "list", ...)
    QString message;
};

// How QAbstractItemModelTester reports: into the running QtTest function, or as warnings the sequence collects and
// turns into its own failure (for reruns while a failure is reduced, and for runs outside QtTest).
enum class TesterMode { QtTest, Collect };

// Runs the steps from a new, empty store on a fresh window and compares the window with a plain reference after
// every step; stops at the first difference.
SequenceResult runSequence(const std::vector<Step> &steps, TesterMode mode);

// The shortest sub-list of `steps` it can find, within `budgetMs`, that still fails the same check: steps after the
// failure go, then the shortest failing tail, then chunks and single steps while it still fails.
std::vector<Step> reduceSteps(const std::vector<Step> &steps, const SequenceResult &failure, qint64 budgetMs);

} // namespace quernfold::test
