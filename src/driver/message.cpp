#include "driver/message.h"

#include <cstdlib>
#include <cstring>

#include "driver/options.h"

namespace tw {

CurrentMessage* g_message = nullptr;
RecipientList* g_recipients = nullptr;
CrosspostList* g_crossposts = nullptr;

void allocate_message_buffers() {
    g_message = static_cast<CurrentMessage*>(alloc_or_die(sizeof(CurrentMessage)));
    g_recipients = static_cast<RecipientList*>(alloc_or_die(sizeof(RecipientList)));
    g_crossposts = static_cast<CrosspostList*>(alloc_or_die(sizeof(CrosspostList)));
}

void reset_message() {
    // The buffers keep their place, so references to them stay valid.
    if (!g_message) allocate_message_buffers();
    std::memset(static_cast<void*>(g_message), 0, sizeof(CurrentMessage));
    std::memset(static_cast<void*>(g_recipients), 0, sizeof(RecipientList));
    std::memset(static_cast<void*>(g_crossposts), 0, sizeof(CrosspostList));
}

}  // namespace tw
