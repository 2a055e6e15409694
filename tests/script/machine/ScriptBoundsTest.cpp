// What a game's scripts may take, whatever they are written to do: how deep their calls nest,
// how many steps a run and the runs nested in it spend, the engine's work they ask for and the
// memory the game holds; each hostile program ends with its error, on both of the machine's
// paths.
#include "TestPaths.h"
#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FolderSpace.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/IdMap.h"
#include "core/os/EngineWork.h"
#include "core/os/FrameWaits.h"
#include "core/os/HeldMemory.h"
#include "core/scene/ContainerBox.h"
#include "core/scene/Pivot.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/TextArena.h"
#include "physics/Module.h"
#include "render/LineDrawer.h"
#include "resources/RawData.h"
#include "resources/Resource.h"
#include "script/machine/ScriptContext.h"
#include "script/nodes/GridData.h"
#include "script/nodes/Network.h"
#include "script/nodes/VarData.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

const std::string LoopError = "Infinite loop detected (100million'th instruction reached)";
const std::string NestingError =
    "Calls between scripts nest deeper than " + std::to_string(MaxScriptNesting);

// A server on 127.0.0.1 that answers every request, one after another, `delay` after it came;
// or, trickling, begins a page of a megabyte at once and sends it a byte every `delay`, until
// the client goes.
class SlowHttpServer {
public:
    explicit SlowHttpServer(std::chrono::milliseconds delay, bool trickle = false)
        : delay_(delay), trickle_(trickle) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SlowHttpServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    uint16_t Port() const { return port_; }
    // Requests taken, each counted as it comes.
    int Served() const { return served_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd entry{listener_, POLLIN, 0};
            if (poll(&entry, 1, 20) != 1) {
                continue;
            }
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            ++served_;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd readable{connection, POLLIN, 0};
                const ssize_t count =
                    poll(&readable, 1, 1000) == 1 ? recv(connection, buffer, sizeof buffer, 0) : 0;
                if (count <= 0) {
                    break;
                }
                request.append(buffer, size_t(count));
            }
            if (trickle_) {
                Trickle(connection);
            } else {
                std::this_thread::sleep_for(delay_);
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
                send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            close(connection);
        }
    }

    void Trickle(int connection) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n";
        bool sent = send(connection, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        while (sent && !stop_) {
            std::this_thread::sleep_for(delay_);
            sent = send(connection, "x", 1, MSG_NOSIGNAL) == 1;
        }
    }

    std::chrono::milliseconds delay_;
    bool trickle_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
    std::thread thread_;
};

// The frame's waits bounded for the scope.
class ScopedFrameWaitBound {
public:
    explicit ScopedFrameWaitBound(std::chrono::milliseconds bound) { SetFrameWaitBound(bound); }
    ~ScopedFrameWaitBound() { SetFrameWaitBound({}); }
    ScopedFrameWaitBound(const ScopedFrameWaitBound&) = delete;
    ScopedFrameWaitBound& operator=(const ScopedFrameWaitBound&) = delete;
};

// A node a script makes to hold its texts.
class Holder : public test::TestClass<Holder, Node> {
public:
    static constexpr const char* Name = "ScriptTestHolder";
    static void Declare(ClassInfo&) {}
};

class ScriptBounds : public test::ScriptLibraryRunTest {
protected:
    void SetUp() override {
        ScriptLibraryRunTest::SetUp();
        Holder::RegisterClass();
        GridData::RegisterClass();
    }
    void TearDown() override {
        DeleteInstances(Holder::classInfo);
        SetMemoryBudget(0);
        ScriptLibraryRunTest::TearDown();
    }
    // The program text that loads self.scene below the running script.
    static std::string LoadSelf() {
        return "text \"self.scene\"\nself\npush 0\n" + Func(71) + "\ndrop 1\n";
    }
    // self.scene, one Script node whose program runs `update` each frame, loaded below a new
    // enabled root.
    Node* LoadSelfLoadingScene(const std::string& update) {
        MakeScript("stack 16\nfunction \"update\" (float) at=@update\nupdate:\n" + update +
                       "return 1 0\n",
                   "selfload")
            ->Delete();
        temp_.WriteFile("self.scene", "version = 44\nnum_nodes = 1\nobj1 {\n\tclass = \"Script\"\n"
                                      "\tflags = 1\n\tscriptfile = \"selfload.script\"\n}\n");
        auto* root = Make<Node>();
        root->SetFlag(NodeEnabled, true);
        EXPECT_NE(LoadSceneFile("self.scene", -1, 1, root, nullptr, nullptr), nullptr);
        return root;
    }
    static std::string MethodOf(ClassInfo* owner, size_t index) {
        return std::string(owner->GetName()) + "." + owner->GetOwnMethods()[index]->GetName();
    }
    // The number `method` takes for the program's function NAME.
    static int32_t MethodNumber(const Script* script, const char* name) {
        const ClassInfo* own = script->GetClass();
        for (int i = 0; i < own->GetMethodCount(); ++i) {
            if (std::string(own->GetMethod(i)->GetName()) == name) {
                return i;
            }
        }
        ADD_FAILURE() << name;
        return -1;
    }
    int ErrorReports() const {
        int count = 0;
        for (const auto& dialog : dialogs_.Dialogs()) {
            count += dialog.title == "Script Error!";
        }
        return count;
    }
    // A text of 2^doublings bytes, made by the script into its variable 1.
    static std::string MakeText(int doublings) {
        return "push 1\ntext \"a\"\nstore 1\npush 2\npush 0\nstore 1\ngrow:\npush 1\npush 1\n"
               "load 1\npush 1\nload 1\nop string \"+(string):string\"\nstore 1\npush 2\npush 2\n"
               "load 1\npush 1\nop int \"+(int):int\"\nstore 1\npush 2\nload 1\npush " +
               std::to_string(doublings) + "\nop int \"<(int):bool\"\njumpif grow\n";
    }
};

