// A hosted list's configuration and subscriber file, as loaded at start-up
// and then compacted by `pack`.
#include <string_view>

#include "harness.h"
#include "lists/lists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        twfuzz::write_file("t.cfg", twfuzz::site_config("ListConfig lists/t.lst\n"));
        return true;
    }();
    (void)once;
    twfuzz::clear_dir("lists");
    twfuzz::write_file("lists/t.lst", std::string_view(reinterpret_cast<const char*>(data), size));
    if (twfuzz::load_config("t.cfg")) tw::pack_lists();
    twfuzz::release_config();
    twfuzz::finish_run();
    return 0;
}
