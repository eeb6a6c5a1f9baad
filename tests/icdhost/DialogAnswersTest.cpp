// Dialogs a plug-in opens take the answers queued with `answer`, oldest first.
#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

class DialogAnswers : public IcdhostTest {};

TEST_F(DialogAnswers, EachDialogPrintsOneLineAndTakesTheNextQueuedAnswer) {
    runAndCompare({"--icd", "icd/bus_b.xml", "--script", "scripts/dialogs.py", "--run",
                   "scenarios/dialogs.icdhost"},
                  "dialogs", 0);
}

}  // namespace
}  // namespace icdhost_test
