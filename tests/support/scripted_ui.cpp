#include "tests/support/scripted_ui.h"

namespace tallix::testing {

MsgAnswer ScriptedUi::ShowMessage(const MessageBoxRequest& request) {
    boxes.push_back(request);
    if (answers.empty()) return request.defaultAnswer;
    MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
}

}  // namespace tallix::testing
