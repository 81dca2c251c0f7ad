// Death tests run their statement in a fresh process that runs the test again
// up to that statement (see main.cpp). What that child writes must land where
// the test's own process reads afterwards: a folder the test makes is handed
// down by name through the environment, which the child inherits.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

// True in the process a death test started for its statement.
inline bool InDeathTestChild() { return !GTEST_FLAG_GET(internal_run_death_test).empty(); }

// In the test's own process: records `value` under `name` and returns it. In
// a death test's child: the value its parent recorded (`value` if none).
inline std::string SharedWithDeathTestChild(const std::string& name, const std::string& value) {
    if (!InDeathTestChild()) {
        setenv(name.c_str(), value.c_str(), 1);
        return value;
    }
    const char* parent = getenv(name.c_str());
    return parent ? parent : value;
}
