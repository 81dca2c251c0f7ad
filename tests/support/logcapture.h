// Reads what the engine logs: while a LogCapture lives, every log line goes to it.
#pragma once

#include <string>
#include <string_view>

#include "base/log.h"

class LogCapture {
public:
    LogCapture() { Qel_SetLogCapture(&Append, &text_); }
    ~LogCapture() { Qel_SetLogCapture(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& Text() const { return text_; }
    bool Contains(std::string_view part) const { return text_.find(part) != std::string::npos; }
    // What was logged since the last Take, and starts afresh.
    std::string Take() {
        std::string t;
        t.swap(text_);
        return t;
    }

private:
    static void Append(const char* text, size_t length, void* user) {
        static_cast<std::string*>(user)->append(text, length);
    }
    std::string text_;
};
