// A stored netmail message (*.MSG in NetmailDir) through the export.
#include <string_view>

#include "export/export.h"
#include "driver/message.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        std::string cfg = twfuzz::site_config("NetmailDir net/\n");
        cfg.replace(cfg.find("MailerType Binkley"), 18, "MailerType ArcMail");
        twfuzz::write_file("t.cfg", cfg);
        // The export only reads the configuration: once will do.
        return twfuzz::load_config("t.cfg");
    }();
    if (!once) return 0;
    twfuzz::clear_dir("net");
    twfuzz::clear_dir("soup");
    twfuzz::write_file("net/1.MSG", std::string_view(reinterpret_cast<const char*>(data), size));
    tw::reset_message();
    tw::run_export();
    twfuzz::finish_run();
    return 0;
}
