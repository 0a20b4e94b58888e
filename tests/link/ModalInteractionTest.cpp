// Which instance answers a box: the calling thread's scoped one, else the process-wide one;
// and threads that end after using a scope (every run's worker does) end cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "link/ModalInteraction.h"

namespace {

class CountingInteraction final : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest&) override {
        ++boxes;
        return MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
    std::atomic<int> boxes{0};
};

MessageAnswer AskOnce() {
    return ActiveModalInteraction()->ShowMessageBox({});
}

class ModalInteractionTest : public ::testing::Test {
protected:
    void SetUp() override { InstallModalInteraction(processWide); }
    void TearDown() override { InstallModalInteraction(nullptr); }
    std::shared_ptr<CountingInteraction> processWide = std::make_shared<CountingInteraction>();
};

TEST_F(ModalInteractionTest, AScopeAnswersOnlyItsOwnThreadAndNestedScopesRestoreTheOuterOne) {
    auto outer = std::make_shared<CountingInteraction>();
    auto inner = std::make_shared<CountingInteraction>();
    std::thread([&] {
        const ThreadModalInteraction outerScope(outer);
        AskOnce();
        {
            const ThreadModalInteraction innerScope(inner);
            AskOnce();
            std::thread(AskOnce).join();
        }
        AskOnce();
    }).join();
    AskOnce();
    EXPECT_EQ(outer->boxes, 2);
    EXPECT_EQ(inner->boxes, 1);
    EXPECT_EQ(processWide->boxes, 2) << "another thread and the thread after its scope";
}

// Small blocks written over and over by another thread while the scoped threads end: where a
// thread's storage is freed before its destructors run, they then read this garbage.
class HeapChurn {
public:
    HeapChurn()
        : churner([this] {
              while (!stop) {
                  std::vector<std::unique_ptr<char[]>> blocks;
                  for (std::size_t size = 8; size <= 128; size += 8) {
                      blocks.emplace_back(new char[size]);
                      std::memset(blocks.back().get(), 0x5a, size);
                  }
              }
          }) {}
    ~HeapChurn() {
        stop = true;
        churner.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread churner;
};

TEST_F(ModalInteractionTest, ManyThreadsEndingAfterTheirScopesEachUsedTheirOwn) {
    constexpr int kThreads = 500;
    std::vector<std::shared_ptr<CountingInteraction>> own(kThreads);
    {
        const HeapChurn churn;
        for (auto& interaction : own) {
            interaction = std::make_shared<CountingInteraction>();
            std::thread([&interaction] {
                const ThreadModalInteraction scope(interaction);
                AskOnce();
            }).join();
        }
    }
    for (const auto& interaction : own) {
        EXPECT_EQ(interaction->boxes, 1);
        EXPECT_EQ(interaction.use_count(), 1) << "a finished thread still holds its interaction";
    }
    EXPECT_EQ(processWide->boxes, 0);
}

}  // namespace