// Each program's f calls f again through one of the ways a script reaches a script, as deep as
// it is let; the calls nest on the native stack, and without a bound they ran past its end. The
// deepest call is refused with the error, which ends every run of the chain: one report.
TEST_F(ScriptBounds, CallsNestNoDeeperThanTheBoundOnEveryPath) {
    Script* probe =
        MakeScript("stack 16\nfunction \"f\" () at=@f export\nf:\nreturn 0 0\n", "probe");
    const int32_t selfMethod = MethodNumber(probe, "f");
    probe->Delete();
    const std::string named = MethodOf(Script::RegisterClass(), 4); // CallFunction(string)
    const struct {
        const char* name;
        std::string call;
    } cases[] = {
        {"method", "self\nmethod " + std::to_string(selfMethod) + " 0\n"},
        {"CallMethod", "self\ntext \"f\"\n" + Func(77) + "\n"},
        {"CallMethodInTree", "self\ntext \"f\"\n" + Func(78) + "\n"},
        {"named function", "self\ntext \"f\"\nmethod method:" + named + " 1\n"},
        {"external call", "self\nextcall @f 0 0 hash:NAME\n"},
        // Its listener runs the function again.
        {"property", "self\npush 5\npush 0\nload 1\nsetprop 1\n"},
    };
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        for (const auto& [name, call] : cases) {
            const std::string program =
                std::string(translated ? "fast" : "plain") + std::to_string(&name - &cases[0].name);
            std::string source =
                "var \"depth\" int kind=2\nstack 16384\nfunction \"f\" () at=@f export\n"
                "function \"property_changed\" () at=@f\nf:\npush 0\npush 0\nload 1\npush 1\n"
                "op int \"+(int):int\"\nstore 1\n" +
                call + "return 0 0\n";
            Replace(source, "NAME", program);
            Script* script = MakeScript(source, program);
            const int reports = ErrorReports();
            EXPECT_FALSE(Call(script, {}, "f")) << name;
            EXPECT_EQ(LastError(), NestingError) << name << " " << translated;
            EXPECT_EQ(ErrorReports(), reports + 1) << name;
            EXPECT_GE(script->GetVariables()[0], MaxScriptNesting - 1) << name;
            EXPECT_LE(script->GetVariables()[0], MaxScriptNesting) << name;
            EXPECT_EQ(script->GetRunState(), ScriptErrorPending) << name;
            script->Delete();
        }
    }
}

// A chain of nodes, each calling the next one's f: the node at the bound is not called, and
// every node of the chain ends with the report of the one that called it.
TEST_F(ScriptBounds, AChainOfScriptsCallingTheNextStopsAtTheBound) {
    Script* probe = MakeScript("var \"next\" Script kind=2\nstack 16\n"
                               "function \"f\" () at=@f export\nf:\nreturn 0 0\n",
                               "linkprobe");
    const int32_t f = MethodNumber(probe, "f");
    probe->Delete();
    const std::string source = "var \"next\" Script kind=2\nvar \"called\" int kind=2\nstack 64\n"
                               "function \"f\" () at=@f export\nf:\npush 1\npush 1\nstore 1\n"
                               "push 0\nload 1\njumpifnot end\npush 0\nload 1\nmethod " +
                               std::to_string(f) + " 0\nend:\nreturn 0 0\n";
    std::vector<Script*> chain{MakeScript(source, "link")};
    while (chain.size() < MaxScriptNesting + 100) {
        chain.push_back(Make<Script>());
        chain.back()->SetScriptFile("link.script");
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i]->GetVariables()[0] = chain[i + 1]->GetId();
    }
    EXPECT_FALSE(Call(chain[0], {}, "f"));
    EXPECT_EQ(LastError(), NestingError);
    EXPECT_EQ(ErrorReports(), 1);
    for (size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i]->GetVariables()[1], i < MaxScriptNesting ? 1u : 0u) << i;
    }
}

// A port function that sends itself an event is a cascade like any other: past 64 events
// inside one another the rest is dropped, with the validity report, and nothing else breaks.
TEST_F(ScriptBounds, AnEventSentToItselfFromItsPortStopsAtTheEventsBound) {
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        Script* script = MakeScript(
            "var \"depth\" int kind=2\nstack 16384\nfunction \"in\" (Node, Node, float) at=@in "
            "port\nfunction \"go\" () at=@go\ngo:\nself\npush 1.0\n" +
                Func(73) +
                "\nreturn 0 0\nin:\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\n"
                "store 1\nself\npush 1.0\n" +
                Func(73) + "\nreturn 3 0\n",
            translated ? "fastport" : "plainport");
        dialogs_.Answer(3); // the validity report's "Ignore"
        EXPECT_TRUE(Call(script, {}, "go")) << LastError();
        EXPECT_EQ(script->GetVariables()[0], 64u);
        ASSERT_FALSE(dialogs_.Dialogs().empty());
        EXPECT_NE(dialogs_.Dialogs().back().text.find("nest deeper than 64"), std::string::npos)
            << dialogs_.Dialogs().back().text;
        script->Delete();
    }
}

