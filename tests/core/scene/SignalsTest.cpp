#include "core/object/Signals.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "core/scene/NodeSignals.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::TestClass;
using Calls = std::vector<std::string>;

// Who received, in order.
Calls calls;

// The class table keeps its entries for the whole run, so each class-delivery test has a
// signal name of its own.
const char* const handledSignals[] = {"ping",        "inner",        "Start",     "disabled",
                                      "classorder",  "derivedorder", "classstop", "viabase",
                                      "classdelete", "classcreate",  "subtree"};

// Records its label and runs its action for every signal it handles.
class SgReceiver : public TestClass<SgReceiver, Node> {
public:
    static constexpr const char* Name = "SgReceiver";
    void OnSignal(void* argument) {
        calls.push_back(GetName());
        std::function<void(void*)> run = action; // may delete this node, and the member
        if (run) {
            run(argument);
        }
    }
    std::function<void(void*)> action;
};
class SgDerived : public TestClass<SgDerived, SgReceiver> {
public:
    static constexpr const char* Name = "SgDerived";
};
class SgCousin : public TestClass<SgCousin, SgReceiver> {
public:
    static constexpr const char* Name = "SgCousin";
};
class SgPlain : public TestClass<SgPlain, Node> { // no handler at all
public:
    static constexpr const char* Name = "SgPlain";
};

class Signals : public ::testing::Test {
protected:
    // Not through a Declare, which the derived classes would inherit and run again.
    void SetUp() override {
        if (!SgReceiver::classInfo) {
            for (const char* name : handledSignals) {
                SgReceiver::RegisterClass()->AddMethod(
                    name, "()", BindSignalHandler<&SgReceiver::OnSignal>(), 0);
            }
        }
        // In this order: derived classes receive in the order they were registered.
        SgDerived::RegisterClass();
        SgCousin::RegisterClass();
    }

    template <class T = SgReceiver>
    T* Make(const char* name, Node* parent = nullptr) {
        return tree_.Make<T>(name, parent);
    }
    // A receiver listening to `signal`.
    SgReceiver* Listener(const char* name, const char* signal = "ping") {
        SgReceiver* receiver = Make(name);
        AddSignalListener(signal, receiver);
        return receiver;
    }

    Calls Send(const char* name, bool force = false) {
        calls.clear();
        result_ = SendSignal(name, nullptr, force);
        return calls;
    }
    Calls Subtree(Node* root, bool force) {
        calls.clear();
        CallMethodInSubtree(root, "subtree", nullptr, force);
        return calls;
    }

    bool result_ = true;

private:
    test::TestTree tree_;
};

// Tables ---------------------------------------------------------------------------------------

TEST_F(Signals, ListenersAreCalledInOrderOfAdditionAndRemovingOneKeepsTheOther) {
    SgReceiver* a = Listener("a");
    Listener("b");
    EXPECT_EQ(Send("ping"), (Calls{"a", "b"}));
    RemoveSignalListener("ping", a);
    EXPECT_EQ(Send("ping"), (Calls{"b"}));
}

TEST_F(Signals, SignalNamesAreExactWhileTheMethodIsFoundIgnoringCase) {
    // The method is "Start": both entries find it, but each name hears only itself.
    SgReceiver* r = Listener("r", "Start");
    AddSignalListener("start", r);
    EXPECT_EQ(Send("start"), (Calls{"r"}));
    EXPECT_EQ(Send("Start"), (Calls{"r"}));
    EXPECT_EQ(Send("START"), Calls{});
}

TEST_F(Signals, ADestroyedEntityLeavesNoEntryUnderAnyName) {
    SgReceiver* gone = Listener("gone");
    AddSignalListener("start", gone);
    Listener("kept");
    gone->Delete();
    EXPECT_EQ(GetSignalListenerCount("ping"), 1);
    EXPECT_EQ(GetSignalListenerCount("start"), 0);
    EXPECT_EQ(Send("ping"), (Calls{"kept"}));
}

