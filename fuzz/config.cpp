// The configuration reader: the input is the main file; after a line
// "--8<--" the rest is the file an `Include inc.cfg` line reads.
#include <string_view>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::size_t cut = in.find("\n--8<--\n");
    twfuzz::write_file("t.cfg", in.substr(0, cut));
    twfuzz::write_file("inc.cfg", cut == std::string_view::npos ? std::string_view() : in.substr(cut + 8));
    (void)twfuzz::load_config("t.cfg");
    twfuzz::release_config();
    twfuzz::finish_run();
    return 0;
}