// One budget of steps for a run and the runs nested in it: a loop that calls a method doing
// most of the budget ends in the second call, where it alone would go on for its 50 rounds.
// When the method is another node's, that node reports it and the caller ends with it.
TEST_F(ScriptBounds, RunsNestedInARunShareItsStepBudget) {
    constexpr uint32_t Limit = 1000000;
    const std::string spin = "spin:\npush 0\nspinloop:\npush 0\npush 0\nloadlocal 1\npush 1\n"
                             "op int \"+(int):int\"\nstorelocal 1\npush 0\nloadlocal 1\n"
                             "push 80000\nop int \"<(int):bool\"\njumpif spinloop\nreturn 1 0\n";
    const std::string loop = "loop:\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\n"
                             "store 1\npush 1\nload 1\ntext \"spin\"\n" +
                             Func(77) +
                             "\npush 0\nload 1\npush 50\nop int \"<(int):bool\"\njumpif loop\n"
                             "return 0 0\n";
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        ScriptStepLimit = Limit;
        const std::string suffix = translated ? "fast" : "plain";
        Script* spinner = MakeScript("stack 16\nfunction \"spin\" () at=@spin export\n" + spin,
                                     "spinner" + suffix);
        Script* self = nullptr;
        for (const bool other : {false, true}) {
            Script* caller =
                MakeScript("var \"rounds\" int kind=2\nvar \"target\" Script kind=2\nstack 16\n"
                           "function \"loop\" () at=@loop\nfunction \"spin\" () at=@spin export\n" +
                               loop + spin,
                           (other ? "caller" : "self") + suffix);
            caller->GetVariables()[1] = other ? spinner->GetId() : caller->GetId();
            const int reports = ErrorReports();
            EXPECT_FALSE(Call(caller, {}, "loop")) << other;
            EXPECT_EQ(LastError(), LoopError);
            EXPECT_EQ(ErrorReports(), reports + 1) << other;
            EXPECT_EQ(caller->GetVariables()[0], 2u) << other << " " << translated;
            EXPECT_EQ(caller->GetRunState(), ScriptErrorPending);
            if (!other) {
                self = caller;
            }
        }
        EXPECT_EQ(spinner->GetRunState(), ScriptErrorPending);
        // The next run has a budget of its own.
        self->ResetExecution();
        self->SetRunState(ScriptReady);
        EXPECT_TRUE(Call(self, {}, "spin")) << LastError();
    }
}

// Engine work a script asks for is charged by the work done: each loop does one such call a
// round, counted, until the limit of 200,000 ends it. Uncharged, every case ran its 1,000 rounds.
TEST_F(ScriptBounds, EngineWorkIsChargedByTheWorkDone) {
    constexpr uint32_t Limit = 200000;
    constexpr uint32_t Children = 999;
    auto* root = Make<Node>();
    for (uint32_t i = 0; i < Children; ++i) {
        Make<Node>()->SetParent(root);
    }
    const std::string rootId = std::to_string(root->GetId());
    std::filesystem::copy_file(QUARN_TEST_DATA "/archives/sample.zip", temp_.Join("game.zip"));
    {
        // The archive is read in once, held to the game as a script's call is, before either
        // path's count.
        const GameReachHold held(true);
        EXPECT_NE(GetFileSystem()->Open("game.zip/config.txt", 0), nullptr);
    }
    temp_.WriteFile("small.txt", std::string(1000, 'x'));
    auto* grid = Make<GridData>();
    const std::string gridId = std::to_string(grid->GetId());
    ASSERT_TRUE(SaveSceneFile("tree.scene", *root, 0, 3));
    const uint64_t sceneBytes = std::filesystem::file_size(temp_.Join("tree.scene"));
    const std::string loadsUnder = std::to_string(Make<Node>()->GetId());
    ClassInfo* nodes = Node::RegisterClass();
    // A chain of last children, its deepest climbed back up to the top.
    Node* deepest = Make<Node>();
    for (uint32_t i = 0; i < Children; ++i) {
        Node* below = Make<Node>();
        below->SetParent(deepest);
        deepest = below;
    }
    const std::string deepestId = std::to_string(deepest->GetId());
    // Keys a reload reads whole again each call, some 100 KB.
    std::string keys;
    for (int i = 0; keys.size() < 100000; ++i) {
        keys += "key" + std::to_string(i) + " = value\n";
    }
    temp_.WriteFile("keys.txt", keys);
    auto* vars = Make<VarData>();
    vars->SetDataPath("keys.txt");
    ASSERT_NE(vars->GetData(), nullptr);
    const std::string varsId = std::to_string(vars->GetId());
    const std::string rawId = std::to_string(vars->GetData()->GetId());
    const struct {
        const char* name;
        std::string body;
        // What a round is charged beyond its commands: at least, and for the cases marked
        // exact no more.
        uint64_t charged;
        bool exact = true;
    } cases[] = {
        {"CallMethodInTree", "push " + rootId + "\ntext \"none\"\n" + Func(78) + "\n",
         (Children + 1) * StepsPerNodeVisited},
        {"ForEachOfClass",
         "push " + rootId + "\ntext \"Node\"\npush " + rootId + "\ntext \"none\"\n" + Func(85) +
             "\n",
         (Children + 1) * StepsPerNodeVisited},
        {"FindByName",
         "push " + rootId + "\ntext \"none\"\nmethod method:" + MethodOf(nodes, 3) + " 1\ndrop 1\n",
         (Children + 1) * StepsPerNodeVisited},
        {"GetChild",
         "push " + rootId + "\npush 998\nmethod method:" + MethodOf(nodes, 19) + " 1\ndrop 1\n",
         (Children - 1) * StepsPerNodeVisited},
        // The member inflated, and the three looks at the disk that tell whether the archive
        // lies inside the game.
        {"OpenRead of a packed member",
         "text \"game.zip/config.txt\"\npush 0\n" + Func(97) + "\n" + Func(98) + "\n",
         660 + 3 * StepsPerPathResolved},
        {"CopyFile", "text \"small.txt\"\ntext \"copy.txt\"\n" + Func(92) + "\n",
         StepsPerFileWritten + 1000, false},
        {"SaveScene",
         "text \"saved.scene\"\npush " + rootId + "\npush 0\npush 0\n" + Func(72) + "\n",
         StepsPerFileWritten + 20 * Children, false},
        {"LoadScene",
         "text \"tree.scene\"\npush " + loadsUnder + "\npush 0\n" + Func(71) + "\ndrop 1\n",
         sceneBytes + (Children + 1) * StepsPerNodeVisited, false},
        {"GridData.SetCapacity",
         "push " + gridId + "\npush 2000\nmethod method:" + MethodOf(GridData::classInfo, 6) +
             " 1\n",
         2000 * 2 * 4 / BytesScannedPerStep},
        {"GetNextInTree up a chain",
         "push " + deepestId + "\npush 0\nmethod method:" + MethodOf(nodes, 12) + " 1\ndrop 1\n",
         (Children + 1) * StepsPerNodeVisited},
        {"ResourceRef.Reload",
         "push " + rawId + "\nmethod method:" + MethodOf(Resource::RegisterClass(), 0) + " 0\n",
         keys.size(), false},
        {"VarData.Reload",
         "push " + varsId + "\nmethod method:" + MethodOf(VarData::RegisterClass(), 8) + " 0\n",
         keys.size(), false},
    };
    constexpr uint32_t MostCommandsARound = 32;
    for (const auto& [name, body, charged, exact] : cases) {
        uint32_t rounds[2] = {};
        for (const bool translated : {false, true}) {
            ScriptTranslatedRuns = translated;
            ScriptStepLimit = Limit;
            Script* script = MakeScript(
                "var \"rounds\" int\nstack 16\nloop:\n" + body +
                    "push 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\npush 0\n"
                    "load 1\npush 1000\nop int \"<(int):bool\"\njumpif loop\nend\n",
                translated ? "fast" : "plain");
            EXPECT_FALSE(Call(script)) << name;
            EXPECT_EQ(LastError(), LoopError) << name << " " << translated;
            rounds[translated] = script->GetVariables()[0];
            script->Delete();
        }
        EXPECT_EQ(rounds[0], rounds[1]) << name;
        EXPECT_LE(uint64_t(rounds[1]) * charged, Limit) << name;
        if (exact) {
            EXPECT_GT(uint64_t(rounds[1] + 1) * (charged + MostCommandsARound), Limit) << name;
        }
    }
}

