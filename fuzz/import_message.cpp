// One Internet message through the import: a mail (to a user or to the
// hosted list) when the first byte is even, else a news article; the rest
// is the message, in binary framing so that it stays one message.
#include <string>
#include <string_view>

#include "harness.h"
#include "import/import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        twfuzz::write_file("t.cfg", twfuzz::site_config(std::string(twfuzz::kListConfigLine) + "MaxPKTSize 4\n"));
        // A read window of 1 KB instead of a run's 4 MB: shorter messages
        // are framed and converted in memory, longer ones from the file, so
        // both roads are fuzzed, and a run allocates no 4 MB.
        tw::set_import_window_size(1024);
        return true;
    }();
    (void)once;
    if (size == 0) return 0;
    const bool news = data[0] & 1;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    twfuzz::clear_dir("in");
    twfuzz::clear_dir("soup");
    twfuzz::write_list_site();
    twfuzz::write_file("soup/AREAS", news ? "NEWS0001\tfido.test\tBn\n" : "MAIL0001\tEmail\tbn\n");
    std::string framed(4, '\0');
    for (int i = 0; i < 4; ++i) framed[i] = char(text.size() >> (24 - 8 * i));
    framed += text;
    twfuzz::write_file(news ? "soup/NEWS0001.msg" : "soup/MAIL0001.msg", framed);
    if (twfuzz::load_config("t.cfg")) tw::import_run();
    twfuzz::release_config();
    twfuzz::finish_run();
    return 0;
}
