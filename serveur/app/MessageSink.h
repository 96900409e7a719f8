// Message boxes. Without a desktop their texts go to standard error and to the
// trace at warning level, and the program goes on.
#pragma once

#include <string>

namespace vorlix::app {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Both texts are already translated.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
};

class HeadlessMessageSink : public MessageSink {
public:
    void Show(const std::string& text, const std::string& caption) override;
};

}  // namespace vorlix::app