TEST_F(Signals, ARegistrationThroughABaseMethodReachesTheBaseAndEveryDerivedClass) {
    Make("base");
    Make<SgDerived>("derived");
    Make<SgCousin>("cousin");
    Make<SgPlain>("plain");
    RegisterClassSignal("viabase", SgDerived::classInfo);
    EXPECT_EQ(Send("viabase"), (Calls{"base", "derived", "cousin"}));
}

// Delivery -------------------------------------------------------------------------------------

TEST_F(Signals, AListenerWithoutAMethodIsSkippedAndASignalNobodyHearsSucceeds) {
    EXPECT_TRUE(SendSignal("nobody listens", nullptr, false));
    AddSignalListener("ping", Make<SgPlain>("plain"));
    Listener("r");
    EXPECT_EQ(Send("ping"), (Calls{"r"}));
    EXPECT_TRUE(result_);
}

TEST_F(Signals, NodesThatAreNotFullyEnabledReceiveOnlyWhenForced) {
    RegisterClassSignal("disabled", SgReceiver::classInfo);
    SgPlain* parent = Make<SgPlain>("parent");
    parent->SetFlag(NodeEnabled, false);
    Make("on");
    Listener("off", "disabled")->SetFlag(NodeEnabled, false);
    Make("under", parent);
    EXPECT_EQ(Send("disabled"), (Calls{"on"}));
    EXPECT_EQ(Send("disabled", true), (Calls{"off", "on", "off", "under"}));
}

TEST_F(Signals, ListenersAreServedBeforeClassInstances) {
    Make("instance");
    Listener("listener", "classorder");
    RegisterClassSignal("classorder", SgReceiver::classInfo);
    EXPECT_EQ(Send("classorder"), (Calls{"listener", "instance", "listener"}));
}

TEST_F(Signals, DerivedInstancesReceiveAfterAllOfTheOwnersOwn) {
    Make<SgCousin>("cousin");
    Make<SgDerived>("derived");
    Make("first");
    Make("second");
    RegisterClassSignal("derivedorder", SgReceiver::classInfo);
    EXPECT_EQ(Send("derivedorder"), (Calls{"first", "second", "derived", "cousin"}));
}

TEST_F(Signals, AListenerStopKeepsClassesFromReceivingAndLeavesTheFlagClear) {
    RegisterClassSignal("classstop", SgReceiver::classInfo);
    SgReceiver* stopper = Listener("stopper", "classstop");
    stopper->action = [](void*) { StopSignal(); };
    Make("instance");
    EXPECT_EQ(Send("classstop"), (Calls{"stopper"}));
    EXPECT_FALSE(result_);
    // The class walk stops on a set flag, so it shows whether the stop was left behind.
    stopper->action = nullptr;
    calls.clear();
    CallSignalOnClassInstances(SgReceiver::classInfo,
                               SgReceiver::classInfo->FindMethod("ping", false), nullptr, false);
    EXPECT_EQ(calls, (Calls{"stopper", "instance"}));
}

TEST_F(Signals, AStopBeforeANestedSendIsSeenAfterItReturns) {
    Listener("outer")->action = [](void*) {
        StopSignal();
        SendSignal("inner", nullptr, false);
    };
    Listener("next");
    Listener("inner", "inner");
    EXPECT_EQ(Send("ping"), (Calls{"outer", "inner"}));
    EXPECT_FALSE(result_);
}

TEST_F(Signals, AStoppedNestedSendLosesTheOuterStop) {
    bool nested = true;
    Listener("outer")->action = [&nested](void*) {
        StopSignal();
        nested = SendSignal("inner", nullptr, false);
    };
    Listener("next");
    Listener("inner", "inner")->action = [](void*) { StopSignal(); };
    EXPECT_EQ(Send("ping"), (Calls{"outer", "inner", "next"}));
    EXPECT_FALSE(nested);
    EXPECT_TRUE(result_);
}

// Receivers that change what is being walked ---------------------------------------------------

