#include "config/keywords.h"
#include "lists/lists.h"

namespace tw {

void kw_MailingList(const ConfigLine&) {}
void kw_MailingListOption(const ConfigLine&) {}

void kw_ListConfig(const ConfigLine& at) {
    if (list_count() >= 64) return at.warn("too many ListConfig keywords");
    load_list_config(at.param, at.line, at.file, at.program);
}

}  // namespace tw
