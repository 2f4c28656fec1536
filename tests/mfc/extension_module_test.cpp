// The process-wide list of extension modules behind AfxInitExtensionModule,
// CDynLinkLibrary and AfxTermExtensionModule.
#include <gtest/gtest.h>

#include <vector>

#include "qv_afx.h"

namespace {

int g_deletedLibraries = 0;

class CountedLibrary : public CDynLinkLibrary {
public:
    using CDynLinkLibrary::CDynLinkLibrary;
    ~CountedLibrary() override { ++g_deletedLibraries; }
};

std::vector<HMODULE> ListedModules() {
    std::vector<HMODULE> modules;
    for (CDynLinkLibrary* entry = AfxGetFirstDynLinkLibrary(); entry != nullptr;
         entry = entry->m_pNextDLL) {
        modules.push_back(entry->m_hModule);
    }
    return modules;
}

HMODULE FakeModule(int n) {
    static char modules[4];
    return &modules[n];
}

class ExtensionModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_deletedLibraries = 0;
        ASSERT_EQ(AfxGetFirstDynLinkLibrary(), nullptr);
    }
    void TearDown() override {
        AFX_EXTENSION_MODULE any{TRUE, FakeModule(3), nullptr};
        AfxTermExtensionModule(any, TRUE);
    }
};

TEST_F(ExtensionModuleTest, InitRecordsTheModuleAndRefusesANullOne) {
    AFX_EXTENSION_MODULE none{};
    EXPECT_FALSE(AfxInitExtensionModule(none, nullptr));
    EXPECT_FALSE(none.bInitialized);

    AFX_EXTENSION_MODULE state{};
    ASSERT_TRUE(AfxInitExtensionModule(state, FakeModule(0)));
    EXPECT_TRUE(state.bInitialized);
    EXPECT_EQ(state.hModule, FakeModule(0));
    // A second call for an initialised module keeps the first handle.
    EXPECT_TRUE(AfxInitExtensionModule(state, FakeModule(1)));
    EXPECT_EQ(state.hModule, FakeModule(0));
}

TEST_F(ExtensionModuleTest, TermDeletesTheEntriesOfItsModuleOrWithAllEveryEntry) {
    AFX_EXTENSION_MODULE first{};
    AFX_EXTENSION_MODULE second{};
    ASSERT_TRUE(AfxInitExtensionModule(first, FakeModule(0)));
    ASSERT_TRUE(AfxInitExtensionModule(second, FakeModule(1)));
    new CountedLibrary(first, FALSE);
    new CountedLibrary(second, FALSE);
    new CountedLibrary(first, TRUE);
    EXPECT_EQ(ListedModules(), (std::vector<HMODULE>{FakeModule(0), FakeModule(1), FakeModule(0)}));

    AfxTermExtensionModule(first);
    EXPECT_EQ(g_deletedLibraries, 2);
    EXPECT_EQ(ListedModules(), (std::vector<HMODULE>{FakeModule(1)}));
    AfxTermExtensionModule(first);  // nothing left of that module
    EXPECT_EQ(g_deletedLibraries, 2);

    new CountedLibrary(second, FALSE);
    AfxTermExtensionModule(first, TRUE);
    EXPECT_EQ(g_deletedLibraries, 4);
    EXPECT_EQ(AfxGetFirstDynLinkLibrary(), nullptr);
}

}  // namespace
