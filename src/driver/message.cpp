#include "driver/message.h"

#include <cstdlib>

#include "driver/driver.h"

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
    std::free(g_message);
    std::free(g_recipients);
    std::free(g_crossposts);
    allocate_message_buffers();
}

}  // namespace tw
