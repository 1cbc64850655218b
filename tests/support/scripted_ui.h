#pragma once
// A scripted stand-in for message boxes: records every box and answers from a queue
// (the box's default when the queue is empty).

#include <deque>
#include <vector>

#include "settings/user_interface.h"

namespace tallix::testing {

class ScriptedUi final : public UserInterface {
  public:
    ScriptedUi() { SetUi(this); }
    ~ScriptedUi() override { SetUi(nullptr); }
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    MsgAnswer ShowMessage(const MessageBoxRequest& request) override;
    void ProcessPendingEvents() override { ++eventRuns; }

    void QueueAnswer(MsgAnswer a) { answers.push_back(a); }

    std::vector<MessageBoxRequest> boxes;
    std::deque<MsgAnswer> answers;
    int eventRuns = 0;
};

}  // namespace tallix::testing