// Calls whose work lies on the disk or among the scene's listeners, looped: each is charged by
// its work (the entries of a folder read, a path looked at, a file or folder made, a listener
// called), so every loop ends with the loop error. Uncharged, a look-up of a name not there read
// its whole folder for a case-free match and cost one command: every loop ran all its rounds.
TEST_F(ScriptBounds, LoopsOfCallsOnTheDiskOrTheListenersEndWithTheLoopError) {
    constexpr uint32_t Limit = 500000;
    constexpr uint32_t Files = 1000;
    constexpr uint32_t Scripts = 300;
    std::filesystem::create_directory(temp_.Join("big"));
    for (uint32_t i = 0; i < Files; ++i) {
        temp_.WriteFile("big/f" + std::to_string(i) + ".txt", "");
    }
    test::TempFolder user;
    files_.SetUserFolder((user.Path() + "/").c_str());
    // A scene of 20 scripts whose programs are not there: each is looked for without case, the
    // first load's charge alone past the limit (the next ones find them missing already).
    std::string missing = "version = 44\nnum_nodes = 20\n";
    for (int i = 1; i <= 20; ++i) {
        missing += "obj" + std::to_string(i) +
                   " {\n\tclass = \"Script\"\n\tscriptfile = \"big/gone" + std::to_string(i) +
                   ".script\"\n}\n";
    }
    temp_.WriteFile("big/missing.scene", missing);
    for (uint32_t i = 0; i < Scripts; ++i) {
        Make<Script>();
    }
    const std::string loadsUnder = std::to_string(Make<Node>()->GetId());
    // The round's number appended to a text.
    const auto numbered = [](const char* text) {
        return "text \"" + std::string(text) + "\"\npush 0\nload 1\n" + Func(29) +
               "\nop string \"+(string):string\"\n";
    };
    const uint64_t folderRead = Files * StepsPerEntryRead;
    const struct {
        const char* name;
        std::string body;
        uint64_t least; // charged a round at least
    } cases[] = {
        {"PathExists of a name not there", "text \"big/none.txt\"\n" + Func(89) + "\ndrop 1\n",
         folderRead},
        {"PathExists of a file there", "text \"big/f7.txt\"\n" + Func(89) + "\ndrop 1\n",
         StepsPerPathResolved},
        {"OpenRead of a name not there",
         "text \"big/none.txt\"\npush 0\n" + Func(97) + "\n" + Func(98) + "\n", folderRead},
        {"RemoveFile of a name not there", "text \"big/none.txt\"\n" + Func(90) + "\n", folderRead},
        {"CreateFile of new names", numbered("user://e") + Func(91) + "\n", StepsPerFileMade},
        {"MakeFolder of new names", numbered("user://d") + Func(93) + "\n", StepsPerFileMade},
        {"ListCurrent",
         "text \"" + temp_.Join("big") + "\"\n" + Func(94) + "\ndrop 1\npush 0\n" + Func(95) +
             "\ndrop 1\n",
         folderRead},
        {"Delete of a node every script hears of",
         "text \"Node\"\n" + Func(68) + "\n" + Func(82) + "\n", Scripts * StepsPerNodeVisited},
        {"LoadScene naming scripts not there",
         "text \"big/missing.scene\"\npush " + loadsUnder + "\npush 0\n" + Func(71) + "\ndrop 1\n",
         20 * folderRead},
    };
    for (const auto& [name, body, least] : cases) {
        ScriptStepLimit = Limit;
        Script* script = MakeScript("var \"rounds\" int\nstack 16\nloop:\n" + body +
                                        "push 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\n"
                                        "store 1\npush 0\nload 1\npush 4000\n"
                                        "op int \"<(int):bool\"\njumpif loop\nend\n",
                                    "loops");
        EXPECT_FALSE(Call(script)) << name;
        EXPECT_EQ(LastError(), LoopError) << name;
        EXPECT_LE(uint64_t(script->GetVariables()[0]) * least, Limit) << name;
        script->Delete();
    }
}

