// A packet from the packet directory through the export converter into
// the SOUP reply packet.
#include <sys/stat.h>

#include <string_view>

#include "driver/options.h"
#include "export/export.h"
#include "driver/message.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        twfuzz::write_file("t.cfg", twfuzz::site_config(twfuzz::kListConfigLine));
        ::mkdir("pkt", 0755);
        twfuzz::write_list_site();
        // The export only reads the configuration: once will do.
        return twfuzz::load_config("t.cfg");
    }();
    if (!once) return 0;
    twfuzz::clear_dir("pkt");
    twfuzz::clear_dir("soup");
    twfuzz::write_list_site();
    twfuzz::write_file("pkt/x.pkt", std::string_view(reinterpret_cast<const char*>(data), size));
    tw::reset_message();
    tw::options().PacketDirectory = "pkt/";
    tw::run_export();
    twfuzz::finish_run();
    return 0;
}
