#include "core/Signals.h"

#include "core/ClassInfo.h"
#include "core/MethodInfo.h"
#include "core/Node.h"
#include "core/ValueBinding.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <type_traits>
#include <vector>

namespace quarn {
namespace {

using test::TestClass;

// Who received, in order.
std::vector<std::string> calls;

// Records its label and runs its action for every signal it handles.
class SgReceiver : public TestClass<SgReceiver, Node> {
public:
    static constexpr const char* Name = "SgReceiver";
    void OnSignal(void* argument) {
        calls.push_back(label);
        // A copy: the action may delete this node, and with it the member.
        std::function<void(void*)> run = action;
        if (run) {
            run(argument);
        }
    }
    std::string label;
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
// No handler at all.
class SgPlain : public TestClass<SgPlain, Node> {
public:
    static constexpr const char* Name = "SgPlain";
};

// The class table keeps its entries for the whole run, so each class-delivery test has a
// signal name of its own.
const char* const handledSignals[] = {"ping",        "inner",        "Start",     "disabled",
                                      "classorder",  "derivedorder", "classstop", "viabase",
                                      "classdelete", "classcreate",  "subtree"};

void RegisterTestClasses() {
    if (SgReceiver::classInfo) {
        return;
    }
    ClassInfo* receiver = SgReceiver::RegisterClass();
    for (const char* name : handledSignals) {
        receiver->AddMethod(name, "()", BindSignalHandler<&SgReceiver::OnSignal>(), 0);
    }
    SgDerived::RegisterClass();
    SgCousin::RegisterClass();
    SgPlain::RegisterClass();
}

class Signals : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTestClasses();
        calls.clear();
    }
    template <class T = SgReceiver>
    T* Make(const char* label, Node* parent = nullptr) {
        T* node = tree_.Make<T>(label, parent);
        if constexpr (std::is_base_of_v<SgReceiver, T>) {
            node->label = label;
        }
        return node;
    }

    std::vector<std::string> Send(const char* name, bool force = false) {
        calls.clear();
        result_ = SendSignal(name, nullptr, force);
        return calls;
    }

