// The hosted lists as the import classification sees them.
#include "lists/lists.h"
#include "platform/text.h"

namespace tw {

int find_hosted_list(std::string_view address) {
    ListTable& t = list_table();
    for (int i = 0; i < t.count; ++i)
        if (t.lists[i].ListAddress && iequals(t.lists[i].ListAddress, address)) return i;
    return -1;
}

std::string_view hosted_list_area(int index) {
    const ListRecord& r = list_record(index);
    return r.ListArea ? std::string_view(r.ListArea) : std::string_view();
}

}  // namespace tw
