#pragma once

#include <string>

namespace brumlis {

/// Where failures are reported: a modal message box in the windows, stderr in the CLI.
/// `show` returns once the user has seen the message.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const std::u16string& message) = 0;
};

} // namespace brumlis
