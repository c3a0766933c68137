// Loading message texts from the library's own string table.
#include "api/messages.h"

#include "api/library_state.h"

const char* LoadMessageText(PatchContext& context) {
    if (context.lastMessageId == 0) {
        return nullptr;
    }
    context.messageText[0] = 0;
    LoadStringA(libraryState.moduleInstance, static_cast<UINT>(context.lastMessageId),
                context.messageText.data(), static_cast<int>(context.messageText.size()));
    return context.messageText.data();
}
