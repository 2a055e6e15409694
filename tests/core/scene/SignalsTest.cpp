#include "core/object/Signals.h"

#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/scene/NodeSignals.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>
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
const char* const handledSignals[] = {"ping",     "inner",       "Start",
                                      "disabled", "classorder",  "classstop",
                                      "viabase",  "classdelete", "subtree"};

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

    // The class table keeps its entries for the whole run: a test run again (--gtest_repeat)
    // must not enter its name a second time.
    static void RegisterOnce(const char* name, ClassInfo* classInfo) {
        static std::set<std::string> registered;
        if (registered.insert(name).second) {
            RegisterClassSignal(name, classInfo);
        }
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
    test::TestTree tree_;
};

TEST_F(Signals, ListenersHearTheirExactNameInOrderOfAdditionUntilRemovedOrDestroyed) {
    EXPECT_TRUE(SendSignal("nobody listens", nullptr, false));
    SgReceiver* a = Listener("a");
    AddSignalListener("ping", Make<SgPlain>("plain")); // without a handler: skipped
    Listener("b");
    EXPECT_EQ(Send("ping"), (Calls{"a", "b"}));
    EXPECT_TRUE(result_);
    RemoveSignalListener("ping", a);
    EXPECT_EQ(Send("ping"), (Calls{"b"}));

    // The method is "Start": both entries find it, but each name hears only itself.
    SgReceiver* r = Listener("r", "Start");
    AddSignalListener("start", r);
    EXPECT_EQ(Send("start"), (Calls{"r"}));
    EXPECT_EQ(Send("START"), Calls{});
    AddSignalListener("ping", r);
    r->Delete();
    EXPECT_EQ(GetSignalListenerCount("ping"), 2);
    EXPECT_EQ(GetSignalListenerCount("start"), 0);
    EXPECT_EQ(Send("ping"), (Calls{"b"}));
}

TEST_F(Signals, ListenersComeFirstThenClassInstancesOwnBeforeDerivedInRegistrationOrder) {
    Make<SgCousin>("cousin");
    Make<SgDerived>("derived");
    Make("first");
    Make("second");
    Make<SgPlain>("plain");
    Listener("listener", "classorder");
    RegisterOnce("classorder", SgReceiver::classInfo);
    EXPECT_EQ(Send("classorder"),
              (Calls{"listener", "first", "second", "listener", "derived", "cousin"}));
    // Registered through a derived class's inherited method: the base and every derived class.
    RegisterOnce("viabase", SgDerived::classInfo);
    EXPECT_EQ(Send("viabase"), (Calls{"first", "second", "listener", "derived", "cousin"}));
}

TEST_F(Signals, NodesThatAreNotFullyEnabledReceiveOnlyWhenForced) {
    RegisterOnce("disabled", SgReceiver::classInfo);
    SgPlain* parent = Make<SgPlain>("parent");
    parent->SetFlag(NodeEnabled, false);
    Make("on");
    Listener("off", "disabled")->SetFlag(NodeEnabled, false);
    Make("under", parent);
    EXPECT_EQ(Send("disabled"), (Calls{"on"}));
    EXPECT_EQ(Send("disabled", true), (Calls{"off", "on", "off", "under"}));
}

TEST_F(Signals, AStopEndsTheDeliveryAndOnlyANestedSendSeesItOrLosesIt) {
    RegisterOnce("classstop", SgReceiver::classInfo);
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

    // A stop before a nested send is seen after it returns; a stopped nested send loses it.
    for (bool innerStops : {false, true}) {
        bool nested = true;
        SgReceiver* outer = Listener("outer");
        outer->action = [&nested](void*) {
            StopSignal();
            nested = SendSignal("inner", nullptr, false);
        };
        SgReceiver* next = Listener("next");
        SgReceiver* inner = Listener("inner", "inner");
        if (innerStops) {
            inner->action = [](void*) { StopSignal(); };
        }
        const Calls expected =
            innerStops ? Calls{"outer", "inner", "next"} : Calls{"outer", "inner"};
        EXPECT_EQ(Send("ping"), expected) << innerStops;
        EXPECT_EQ(nested, !innerStops);
        EXPECT_EQ(result_, innerStops);
        for (Node* node : {outer, next, inner}) {
            node->Delete();
        }
    }
}

// Receivers that change what is being walked ---------------------------------------------------

TEST_F(Signals, ListenersMayDeleteThemselvesOrTheNextAndThoseAddedWaitForTheNextSignal) {
    SgReceiver* a = Listener("a");
    AddSignalListener("ping", a);
    SgReceiver* b = Listener("b");
    Listener("c");
    a->action = [a, b](void*) {
        b->Delete();
        a->Delete();
    };
    EXPECT_EQ(Send("ping"), (Calls{"a", "c"}));

    SgReceiver* d = Listener("d");
    SgReceiver* late = Make("late");
    d->action = [d, late](void*) {
        AddSignalListener("ping", late);
        AddSignalListener("ping", d);
        d->action = nullptr;
    };
    EXPECT_EQ(Send("ping"), (Calls{"c", "d"}));
    EXPECT_EQ(Send("ping"), (Calls{"c", "d", "late", "d"}));
}

TEST_F(Signals, InstancesMayDeleteOthersOfTheClassAndThoseCreatedWaitForTheNextSignal) {
    SgReceiver* first = Make("first");
    SgReceiver* second = Make("second");
    Make("third");
    SgDerived* doomed = Make<SgDerived>("doomed");
    Make<SgDerived>("derived");
    // One already called, one still to come: neither may shift the walk. Then enough new ones to
    // move the instance list.
    second->action = [this, first, second, doomed](void*) {
        first->Delete();
        doomed->Delete();
        for (int i = 0; i < 32; ++i) {
            Make("new");
        }
        second->action = nullptr;
    };
    RegisterOnce("classdelete", SgReceiver::classInfo);
    EXPECT_EQ(Send("classdelete"), (Calls{"first", "second", "third", "derived"}));
}

TEST_F(Signals, SubtreeCallsGoDepthFirstSkipDisabledSubtreesAndSurviveDeletions) {
    auto n = tree_.Build<SgReceiver>("root(a(a1) b(b1) c(c1) d)");
    n["b"]->SetFlag(NodeEnabled, false);
    EXPECT_EQ(Subtree(n["root"], false), (Calls{"root", "a", "a1", "c", "c1", "d"}));
    EXPECT_EQ(Subtree(n["root"], true), (Calls{"root", "a", "a1", "b", "b1", "c", "c1", "d"}));
    // A handler may delete a later sibling or its own node.
    n["a"]->action = [&n](void*) { n["b"]->Delete(); };
    n["c"]->action = [&n](void*) { n["c"]->Delete(); };
    EXPECT_EQ(Subtree(n["root"], true), (Calls{"root", "a", "a1", "c", "d"}));
}

TEST(SignalArgs, HoldsSixteenValuesAndDropsTheRestWithOneReport) {
    // The report comes once in a process.
    test::ExpectInFreshProcess([] {
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
    });
}

} // namespace
} // namespace quarn