// ReloadResource of a file changed since it was read reads and decodes it whole: one call on a
// file past the step limit's bytes ends with the loop error. Charged as its look-up alone, it
// was a few hundred commands whatever the file's size.
TEST_F(ScriptBounds, ReloadResourceOfAChangedFileIsChargedByItsBytes) {
    constexpr uint32_t Limit = 50000;
    temp_.WriteFile("changed.txt", std::string(2 * Limit, 'x'));
    RawData* data = GetRawData("changed.txt", "");
    ASSERT_NE(data, nullptr);
    std::filesystem::last_write_time(temp_.Join("changed.txt"),
                                     std::filesystem::last_write_time(temp_.Join("changed.txt")) -
                                         std::chrono::hours(1));
    ScriptStepLimit = Limit;
    Script* script =
        MakeScript("stack 16\ntext \"changed.txt\"\n" + Func(163) + "\nend\n", "reloads");
    EXPECT_FALSE(Call(script));
    EXPECT_EQ(LastError(), LoopError);
    script->Delete();
    data->Release();
}

uint64_t chargedSteps = 0;
void CountCharge(uint64_t steps) {
    chargedSteps += steps;
}

// Script methods that walk the scene below a node (or a module's graph) are charged for each
// node they pass, as the engine's own searches are: uncharged, a loop of them over a large
// subtree cost a command a call.
TEST_F(ScriptBounds, MethodsWalkingASubtreeAreChargedByTheNodesTheyPass) {
    constexpr uint64_t Children = 1000;
    const auto holding = [this](auto* parent) {
        for (uint64_t i = 0; i < Children; ++i) {
            Make<Node>()->SetParent(parent);
        }
        return parent;
    };
    auto* pivot = holding(Make<Pivot>());
    auto* box = holding(Make<ContainerBox>());
    auto* drawer = Make<LineDrawer>();
    drawer->SetParent(holding(Make<Node>()));
    auto* module = holding(Make<Module>());
    auto* apart = Make<Module>();
    const struct {
        const char* name;
        std::function<void()> call;
    } cases[] = {
        {"Pivot.CenterOnChildren", [&] { pivot->CenterOnChildren(); }},
        {"ContainerBox.RefreshExtents", [&] { box->UpdateExtents(); }},
        {"LineDrawer.CollectMockupBoxLines", [&] { drawer->CollectMockupBoxLines(); }},
        {"Module.CountAttachedAnchors", [&] { Module::CountAttachedAnchors(module); }},
        {"Module.FindConnectingAnchor", [&] { Module::FindConnectingAnchor(module, apart); }},
        {"Module.SnapToModule", [&] { Module::SnapToModule(module); }},
    };
    for (const auto& [name, call] : cases) {
        chargedSteps = 0;
        SetEngineWorkHook(&CountCharge);
        call();
        SetEngineWorkHook(nullptr);
        EXPECT_GE(chargedSteps, Children * StepsPerNodeVisited) << name;
    }
}

// An empty file or folder in the game's own folder takes a block of the disk and an entry of
// its table of files, and counts 4 KiB towards the cap, those there before the run included: a
// loop making them is refused at the cap with its runtime error, and a removed one gives its
// room back. Counted as nothing, a loop of empty files filled the disk's table unchecked.
TEST_F(ScriptBounds, AnEmptyFileOrFolderInTheUserFolderCountsABlock) {
    SetUserFolderCap(64 * 1024);
    const struct {
        const char* function;
        int index;
    } cases[] = {{"CreateFile", 91}, {"MakeFolder", 93}};
    for (const auto& c : cases) {
        test::TempFolder user;
        for (const char* name : {"a", "b", "c", "d"}) {
            user.WriteFile(name, "");
        }
        files_.SetUserFolder((user.Path() + "/").c_str());
        Script* script =
            MakeScript("var \"made\" int\nstack 16\nloop:\ntext \"user://n\"\npush 0\n"
                       "load 1\n" +
                           Func(29) + "\nop string \"+(string):string\"\n" + Func(c.index) +
                           "\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\n"
                           "store 1\npush 0\nload 1\npush 100\n"
                           "op int \"<(int):bool\"\njumpif loop\nend\n",
                       c.function);
        EXPECT_FALSE(Call(script)) << c.function;
        EXPECT_EQ(LastError(), "user:// may hold at most 1 MiB") << c.function;
        // 4 there and 12 made fill the 64 KiB; the 13th is refused.
        EXPECT_EQ(script->GetVariables()[0], 12u) << c.function;
        EXPECT_FALSE(std::filesystem::exists(user.Join("n12"))) << c.function;
        std::remove(user.Join("a").c_str());
        ASSERT_TRUE(GetFileSystem()->RemoveFile("user://b"));
        Script* again =
            MakeScript("stack 16\ntext \"user://n12\"\n" + Func(c.index) + "\nend\n", "again");
        EXPECT_TRUE(Call(again)) << LastError();
        again->Delete();
        EXPECT_TRUE(std::filesystem::exists(user.Join("n12"))) << c.function;
        script->Delete();
    }
    SetUserFolderCap(0);
}