    using Calls = std::vector<std::string>;
    bool result_ = true;

private:
    test::TestTree tree_;
};

// Tables ---------------------------------------------------------------------------------------

TEST_F(Signals, ListenersAreCalledInOrderOfAdditionAndRemovingOneKeepsTheOther) {
    SgReceiver* a = Make("a");
    SgReceiver* b = Make("b");
    AddSignalListener("ping", a);
    AddSignalListener("ping", b);
    EXPECT_EQ(Send("ping"), (Calls{"a", "b"}));
    RemoveSignalListener("ping", a);
    EXPECT_EQ(Send("ping"), (Calls{"b"}));
}

TEST_F(Signals, SignalNamesAreExactWhileTheMethodIsFoundIgnoringCase) {
    SgReceiver* r = Make("r");
    // The method is "Start": both entries find it, but each name hears only itself.
    AddSignalListener("Start", r);
    AddSignalListener("start", r);
    EXPECT_EQ(Send("start"), (Calls{"r"}));
    EXPECT_EQ(Send("Start"), (Calls{"r"}));
    EXPECT_EQ(Send("START"), Calls{});
}

TEST_F(Signals, ADestroyedEntityLeavesNoEntryUnderAnyName) {
    SgReceiver* gone = Make("gone");
    SgReceiver* kept = Make("kept");
    AddSignalListener("ping", gone);
    AddSignalListener("start", gone);
    AddSignalListener("ping", kept);
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

TEST_F(Signals, ASignalNobodyRegisteredReturnsTrue) {
    EXPECT_TRUE(SendSignal("nobody listens", nullptr, false));
}

TEST_F(Signals, NodesThatAreNotFullyEnabledReceiveOnlyWhenForced) {
    RegisterClassSignal("disabled", SgReceiver::classInfo);
    SgPlain* parent = Make<SgPlain>("parent");
    parent->SetFlag(NodeEnabled, false);
    Make("on");
    SgReceiver* off = Make("off");
    off->SetFlag(NodeEnabled, false);
    Make("under", parent);
    AddSignalListener("disabled", off);
    EXPECT_EQ(Send("disabled"), (Calls{"on"}));
    EXPECT_EQ(Send("disabled", true), (Calls{"off", "on", "off", "under"}));
}

TEST_F(Signals, AListenerWithoutAMethodIsSkippedWithoutStopping) {
    AddSignalListener("ping", Make<SgPlain>("plain"));
    AddSignalListener("ping", Make("r"));
    EXPECT_EQ(Send("ping"), (Calls{"r"}));
    EXPECT_TRUE(result_);
}

TEST_F(Signals, ListenersAreServedBeforeClassInstances) {
    Make("instance");
    SgReceiver* listener = Make("listener");
    AddSignalListener("classorder", listener);
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
    SgReceiver* stopper = Make("stopper");
    stopper->action = [](void*) { StopSignal(); };
    Make("instance");
    AddSignalListener("classstop", stopper);
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
    SgReceiver* outer = Make("outer");
    outer->action = [](void*) {
        StopSignal();
        SendSignal("inner", nullptr, false);
    };
    AddSignalListener("ping", outer);
    AddSignalListener("ping", Make("next"));
    AddSignalListener("inner", Make("inner"));
    EXPECT_EQ(Send("ping"), (Calls{"outer", "inner"}));
    EXPECT_FALSE(result_);
}

TEST_F(Signals, AStoppedNestedSendLosesTheOuterStop) {
    SgReceiver* outer = Make("outer");
    bool nested = true;
    outer->action = [&nested](void*) {
        StopSignal();
        nested = SendSignal("inner", nullptr, false);
    };
    SgReceiver* inner = Make("inner");
    inner->action = [](void*) { StopSignal(); };
    AddSignalListener("ping", outer);
    AddSignalListener("ping", Make("next"));
    AddSignalListener("inner", inner);
    EXPECT_EQ(Send("ping"), (Calls{"outer", "inner", "next"}));
    EXPECT_FALSE(nested);
    EXPECT_TRUE(result_);
}

// Receivers that change what is being walked ---------------------------------------------------

TEST_F(Signals, AListenerMayDeleteTheNextListener) {
    SgReceiver* a = Make("a");
    SgReceiver* b = Make("b");
    a->action = [b](void*) { b->Delete(); };
    AddSignalListener("ping", a);
    AddSignalListener("ping", b);
    AddSignalListener("ping", Make("c"));
    EXPECT_EQ(Send("ping"), (Calls{"a", "c"}));
}

TEST_F(Signals, AListenerMayDeleteItself) {
    SgReceiver* a = Make("a");
    a->action = [a](void*) { a->Delete(); };
    AddSignalListener("ping", a);
    AddSignalListener("ping", a);
    AddSignalListener("ping", Make("b"));
    EXPECT_EQ(Send("ping"), (Calls{"a", "b"}));
}

TEST_F(Signals, ListenersAddedDuringDeliveryWaitForTheNextSignal) {
    SgReceiver* a = Make("a");
    SgReceiver* late = Make("late");
    a->action = [a, late](void*) {
        AddSignalListener("ping", late);
        AddSignalListener("ping", a);
        a->action = nullptr;
    };
    AddSignalListener("ping", a);
    AddSignalListener("ping", Make("b"));
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
        // Enough to move the instance list.
        for (int i = 0; i < 32; ++i) {
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
    SgReceiver* a = Make("a", root);
    Make("a1", a);
    SgReceiver* b = Make("b", root);
    Make("b1", b);
    Make("c", root);
    b->SetFlag(NodeEnabled, false);
    CallMethodInSubtree(root, "subtree", nullptr, false);
    EXPECT_EQ(calls, (Calls{"root", "a", "a1", "c"}));
    calls.clear();
    CallMethodInSubtree(root, "subtree", nullptr, true);
    EXPECT_EQ(calls, (Calls{"root", "a", "a1", "b", "b1", "c"}));
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
    CallMethodInSubtree(root, "subtree", nullptr, false);
    EXPECT_EQ(calls, (Calls{"root", "a", "c", "d"}));
}

// Argument lists -------------------------------------------------------------------------------

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
