#include "support/site_fixture.h"

#include "config/config.h"
#include "config/reader.h"
#include "driver/counters.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/options.h"
#include "lists/lists.h"
#include "export/convert.h"
#include "soup/soup.h"

namespace twtest {

void reset_gateway_globals() {
    tw::reset_config();
    tw::reset_message();
    tw::reset_list_table();
    tw::install_list_config_loader();
    tw::reset_reply_state();
    tw::reset_name_hints();
    tw::options() = tw::RunOptions{};
    tw::area_counters() = tw::AreaCounters{};
    tw::export_counters() = tw::ExportCounters{};
}

std::string SiteFixture::configure(const std::string& text, const std::string& name) {
    dir.write(name, text);
    testing::internal::CaptureStderr();
    tw::read_config_file(dir.path(name), dir.path("tarnwick"));
    return testing::internal::GetCapturedStderr();
}

}  // namespace twtest