TEST_F(Signals, AListenerMayDeleteItselfOrTheNextListener) {
    SgReceiver* a = Listener("a");
    AddSignalListener("ping", a);
    SgReceiver* b = Listener("b");
    Listener("c");
    a->action = [a, b](void*) {
        b->Delete();
        a->Delete();
    };
    EXPECT_EQ(Send("ping"), (Calls{"a", "c"}));
}

TEST_F(Signals, ListenersAddedDuringDeliveryWaitForTheNextSignal) {
    SgReceiver* a = Listener("a");
    SgReceiver* late = Make("late");
    a->action = [a, late](void*) {
        AddSignalListener("ping", late);
        AddSignalListener("ping", a);
        a->action = nullptr;
    };
    Listener("b");
    EXPECT_EQ(Send("ping"), (Calls{"a", "b"}));
    EXPECT_EQ(Send("ping"), (Calls{"a", "b", "late", "a"}));
}

TEST_F(Signals, AnInstanceMayDeleteOthersOfTheClassBeingWalked) {
    SgReceiver* first = Make("first");
    SgReceiver* second = Make("second");
    Make("third");
    SgDerived* doomed = Make<SgDerived>("doomed");
    Make<SgDerived>("derived");
    // One already called, one still to come: neither may shift the walk.
    second->action = [first, doomed](void*) {
        first->Delete();
        doomed->Delete();
    };
    RegisterClassSignal("classdelete", SgReceiver::classInfo);
    EXPECT_EQ(Send("classdelete"), (Calls{"first", "second", "third", "derived"}));
}

TEST_F(Signals, InstancesCreatedDuringDeliveryWaitForTheNextSignal) {
    SgReceiver* first = Make("first");
    first->action = [this, first](void*) {
        for (int i = 0; i < 32; ++i) { // enough to move the instance list
            Make("new");
        }
        first->action = nullptr;
    };
    Make("second");
    RegisterClassSignal("classcreate", SgReceiver::classInfo);
    EXPECT_EQ(Send("classcreate"), (Calls{"first", "second"}));
}

// Subtree calls --------------------------------------------------------------------------------

TEST_F(Signals, SubtreeCallsGoDepthFirstAndSkipSubtreesThatAreNotEnabled) {
    SgReceiver* root = Make("root");
    Make("a1", Make("a", root));
    SgReceiver* b = Make("b", root);
    Make("b1", b);
    Make("c", root);
    b->SetFlag(NodeEnabled, false);
    EXPECT_EQ(Subtree(root, false), (Calls{"root", "a", "a1", "c"}));
    EXPECT_EQ(Subtree(root, true), (Calls{"root", "a", "a1", "b", "b1", "c"}));
}

TEST_F(Signals, ASubtreeHandlerMayDeleteALaterSiblingOrItsOwnNode) {
    SgReceiver* root = Make("root");
    SgReceiver* a = Make("a", root);
    SgReceiver* b = Make("b", root);
    Make("b1", b);
    SgReceiver* c = Make("c", root);
    Make("c1", c);
    Make("d", root);
    a->action = [b](void*) { b->Delete(); };
    c->action = [c](void*) { c->Delete(); };
    EXPECT_EQ(Subtree(root, false), (Calls{"root", "a", "c", "d"}));
}

TEST(SignalArgs, HoldsSixteenValuesAndDropsTheRestWithOneReport) {
    test::RecordingValidityHook hook;
    int values[18] = {};
    SignalArgs args;
    for (int& value : values) {
        args.Add(&value);
    }
    EXPECT_EQ(args.GetCount(), SignalArgs::Capacity);
    EXPECT_EQ(args.Get(15), &values[15]);
    EXPECT_EQ(args.Get(16), nullptr);
    EXPECT_EQ(hook.Messages().size(), 1u);
    EXPECT_EQ(args.Clear().Add(&values[0]).GetCount(), 1);
}

} // namespace
} // namespace quarn
