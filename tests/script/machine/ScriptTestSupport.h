#pragma once

#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"
#include "script/machine/ScriptResource.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/TestClass.h"
#include "tools/ScriptProgramBuilder.h"

#include <string>
#include <vector>

namespace quarn::test {

// Counts the signals a program's load sends.
class ProgramSignalWatcher : public TestClass<ProgramSignalWatcher> {
public:
    static constexpr const char* Name = "ScriptTestSignalWatcher";
    static void Declare(ClassInfo& info) {
        info.AddMethod("scriptchanged", "()",
                       BindSignalHandler<&ProgramSignalWatcher::OnScriptChanged>(), 0);
        info.AddMethod("classtypehaschanged", "()",
                       BindSignalHandler<&ProgramSignalWatcher::OnClassChanged>(), 0);
    }
    void OnScriptChanged(void* argument) { changedPrograms.push_back(argument); }
    void OnClassChanged(void*) { ++classChanges; }

    std::vector<void*> changedPrograms;
    int classChanges = 0;
};

// Programs written by the builder into a temporary base folder, beside a source file older
// than them, and loaded through the resource registry.
class ScriptProgramTest : public ResourceDiskTest {
protected:
    void SetUp() override {
        ResourceDiskTest::SetUp();
        watcher_ = static_cast<ProgramSignalWatcher*>(
            ProgramSignalWatcher::RegisterClass()->CreateInstance());
        AddSignalListener("scriptchanged", watcher_);
        AddSignalListener("classtypehaschanged", watcher_);
    }
    void TearDown() override {
        for (ScriptResource* program : loaded_) {
            program->Release();
        }
        watcher_->Delete();
        ResourceDiskTest::TearDown();
    }

    // Writes NAME.script (older) and NAME.bin / NAME.sym from the builder.
    void Write(const ScriptProgramBuilder& builder, const std::string& name) {
        temp_.WriteFile(name + ".script", "// source\n");
        SetFileTime(name + ".script", 1000);
        std::string reason;
        ASSERT_TRUE(builder.Write(temp_.Join(name), reason)) << reason;
        SetFileTime(name + ".bin", 2000);
        SetFileTime(name + ".sym", 2000);
    }
    // Loads NAME.script; released by the fixture.
    ScriptResource* Load(const std::string& name) {
        ScriptResource* program = GetScriptResource((name + ".script").c_str());
        loaded_.push_back(program);
        return program;
    }
    ScriptResource* WriteAndLoad(const ScriptProgramBuilder& builder, const std::string& name) {
        Write(builder, name);
        return Load(name);
    }

    ProgramSignalWatcher* watcher_ = nullptr;
    std::vector<ScriptResource*> loaded_;
};

} // namespace quarn::test