// Nodes a script makes and names, frame after frame, hold their texts: once the game holds more
// than its memory budget, the write that took it past is the error naming the budget, and the
// game holds no more than the budget and that one text.
TEST_F(ScriptBounds, MemoryHeldAcrossFramesStopsAtTheBudget) {
    constexpr size_t Text = size_t(1) << 20;
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        Script* script = MakeScript(
            "var \"frames\" int kind=2\nvar \"t\" string\nvar \"i\" int\nstack 16\n"
            "function \"update\" (float) at=@update\nupdate:\npush 0\npush 0\nload 1\npush 1\n"
            "op int \"+(int):int\"\nstore 1\n" +
                MakeText(20) + "text \"ScriptTestHolder\"\n" + Func(68) +
                "\npush prop:Node.name\npush 1\nload 1\nsetprop 1\n"
                "text \"ScriptTestHolder\"\n" +
                Func(68) + "\npush prop:Node.name\npush 1\nload 1\nsetprop 1\nreturn 1 0\n",
            translated ? "fastframes" : "plainframes");
        // From what is held after a first frame: loading and a first run may free scratch
        // memory that earlier work left.
        script->Update(0.01f, UpdateRunning);
        const size_t budget = GetHeldMemory() + 24 * Text;
        SetMemoryBudget(budget);
        for (int frame = 1; frame < 100 && script->GetRunState() != ScriptErrorPending; ++frame) {
            script->Update(0.01f, UpdateRunning);
            EXPECT_LE(GetHeldMemory(), budget + 2 * Text) << frame;
        }
        EXPECT_EQ(script->GetRunState(), ScriptErrorPending);
        EXPECT_NE(LastError().find("ScriptTestHolder.name: the game holds "), std::string::npos)
            << LastError();
        EXPECT_NE(LastError().find(", more than its memory budget of "), std::string::npos);
        EXPECT_GE(script->GetVariables()[0], 12u);
        EXPECT_LE(script->GetVariables()[0], 14u);
        script->Delete();
        DeleteInstances(Holder::classInfo);
    }
}

// Past the budget, the error names the engine function that took the game there by the name
// scripts know it by, not by the one it is registered under.
TEST_F(ScriptBounds, TheBudgetsErrorNamesTheEngineFunctionByItsName) {
    Holder* held = Make<Holder>();
    held->SetName(std::string(size_t(8) << 20, 'h').c_str());
    Script* script = MakeScript(
        Fill("stack 16\npush $0\n" + Func(69) + "\ndrop 1\nend\n", {held->GetId()}), "copier");
    SetMemoryBudget(GetHeldMemory() + (size_t(1) << 20));
    EXPECT_FALSE(Call(script));
    EXPECT_EQ(LastError().rfind("function Copy: the game holds ", 0), 0u) << LastError();
}

// A grid's tables are taken only when the budget holds them: past it the call is refused before
// anything is allocated, and the grid keeps what it had.
TEST_F(ScriptBounds, AGridLargerThanTheBudgetIsRefusedBeforeItIsMade) {
    auto* grid = Make<GridData>();
    const std::string gridId = std::to_string(grid->GetId());
    const std::string setFields = "method method:" + MethodOf(GridData::classInfo, 4) + " 1\n";
    const std::string setCapacity = "method method:" + MethodOf(GridData::classInfo, 6) + " 1\n";
    const struct {
        const char* name;
        std::string source;
        std::string error; // empty: the call goes through
    } cases[] = {
        {"fits",
         "push " + gridId + "\npush 8\n" + setFields + "push " + gridId + "\npush 100000\n" +
             setCapacity,
         ""},
        {"capacity", "push " + gridId + "\npush 16777216\n" + setCapacity,
         "GridData.SetCapacity: "},
        {"size",
         "push " + gridId + "\npush 1024\npush 1024\npush 16\nmethod method:" +
             MethodOf(GridData::classInfo, 0) + " 3\n",
         "GridData.SetSize: 64 MiB"},
    };
    for (const auto& [name, source, error] : cases) {
        Script* script = MakeScript("stack 16\n" + source + "end\n", name);
        const size_t held = GetHeldMemory();
        SetMemoryBudget(held + (size_t(48) << 20));
        EXPECT_EQ(Call(script), error.empty()) << name << LastError();
        if (!error.empty()) {
            EXPECT_EQ(LastError().rfind(error, 0), 0u) << name << LastError();
            EXPECT_NE(LastError().find(" more would take the game past its memory budget of "),
                      std::string::npos)
                << LastError();
            EXPECT_LT(GetHeldMemory(), held + (size_t(1) << 20)) << name;
        }
        EXPECT_EQ(grid->GetCapacity(), 100000) << name;
        script->Delete();
    }
}

// A program's stack size is what it may reach, not what it takes: nodes running a program that
// declares the largest stack hold only the words their runs reach. Before, each took its whole
// stack at its first run, past any budget.
TEST_F(ScriptBounds, NodesHoldTheStackTheirRunsReachNotTheOneTheyDeclare) {
    constexpr int Nodes = 100;
    Script* first = MakeScript(
        "stack 1048576\nfunction \"f\" () at=@f\nf:\npush 1\ndrop 1\nreturn 0 0\n", "widestack");
    std::vector<Script*> scripts{first};
    for (int i = 1; i < Nodes; ++i) {
        scripts.push_back(Make<Script>());
        scripts.back()->SetScriptFile("widestack.script");
    }
    const size_t held = GetHeldMemory();
    SetMemoryBudget(held + (size_t(64) << 20));
    for (Script* script : scripts) {
        EXPECT_TRUE(Call(script, {}, "f")) << LastError();
    }
    EXPECT_LT(GetHeldMemory(), held + Nodes * (size_t(64) << 10));
}

