// The list's sequences of operations driven by bytes: thirteen bytes a step (the operation, then its three numbers),
// run on a fresh window and store and compared with the plain reference after every step, as tst_list_sequences
// does with seeded steps. This is the long mode: libFuzzer finds the steps that a seed would take long to draw.
#include "fuzz_check.h"
#include "support/list_sequence.h"

#include <QApplication>

#include <cstring>
#include <vector>

using namespace quernfold::test;

namespace {

constexpr std::size_t kStepBytes = 13;
// Each input gets a window and a store of its own: a longer input says little more than two shorter ones.
constexpr std::size_t kMostSteps = 400;

quint32 numberAt(const std::uint8_t *at)
{
    quint32 value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void startApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_list_sequences";
    static char *argv[] = { name, nullptr };
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: at exit Qt's own globals may already be gone.
    static QApplication *application = new QApplication(argc, argv);
    Q_UNUSED(application);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    startApplication();
    std::vector<Step> steps;
    for (std::size_t at = 0; at + kStepBytes <= size && steps.size() < kMostSteps; at += kStepBytes) {
        steps.push_back({ Op(data[at] % quint8(Op::Count)), numberAt(data + at + 1), numberAt(data + at + 5),
            numberAt(data + at + 9) });
    }
    const SequenceResult result = runSequence(steps, TesterMode::Collect);
    if (result.failed) {
        std::fprintf(stderr, "step %d, %s: %s\n%s", result.failedStep, qPrintable(result.check),
            qPrintable(result.message), qPrintable(formatSteps(steps)));
    }
    FUZZ_CHECK(!result.failed);
    return 0;
}
