#include "support/site_fixture.h"

#include "config/config.h"
#include "config/reader.h"
#include "driver/counters.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/options.h"
#include "export/attach_list.h"
#include "export/convert.h"
#include "ftn/writer.h"
#include "lists/lists.h"
#include "support/soup_builder.h"

namespace twtest {

void reset_gateway_globals() {
    tw::reset_config();
    tw::reset_message();
    tw::close_subscriber_reader();
    tw::reset_list_table();
    tw::install_list_config_loader();
    tw::reset_admin_counter();
    tw::reset_reply_state();
    tw::reset_name_hints();
    tw::options() = tw::RunOptions{};
    tw::area_counters() = tw::AreaCounters{};
    tw::export_counters() = tw::ExportCounters{};
    tw::attach_list().clear();
    tw::set_writer_clock(nullptr);
}

std::time_t fixed_clock() { return 1772694489; }

std::string SiteFixture::configure(const std::string& text, const std::string& name) {
    dir.write(name, text);
    return stderr_of([&] { loaded = tw::read_config_file(dir.path(name), dir.path("tarnwick")); });
}

std::string SiteFixture::warning(const std::string& what, long line, const std::string& name) const {
    return config_warning(what, line, dir.path(name));
}

std::string SiteFixture::subdir(const std::string& rel) const {
    dir.mkdir(rel);
    return dir.path(rel) + "/";
}

void SiteFixture::start_replies() {
    tw::mutable_config().SoupDir.assign(subdir("soup"));
    tw::rotate_reply_file(tw::ReplyKind::Mail);
    tw::rotate_reply_file(tw::ReplyKind::News);
}

std::vector<std::string> SiteFixture::replies(tw::ReplyKind kind) const {
    return unframe(read_file(tw::reply_file_path(kind)));
}

}  // namespace twtest