// A run that takes its stack deeper than the budget allows, in words or in calls, ends with the
// budget's error before it takes them, on both of the machine's paths.
TEST_F(ScriptBounds, AStackGrowingPastTheBudgetIsTheRunsError) {
    const struct {
        const char* name;
        const char* code;
        const char* error;
    } cases[] = {
        {"words", "loop:\npush 1\njump loop\n", "Value stack: "},
        {"calls", "call @f\nreturn 0 0\n", "Call stack: "},
    };
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        for (const auto& [name, code, error] : cases) {
            Script* script =
                MakeScript(std::string("stack 1048576\nfunction \"f\" () at=@f\nf:\n") + code,
                           std::string(name) + (translated ? "fast" : "plain"));
            const size_t held = GetHeldMemory();
            const size_t budget = held + (size_t(2) << 20);
            SetMemoryBudget(budget);
            EXPECT_FALSE(Call(script, {}, "f")) << name;
            EXPECT_EQ(LastError().rfind(error, 0), 0u) << name << LastError();
            EXPECT_NE(LastError().find(" more would take the game past its memory budget of "),
                      std::string::npos)
                << LastError();
            EXPECT_LE(GetHeldMemory(), budget) << name;
            script->Delete();
            SetMemoryBudget(0);
        }
    }
}

// A node whose variables the budget cannot hold is refused when it is given its program, with a
// line naming it, and never runs; the others run. Also for nodes a script makes in one update.
TEST_F(ScriptBounds, NodesWhoseVariablesPassTheBudgetAreRefusedAndNamed) {
    constexpr size_t Array = 1048575;
    const std::string huge = "var \"a\" array elem=int count=" + std::to_string(Array) +
                             "\nstack 16\nfunction \"f\" () at=@f\nf:\nreturn 0 0\n";
    Script* probe = MakeScript(huge, "hugearray");
    probe->Delete();
    test::CapturingLogSink log;
    const size_t held = GetHeldMemory();
    const size_t budget = held + 10 * Array;
    SetMemoryBudget(budget);
    std::vector<Script*> scripts;
    for (int i = 0; i < 5; ++i) {
        scripts.push_back(Make<Script>());
        scripts.back()->SetName(("n" + std::to_string(i)).c_str());
        scripts.back()->SetScriptFile("hugearray.script");
    }
    for (int i = 0; i < 5; ++i) {
        const bool taken = i < 2;
        EXPECT_EQ(Call(scripts[size_t(i)], {}, "f"), taken) << i;
        EXPECT_EQ(log.Contains("Script node 'n" + std::to_string(i) + "' (id " +
                               std::to_string(scripts[size_t(i)]->GetId()) +
                               ") is not run: the variables of hugearray: 4 MiB more would take "
                               "the game past its memory budget of "),
                  !taken)
            << i;
    }
    EXPECT_LE(GetHeldMemory(), budget);
    for (Script* script : scripts) {
        script->Delete();
    }

    // One update making such nodes: each past the budget is refused; the update goes on.
    Script* maker = MakeScript("var \"i\" int\nstack 16\nfunction \"f\" () at=@f\nf:\nmake:\n"
                               "text \"Script\"\n" +
                                   Func(68) +
                                   "\npush prop:Script.scriptfile\ntext \"hugearray.script\"\n"
                                   "setprop 1\npush 0\npush 0\nload 1\npush 1\n"
                                   "op int \"+(int):int\"\nstore 1\npush 0\nload 1\npush 40\n"
                                   "op int \"<(int):bool\"\njumpif make\nreturn 0 0\n",
                               "maker");
    log.Clear();
    SetMemoryBudget(GetHeldMemory() + 10 * Array);
    EXPECT_TRUE(Call(maker, {}, "f")) << LastError();
    EXPECT_EQ(maker->GetVariables()[0], 40u);
    const auto refused =
        std::count_if(log.Lines().begin(), log.Lines().end(), [](const auto& line) {
            return line.text.find("is not run: the variables of hugearray") != std::string::npos;
        });
    EXPECT_EQ(refused, 38);
    EXPECT_LE(GetHeldMemory(), budget);
    maker->Delete();
    DeleteInstances(Script::RegisterClass());
}

// A page fetch blocks the frame while its server takes its time, and the wait is charged to the
// run: a loop of fetches from a slow server ends with the step limit's error after the waits
// the limit allows (here half a second), where before it fetched on for as long as it looped.
TEST_F(ScriptBounds, ALoopOfSlowFetchesEndsWithTheLoopError) {
    using namespace std::chrono_literals;
    Network::RegisterClass();
    SlowHttpServer server(50ms);
    auto* node = Make<Network>();
    node->SetPort(server.Port());
    ScriptStepLimit = uint32_t(StepsPerSecondWaited / 2);
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        Script* script = MakeScript(
            "var \"i\" int\nstack 16\nfunction \"f\" () at=@f\nf:\nfetch:\npush " +
                std::to_string(node->GetId()) +
                "\ntext \"127.0.0.1\"\ntext \"/slow\"\nmethod method:" +
                MethodOf(Network::classInfo, 12) +
                " 2\ndrop 1\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\n"
                "push 0\nload 1\npush 40\nop int \"<(int):bool\"\njumpif fetch\nreturn 0 0\n",
            translated ? "fastfetch" : "plainfetch");
        const int served = server.Served();
        EXPECT_FALSE(Call(script, {}, "f"));
        EXPECT_EQ(LastError(), LoopError);
        // Each fetch waits 50 ms or more (on a busy machine): at most ten take the half second.
        EXPECT_GE(script->GetVariables()[0], 3u);
        EXPECT_LE(script->GetVariables()[0], 10u);
        EXPECT_EQ(uint32_t(server.Served() - served), script->GetVariables()[0] + 1);
        script->Delete();
    }
}

