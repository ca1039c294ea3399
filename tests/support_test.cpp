#include "platform/sim_control.h"
#include "support/library.h"
#include "support/memory.h"
#include "tests/panel_template.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class Support : public ::testing::Test {
  protected:
    void SetUp() override { Sim::Reset(); }
    void TearDown() override {
        LibraryShutdown();
        Sim::Reset();
    }
};

TEST_F(Support, LockTracksDepthAndOwnerAcrossNestedEntries) {
    RecursiveLock lock;
    EXPECT_EQ(lock.Depth, 0u);
    EXPECT_EQ(lock.OwnerThread, (DWORD)NO_OWNER_THREAD);
    lock.Enter();
    lock.Enter();
    EXPECT_EQ(lock.Depth, 2u);
    EXPECT_EQ(lock.OwnerThread, GetCurrentThreadId());
    lock.Leave();
    EXPECT_EQ(lock.Depth, 1u);
    EXPECT_EQ(lock.OwnerThread, GetCurrentThreadId());
    lock.Leave();
    EXPECT_EQ(lock.Depth, 0u);
    EXPECT_EQ(lock.OwnerThread, (DWORD)NO_OWNER_THREAD);
    EXPECT_EQ(lock.Section.RecursionCount, 0);
}

TEST_F(Support, MemoryBlocksAreZeroFilledAndReleased) {
    auto* block = static_cast<unsigned char*>(MemAlloc(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(block[i], 0) << i;
    }
    EXPECT_EQ(Sim::LiveAllocations(), 1u);
    MemFree(block);
    MemFree(nullptr);
    EXPECT_EQ(Sim::LiveAllocations(), 0u);
    Sim::FailNextAllocations(1);
    EXPECT_EQ(MemAlloc(8), nullptr);
}

struct ListFixture {
    ShutdownList List;
    ShutdownNode Nodes[4] = {};
    explicit ListFixture(int count) {
        for (int i = 0; i < count; ++i) {
            List.Append(&Nodes[i]);
        }
    }
    std::vector<ShutdownNode*> Walk() const {
        std::vector<ShutdownNode*> nodes;
        for (ShutdownNode* at = List.Head; at; at = at->Next) {
            nodes.push_back(at);
        }
        return nodes;
    }
};

TEST_F(Support, PopFrontOnEmptyAndSingleNodeLists) {
    ListFixture empty(0);
    EXPECT_EQ(empty.List.PopFront(), nullptr);
    EXPECT_EQ(empty.List.Lock.Depth, 0u);
    EXPECT_EQ(empty.List.Lock.OwnerThread, (DWORD)NO_OWNER_THREAD);

    ListFixture one(1);
    EXPECT_EQ(one.List.PopFront(), &one.Nodes[0]);
    EXPECT_EQ(one.List.Head, nullptr);
    EXPECT_EQ(one.List.Tail, nullptr);
    EXPECT_EQ(one.List.Count, 0u);
    EXPECT_EQ(one.Nodes[0].Next, nullptr);
    EXPECT_EQ(one.List.Lock.Depth, 0u);
}

TEST_F(Support, RemoveKeepsHeadTailAndCountConsistent) {
    const struct {
        int Removed;
        std::vector<int> Left;
    } cases[] = {{0, {1, 2, 3}}, {1, {0, 2, 3}}, {3, {0, 1, 2}}};
    for (const auto& c : cases) {
        ListFixture list(4);
        EXPECT_EQ(list.List.Remove(&list.Nodes[c.Removed]), &list.Nodes[c.Removed]);
        std::vector<ShutdownNode*> expected;
        for (int i : c.Left) {
            expected.push_back(&list.Nodes[i]);
        }
        EXPECT_EQ(list.Walk(), expected) << "removed " << c.Removed;
        EXPECT_EQ(list.List.Tail, expected.back()) << "removed " << c.Removed;
        EXPECT_EQ(list.List.Count, 3u);
        EXPECT_EQ(list.Nodes[c.Removed].Next, nullptr);
    }

    ListFixture list(2);
    ShutdownNode stranger = {};
    EXPECT_EQ(list.List.Remove(&stranger), nullptr);
    EXPECT_EQ(list.List.Remove(nullptr), nullptr);
    EXPECT_EQ(list.Walk().size(), 2u);
    EXPECT_EQ(list.List.Count, 2u);
    EXPECT_EQ(list.List.Lock.Depth, 0u);
}

std::vector<std::string> Ran;

void AppendHandler(ShutdownHandler handler) {
    auto* node = static_cast<ShutdownNode*>(MemAlloc(sizeof(ShutdownNode)));
    node->Handler = handler;
    LibraryShutdownList()->Append(node);
}

BYTE RegisterThree() {
    AppendHandler([] { Ran.push_back("first"); });
    AppendHandler([] { Ran.push_back("second"); });
    AppendHandler([] { Ran.push_back("third"); });
    return 1;
}
BYTE Refuse() {
    Ran.push_back("refused");
    return 0;
}
BYTE NeverCalled() {
    Ran.push_back("never");
    return 1;
}

TEST_F(Support, ShutdownRunsEachHandlerOnceHeadFirstAndReleasesEverything) {
    Ran.clear();
    const LibraryInitializer initializers[] = {RegisterThree, nullptr};
    ASSERT_TRUE(LibraryStartup(initializers));
    EXPECT_EQ(LibraryShutdownList()->Count, 3u);
    LibraryShutdown();
    EXPECT_EQ(Ran, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(LibraryShutdownList(), nullptr);
    EXPECT_EQ(Sim::LiveAllocations(), 0u);
    LibraryShutdown(); // nothing left: harmless
    EXPECT_EQ(Ran.size(), 3u);
}

TEST_F(Support, StartupStopsAtTheFirstRefusingInitializerAndShutsDown) {
    Ran.clear();
    const LibraryInitializer initializers[] = {RegisterThree, Refuse, NeverCalled, nullptr};
    EXPECT_FALSE(LibraryStartup(initializers));
    EXPECT_EQ(Ran, (std::vector<std::string>{"refused", "first", "second", "third"}));
    EXPECT_EQ(LibraryShutdownList(), nullptr);
    EXPECT_EQ(Sim::LiveAllocations(), 0u);

    Sim::FailNextAllocations(1);
    const LibraryInitializer none[] = {nullptr};
    EXPECT_FALSE(LibraryStartup(none));
    EXPECT_EQ(LibraryShutdownList(), nullptr);
}

TEST_F(Support, CommandTailFollowsTheProgramName) {
    const struct {
        const char* Line;
        const char* Tail;
    } cases[] = {
        {"\"C:\\Program Files\\quorvel.exe\" -x  y", "-x  y"},
        {"\"C:\\Program Files\\quorvel.exe\"", ""},
        {"\"C:\\quorvel.exe\"\t \targ", "arg"},
        {"\"C:\\Program Files\\quorvel.exe -x", ""},
        {"quorvel.exe -x y", "-x y"},
        {"quorvel.exe     y", "y"},
        {"quorvel.exe\t-x", ""},
        {"quorvel.exe", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(CommandTail(c.Line), c.Tail) << c.Line;
    }
}

TEST_F(Support, TheProcessExitsWithZeroWhateverTheCommandLine) {
    const char* const lines[] = {"\"C:\\Program Files\\quorvel.exe\" a b", "quorvel.exe a b",
                                 "quorvel.exe", "\"C:\\quorvel.exe"};
    for (const char* line : lines) {
        Sim::Reset();
        DefinePanelTemplate();
        Sim::SetCommandLine(line);
        Sim::SetDialogDriver([](HWND) { Sim::Command(IDCANCEL); });
        UINT code = 99;
        try {
            ProcessEntry();
        } catch (const Sim::ProcessExited& exited) {
            code = exited.Code;
        }
        EXPECT_EQ(code, 0u) << line;
        EXPECT_EQ(Sim::DialogRuns(), 1u) << line;
        EXPECT_EQ(Sim::DialogResult(), 1) << line;
        EXPECT_EQ(Sim::LiveAllocations(), 0u) << line;
    }
}

TEST_F(Support, AFailedStartupShowsNoPanelAndStillExitsWithZero) {
    Sim::FailNextAllocations(1);
    UINT code = 99;
    try {
        ProcessEntry();
    } catch (const Sim::ProcessExited& exited) {
        code = exited.Code;
    }
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Sim::DialogRuns(), 0u);
    EXPECT_TRUE(Sim::Boxes().empty());
}

} // namespace
