#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "config/reader.h"
#include "driver/message.h"
#include "driver/output.h"
#include "export/export.h"
#include "import/import.h"
#include "lists/lists.h"
#include "platform/platform.h"

#ifndef TW_BUILD_STAMP
#define TW_BUILD_STAMP __DATE__ " " __TIME__
#endif

namespace tw {

void show_usage() {
    console_printf("Usage: (all commands & options can be abbreviated to their first letter)\n\n");
    console_printf("tarnwick import      import mail from Internet -> Fidonet\n");
    console_printf("tarnwick export      export mail from Fidonet -> Internet\n");
    console_printf("tarnwick pack        pack mailinglist user files\n");
    console_printf("tarnwick check       reads & checks all configuration files\n");
    console_printf("\nCommandline options:\n\n");
    console_printf("/pkt=<dir>           export *.pkt for gateway in directory\n");
    console_printf("/config=<filename>   use <filename> as configuration file\n");
    console_printf("/test                don't delete mail/files after processing\n");
    console_printf("/verbose             display from/to information for every mail\n");
    console_printf("/global              display global statistics rather than per file\n");
    std::fflush(nullptr);
    std::exit(1);
}

void require_directory(const char* keyword, std::string_view path) {
    std::string tested(path);
    std::size_t cut = tested.rfind('\\');
    if (cut == std::string::npos) cut = tested.rfind('/');
    if (cut != std::string::npos) tested.erase(cut);
    // The root directory has nothing left after its separator.
    bool root = tested.empty() && !path.empty() && cut == 0;
    if (!(root ? platform::exists(path) : platform::exists(tested))) {
        log_printf("FATAL ERROR: subdirectory %s (%s) does not exist\n", tested.c_str(), keyword);
        std::fflush(nullptr);
        std::exit(1);
    }
}

namespace {

void parse_argument(std::string_view arg) {
    RunOptions& o = options();
    if (iequals(arg, "import") || iequals(arg, "i")) {
        o.command = RunCommand::Import;
    } else if (iequals(arg, "export") || iequals(arg, "e")) {
        o.command = RunCommand::Export;
    } else if (iequals(arg, "pack") || iequals(arg, "p")) {
        o.command = RunCommand::Pack;
    } else if (iequals(arg, "check") || iequals(arg, "c")) {
        o.command = RunCommand::Check;
    } else if (!arg.empty() && (arg[0] == '/' || arg[0] == '-')) {
        std::string_view opt = arg.substr(1);
        if (iequals(opt, "test") || iequals(opt, "t")) {
            o.test = true;
        } else if (iequals(opt, "verbose") || iequals(opt, "v")) {
            o.verbose = true;
        } else if (iequals(opt, "global") || iequals(opt, "g")) {
            o.global = true;
        } else if (istarts_with(opt, "config=") || istarts_with(opt, "c=")) {
            std::string_view value = opt.substr(opt.find('=') + 1);
            // An empty name cannot be a file; too long a name is cut.
            if (value.empty()) show_usage();
            o.ConfigFileName.assign(value);
        } else if (istarts_with(opt, "pkt=") || istarts_with(opt, "p=")) {
            std::string value(opt.substr(opt.find('=') + 1));
            if (value.empty()) show_usage();
            platform::append_separator(value);
            o.PacketDirectory.assign(value);
        } else {
            show_usage();
        }
    } else {
        show_usage();
    }
}

void take_environment(GatewayConfig& c) {
    if (const char* tz = platform::env("TZ")) c.TimeZone.assign(tz);
    if (const char* temp = platform::env("TEMP")) {
        std::string dir(temp);
        // A value that cannot hold its separator is no usable directory.
        if (!dir.empty() && dir.size() < 259) {
            platform::append_separator(dir);
            c.TempDir.assign(dir);
        } else if (!dir.empty() && dir.size() == 259 && (dir.back() == '\\' || dir.back() == '/')) {
            c.TempDir.assign(dir);
        }
    }
}

bool validity_checks(const GatewayConfig& c, const char* cfg_name) {
    if (c.FidoAddr.zone == 0) {
        error_printf("Error: no valid gateway Fido-address defined in %s\n", cfg_name);
        return false;
    }
    if (c.AddrMap.count == 0) {
        error_printf("Error: no address mappings defined in %s\n", cfg_name);
        return false;
    }
    if (c.MailerType == MailerKind::None) {
        error_printf("Error: no valid mailer type defined in %s\n", cfg_name);
        return false;
    }
    if (c.InboundDir.empty() || c.SoupDir.empty() ||
        (c.MailerType == MailerKind::Binkley && c.OutboundDir.empty()) ||
        (c.MailerType == MailerKind::ArcMail && c.NetmailDir.empty())) {
        error_printf("Error: required directories not defined in %s\n", cfg_name);
        return false;
    }
    return true;
}

}  // namespace

int run_program(int argc, char** argv) {
    console_printf("Tarnwick-%s v%d.%02d - Fidonet/Internet gateway software\n", kPlatformTag, kVersionMajor,
                   kVersionMinor);
    console_printf("Built %s\n", TW_BUILD_STAMP);
    console_printf("\n");

    RunOptions& o = options();
    o = RunOptions{};
    o.ConfigFileName = "tarnwick.cfg";
    for (int i = 1; i < argc; ++i) parse_argument(argv[i] ? argv[i] : "");
    if (o.command == RunCommand::None) show_usage();
    if (!o.PacketDirectory.empty() && o.command != RunCommand::Export) show_usage();

    g_config = static_cast<GatewayConfig*>(alloc_or_die(sizeof(GatewayConfig)));
    allocate_message_buffers();
    allocate_list_table();
    install_list_config_loader();
    GatewayConfig& c = mutable_config();

    take_environment(c);
    set_config_defaults(c);

    std::string_view program = argc > 0 && argv[0] ? std::string_view(argv[0]) : std::string_view();
    if (!read_config_file(o.ConfigFileName.view(), program)) return 1;

    if (!validity_checks(c, o.ConfigFileName.c_str())) return 1;
    if (c.DecodeDir.empty()) c.DecodeDir = c.InboundDir;

    require_directory("TempDir", c.TempDir);
    require_directory("InboundDir", c.InboundDir);
    if (c.MailerType == MailerKind::Binkley) require_directory("OutboundDir", c.OutboundDir);
    if (c.MailerType == MailerKind::ArcMail) require_directory("NetmailDir", c.NetmailDir);
    require_directory("SoupDir", c.SoupDir);
    require_directory("DecodeDir", c.DecodeDir);

    if (c.ExportMaxTo == 0 || c.ExportMaxTo > 1024) c.ExportMaxTo = 1024;
    if (c.ExportMaxXPost == 0 || c.ExportMaxXPost > 1024) c.ExportMaxXPost = 1024;

    // One run at a time on the SOUP packet, the outbound and the list
    // files; a check only reads.
    platform::SiteLock site_lock;
    if (o.command != RunCommand::Check && !site_lock.acquire(c.SoupDir.view())) {
        if (site_lock.busy())
            error_printf("! another run holds %s%s; try again later\n", c.SoupDir.c_str(), platform::kSiteLockName);
        else
            error_printf("! unable to create lock file %s%s\n", c.SoupDir.c_str(), platform::kSiteLockName);
        return 1;
    }

    open_run_log(c.LogFile);
    // A list change a killed run left half done is settled first.
    if (o.command != RunCommand::Check) recover_list_journal();

    switch (o.command) {
    case RunCommand::Import:
        import_run();
        break;
    case RunCommand::Export:
        run_export();
        break;
    case RunCommand::Pack:
        pack_run();
        break;
    case RunCommand::Check:
        log_printf("Configuration checked. Nothing more to do.\n");
        break;
    case RunCommand::None:
        break;
    }

    close_run_log();
    return 0;
}

}  // namespace tw
