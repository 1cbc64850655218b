#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "settings/user_interface.h"
#include "tests/support/scripted_ui.h"

namespace tallix {
namespace {

using testing::ScriptedUi;

// Sets a flag when the pump that holds it is destroyed.
struct Witness {
    explicit Witness(bool& destroyed) : flag(destroyed) {}
    ~Witness() { flag = true; }
    bool& flag;
};

class EventPumps : public ::testing::Test {
  protected:
    ScriptedUi ui;
};

TEST_F(EventPumps, PumpRemovingItselfKeepsWhatItHoldsUntilItReturns) {
    bool destroyed = false;
    bool destroyedWhileRunning = true;
    int calls = 0;
    int id = 0;
    auto witness = std::make_shared<Witness>(destroyed);
    id = AddEventPump([&, witness] {
        ++calls;
        RemoveEventPump(id);
        // Its own captures are still there: nothing of it is destroyed while it runs.
        destroyedWhileRunning = destroyed || witness->flag;
    });
    witness.reset();
    LetEventsRun();
    EXPECT_FALSE(destroyedWhileRunning);
    EXPECT_TRUE(destroyed);  // dropped once it returned
    LetEventsRun();
    EXPECT_EQ(calls, 1);
}

TEST_F(EventPumps, PumpsAddedOrRemovedByARunningPumpTakeEffectInTheSamePass) {
    std::vector<char> order;
    int later = 0;
    int added = 0;
    const int first = AddEventPump([&] {
        order.push_back('a');
        RemoveEventPump(later);
        if (!added) added = AddEventPump([&] { order.push_back('c'); });
    });
    later = AddEventPump([&] { order.push_back('b'); });
    LetEventsRun();
    EXPECT_EQ(order, (std::vector<char>{'a', 'c'}));
    // A pump that lets events run itself is not run again inside, once removed meanwhile.
    int nested = 0;
    int reentrant = 0;
    reentrant = AddEventPump([&] {
        ++nested;
        RemoveEventPump(reentrant);
        LetEventsRun();
    });
    RemoveEventPump(first);
    RemoveEventPump(added);
    order.clear();
    LetEventsRun();
    EXPECT_EQ(nested, 1);
    EXPECT_TRUE(order.empty());
    // The list of pumps is made again after its last pump went.
    bool ran = false;
    const int again = AddEventPump([&] { ran = true; });
    LetEventsRun();
    EXPECT_TRUE(ran);
    RemoveEventPump(again);
}

}  // namespace
}  // namespace tallix
