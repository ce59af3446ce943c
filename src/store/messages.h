// Messages from the store and the document to the user. The desktop program shows them
// in message boxes, the command-line tool prints them, tests capture them.
#pragma once

#include <string>

namespace vez {

class UserMessages {
public:
    virtual ~UserMessages() = default;
    virtual void showMessage(const std::string& text) = 0;
};

// The process-wide receiver of store messages (like the current image, there is one per
// process). Null restores the default, which prints to standard error.
void setStoreMessages(UserMessages* messages);
UserMessages& storeMessages();

// The one way the store ends the process: after a message, when the image cannot grow
// or be released. Never returns.
[[noreturn]] void stopAfterFatalStoreError();

} // namespace vez
