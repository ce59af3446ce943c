#include "store/messages.h"

#include <cstdio>
#include <cstdlib>

namespace vez {

namespace {

class StandardErrorMessages final : public UserMessages {
public:
    void showMessage(const std::string& text) override
    {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
};

StandardErrorMessages g_defaultMessages;
UserMessages* g_messages = &g_defaultMessages;

} // namespace

void setStoreMessages(UserMessages* messages)
{
    g_messages = messages ? messages : &g_defaultMessages;
}

UserMessages& storeMessages() { return *g_messages; }

void stopAfterFatalStoreError()
{
    std::fflush(nullptr);
    // Pages of a file-backed image are shared with the file: what was stored so far is
    // already the file's content, so ending here loses no completed change.
    std::_Exit(70);
}

} // namespace vez