// The waits of one frame on the outside share one bound, however many nodes wait: the first
// fetch from a server that trickles its page waits what the frame may wait (here 150 ms, its
// own time-out being a second) and the others fail at once, with one line a frame; the next
// frame fetches afresh. A settings save waiting on another process's lock takes its wait from
// the same bound. Before, each fetch and each save waited its own time-out: six nodes held a
// frame for six seconds.
TEST_F(ScriptBounds, TheWaitsOfAFrameShareOneBound) {
    using namespace std::chrono_literals;
    Network::RegisterClass();
    const ScopedFrameWaitBound bound(150ms);
    test::TempFolder user;
    files_.SetUserFolder((user.Path() + "/").c_str());
    const std::string waitsSpent =
        "A Network page fetch fails until the next frame: the calls of this frame have waited "
        "150 ms, the most a frame waits";
    const struct {
        int fetchers;
        bool lockHeld;
        int fetchesAFrame;
    } cases[] = {{3, false, 1}, {12, false, 1}, {6, true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fetchers) + (c.lockHeld ? " with the lock held" : ""));
        SlowHttpServer server(20ms, true);
        auto* network = Make<Network>();
        network->SetPort(server.Port());
        network->SetTimeout(1s);
        auto* root = Make<Node>();
        root->SetFlag(NodeEnabled, true);
        const auto add = [&](Script* script) {
            script->SetFlag(NodeEnabled, true);
            script->AttachAsLast(root);
        };
        // A save of a changed setting, first in the frame.
        add(MakeScript("var \"saves\" int\nstack 16\nfunction \"update\" (float) at=@update\n"
                       "update:\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\n"
                       "text \"k\"\npush 0\nload 1\n" +
                           Func(29) + "\n" + Func(114) + "\nreturn 1 0\n",
                       "saver"));
        for (int i = 0; i < c.fetchers; ++i) {
            add(MakeScript("stack 16\nfunction \"update\" (float) at=@update\nupdate:\npush " +
                               std::to_string(network->GetId()) +
                               "\ntext \"127.0.0.1\"\ntext \"/trickle\"\nmethod method:" +
                               MethodOf(Network::classInfo, 12) + " 2\ndrop 1\nreturn 1 0\n",
                           "fetcher"));
        }
        Descriptor lock;
        if (c.lockHeld) {
            lock = Descriptor(open(user.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ASSERT_EQ(flock(lock.Get(), LOCK_EX | LOCK_NB), 0);
        }
        test::CapturingLogSink log;
        GameRunning = true;
        for (int frame = 1; frame <= 2; ++frame) {
            UpdateNodeTree(root);
            EXPECT_EQ(server.Served(), c.fetchesAFrame * frame);
            const auto lines =
                std::count_if(log.Lines().begin(), log.Lines().end(),
                              [&](const auto& line) { return line.text == waitsSpent; });
            EXPECT_EQ(lines, frame);
        }
        GameRunning = false;
        EXPECT_EQ(log.Contains("are saved without their lock: the calls of this frame have "
                               "waited 150 ms, the most a frame waits"),
                  c.lockHeld);
        EXPECT_EQ(user.ReadFile("init.txt"), "k = \"2\"\n");
        EXPECT_EQ(ErrorReports(), 0) << LastError();
        root->Delete();
        network->Delete();
    }
}

// A scene whose script loads the scene again, under itself, from its update: each copy is first
// updated in the frame after the one that loaded it, so a frame runs the scripts it began with
// and ends, where before each copy ran in the frame that made it, the next one in turn (here
// until a counter stopped them at 32).
TEST_F(ScriptBounds, AScriptLoadingItsOwnSceneRunsEachCopyFromTheNextFrame) {
    auto* counter = Make<test::ScriptThing>();
    const std::string count =
        "push " + std::to_string(counter->GetId()) + "\npush prop:ScriptTestThing.value\n";
    Node* root = LoadSelfLoadingScene(
        count + "getprop\npush 31\nop int \"<(int):bool\"\njumpifnot done\n" + count + count +
        "getprop\npush 1\nop int \"+(int):int\"\nsetprop 1\n" + LoadSelf() + "done:\n");
    const ClassInfo* scripts = Script::RegisterClass();
    GameRunning = true;
    for (const int copies : {2, 4, 8, 16, 32, 32}) {
        UpdateNodeTree(root);
        EXPECT_EQ(scripts->GetInstanceCountRecursive(), copies);
    }
    GameRunning = false;
    EXPECT_EQ(ErrorReports(), 0) << LastError();
}

// Once the scene's id system is full, the copies a self-loading scene asks for find no id: each
// load leaves its object out without making a node for it. Made and deleted again, each such
// node was heard of by every script of the scene, a tenth of a second a copy at 65,000 copies,
// so the frame in which the ids ran out never ended.
TEST_F(ScriptBounds, AScriptLoadingItsOwnSceneIntoAFullIdSystemMakesNoNode) {
    Node* root = LoadSelfLoadingScene(LoadSelf());
    // The scene's id system filled but for 5 ids (those of deleted nodes are not given again).
    while (TheIdMap().GetFreeLocalId(0) < LocalIdMask - 4) {
        Make<Node>();
    }
    const ClassInfo* scripts = Script::RegisterClass();
    GameRunning = true;
    // The copies there after each frame, and the nodes made in it.
    const std::pair<int, uint64_t> frames[] = {{2, 1}, {4, 2}, {6, 2}, {6, 0}, {6, 0}};
    for (const auto& [copies, made] : frames) {
        const uint64_t serial = Entity::GetNextSerial();
        UpdateNodeTree(root);
        EXPECT_EQ(scripts->GetInstanceCountRecursive(), copies);
        EXPECT_EQ(Entity::GetNextSerial() - serial, made) << copies;
    }
    GameRunning = false;
    EXPECT_TRUE(log_.Contains("Scene self.scene: 1 of its objects are left out: no id was left "
                              "for them"));
    EXPECT_EQ(ErrorReports(), 0) << LastError();
    // The ids of deleted nodes are not given again: the tests after this one need them back.
    root->Delete();
    for (uint64_t serial : made_) {
        if (Entity* entity = Entity::FindBySerial(serial)) {
            entity->Delete();
        }
    }
    made_.clear();
    TheIdMap().Clear();
}

} // namespace
} // namespace quarn
