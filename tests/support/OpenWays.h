#pragma once

// A file beneath a root opens one of two ways: through the kernel's beneath-only lookup, where
// the kernel has it, or through our walk of single-name opens, which serves kernels and
// containers that lack or refuse it. A machine takes one of them by itself, so a test that
// opens game files through links, pipes or devices runs once each way: what it checks then
// holds on every machine, not only on the kind it was written on.
//
//     class HeldFilesTest : public test::WithOpenWays<> { ... };
//     TEST_P(HeldFilesTest, ...) { ... }
//     QUARN_BOTH_OPEN_WAYS(HeldFilesTest);

#include "core/filesystem/DiskPlace.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn::test {

enum class OpenWay { Kernel, Walk };

// A fixture `Base` run each way. The kernel's way is skipped, saying so, where the kernel lacks
// it; the way taken before the test is put back after it.
template <class Base = ::testing::Test>
class WithOpenWays : public Base, public ::testing::WithParamInterface<OpenWay> {
protected:
    void SetUp() override {
        walkForcedBefore_ = SetBeneathWalkForced(GetParam() == OpenWay::Walk);
        if (GetParam() == OpenWay::Kernel && !KernelResolvesBeneath()) {
            GTEST_SKIP() << "this kernel has no beneath-only lookup (openat2 with "
                            "RESOLVE_BENEATH): the kernel's way was not run, only the walk";
        }
        baseSetUp_ = true;
        Base::SetUp();
    }
    void TearDown() override {
        if (baseSetUp_) {
            Base::TearDown();
        }
        SetBeneathWalkForced(walkForcedBefore_);
    }

private:
    bool walkForcedBefore_ = false;
    bool baseSetUp_ = false;
};

inline std::string OpenWayName(const ::testing::TestParamInfo<OpenWay>& info) {
    return info.param == OpenWay::Kernel ? "Kernel" : "Walk";
}

} // namespace quarn::test

#define QUARN_BOTH_OPEN_WAYS(Suite)                                                              \
    INSTANTIATE_TEST_SUITE_P(OpenWays, Suite,                                                    \
                             ::testing::Values(::quarn::test::OpenWay::Kernel,                   \
                                               ::quarn::test::OpenWay::Walk),                    \
                             ::quarn::test::OpenWayName)
