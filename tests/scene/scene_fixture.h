// A fresh scene-engine state per test, a system state for the game clock, and
// a module that records the replies the scene engine sends.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "script/context.h"
#include "script/values.h"

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSystem_ = g_SystemState;
        savedState_ = g_B3DState;
        // Made as the engine makes it: a death test's child ends through
        // ExitGeneral, which frees it the engine's way.
        system_ = Int_AllocRecord<SystemState>(0);
        ASSERT_NE(system_, nullptr);
        g_SystemState = system_;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        ASSERT_EQ(B3D_InitBodyIdTable(), 1);
        ASSERT_EQ(B3D_InitCutIdTable(), 1);
    }
    void TearDown() override {
        B3D_FreeStore();
        g_B3DState = savedState_;
        g_SystemState = savedSystem_;
        Int_FreeRecord(system_, 0);
    }
    void SetClock(int32_t ms) { system_->gameClock = ms; }

    SystemState* system_ = nullptr;

private:
    SystemState* savedSystem_ = nullptr;
    B3DState* savedState_ = nullptr;
};

// Registers a module whose integer result callback records (handle, code).
class ReplyModule {
public:
    explicit ReplyModule(int32_t module) : context_(std::make_unique<SE_Context>()) {
        context_->nextModule = module + 1;
        context_->modules[module].ReturnInt = &Record;
        saved_ = g_SEContext;
        g_SEContext = context_.get();
        Replies().clear();
    }
    ~ReplyModule() { g_SEContext = saved_; }
    ReplyModule(const ReplyModule&) = delete;
    ReplyModule& operator=(const ReplyModule&) = delete;

    static std::vector<std::pair<uint32_t, int32_t>>& Replies() {
        static std::vector<std::pair<uint32_t, int32_t>> replies;
        return replies;
    }

private:
    static void Record(uint32_t handle, int32_t code) { Replies().emplace_back(handle, code); }
    std::unique_ptr<SE_Context> context_;
    SE_Context* saved_ = nullptr;
};

using Reply = std::pair<uint32_t, int32_t>;
using Replies = std::vector<Reply>;

// Links an instance under a parent, in the parent's scene.
inline void Adopt(Inst3D* parent, Inst3D* child) {
    B3D_ListRemove(B3D_Node(child));
    B3D_ListAppend(&parent->children, B3D_Node(child));
    child->parent = parent;
    child->scene = parent->scene;
}

// Moves a top instance into a scene.
inline void PutInScene(Scene3D* scene, Inst3D* inst) {
    B3D_ListRemove(B3D_Node(inst));
    B3D_ListAppend(&scene->insts, B3D_Node(inst));
    inst->scene = scene;
}

// A cut built in memory and entered in the cut table; its paths hold
// position keys at the given times and notes.
class TestCut {
public:
    TestCut(int32_t id, int32_t pathCount) : paths_(static_cast<size_t>(pathCount)), keys_(paths_.size()) {
        cut_.id = static_cast<uint32_t>(id);
        cut_.pathCount = pathCount;
        cut_.paths = paths_.data();
        Qel_MatIdentity(&cut_.placeMatrix);
        for (size_t i = 0; i < paths_.size(); ++i) paths_[i].pathNr = static_cast<int32_t>(i);
        Qel_TableSet(g_B3DState->cutTable, cut_.id, reinterpret_cast<uintptr_t>(&cut_));
    }
    void Unload() { Qel_TableRemove(g_B3DState->cutTable, cut_.id); }
    // Position keys at these times (values x = time).
    void Keys(int32_t path, std::vector<int32_t> times) {
        auto& k = keys_[static_cast<size_t>(path)];
        k.clear();
        for (int32_t t : times) {
            J3D_MotionKey key{};
            key.time = t;
            key.value[0] = t;
            k.push_back(key);
        }
        paths_[static_cast<size_t>(path)].posCount = static_cast<int32_t>(k.size());
        paths_[static_cast<size_t>(path)].posKeys = k.data();
    }
    J3D_Cut* cut() { return &cut_; }
    J3D_CutPath& path(int32_t i) { return paths_[static_cast<size_t>(i)]; }

private:
    J3D_Cut cut_{};
    std::vector<J3D_CutPath> paths_;
    std::vector<std::vector<J3D_MotionKey>> keys_;
};
