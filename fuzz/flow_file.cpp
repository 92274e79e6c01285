// A flow file in the outbound for the gateway's address, naming packets
// and files of the site, through the export.
#include <sys/stat.h>

#include <string_view>

#include "export/export.h"
#include "driver/message.h"
#include "harness.h"

namespace {
// A small packet for the gateway that flow files name.
const std::string& gate_packet() {
    static const std::string bytes = twfuzz::read_file(TWFUZZ_DATA "/gate.pkt");
    return bytes;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        twfuzz::write_file("t.cfg", twfuzz::site_config());
        ::mkdir("files", 0755);
        // The export only reads the configuration: once will do.
        return twfuzz::load_config("t.cfg");
    }();
    if (!once) return 0;
    twfuzz::clear_dir("out");
    twfuzz::clear_dir("soup");
    twfuzz::clear_dir("files");
    twfuzz::write_file("files/a.txt", "file a\n");
    twfuzz::write_file("files/mail.pkt", gate_packet());
    twfuzz::write_file("out/01180001.out", gate_packet());
    twfuzz::write_file("out/01180001.flo", std::string_view(reinterpret_cast<const char*>(data), size));
    tw::reset_message();
    tw::run_export();
    twfuzz::finish_run();
    return 0;
}
