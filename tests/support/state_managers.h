// The two effect state managers a picture is drawn through: the forwarding
// one, and the caching one that the engine ships (a pure device gets it).
// Picture fixtures take the kind as their parameter and make their device
// with its behaviour flags, so S_3DCreateStateManager picks that kind.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/d3d9/d3d9.h"

enum class StateManagerKind { Forwarding, Caching };

inline DWORD DeviceBehaviour(StateManagerKind kind) {
    return D3DCREATE_HARDWARE_VERTEXPROCESSING | (kind == StateManagerKind::Caching ? D3DCREATE_PUREDEVICE : 0);
}

inline std::string StateManagerName(const ::testing::TestParamInfo<StateManagerKind>& info) {
    return info.param == StateManagerKind::Caching ? "Caching" : "Forwarding";
}

// Every test of the suite, once through each manager.
#define INSTANTIATE_FOR_BOTH_STATE_MANAGERS(suite) \
    INSTANTIATE_TEST_SUITE_P(                      \
        Managers, suite, ::testing::Values(StateManagerKind::Forwarding, StateManagerKind::Caching), StateManagerName)
