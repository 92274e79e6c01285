// AREAS lines and the four SOUP framings: the input is read as an AREAS
// index and as a message file of each framing, frame by frame.
#include <string_view>

#include "harness.h"
#include "platform/platform.h"
#include "soup/soup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    std::string_view in(reinterpret_cast<const char*>(data), size);
    twfuzz::write_file("soup/AREAS", in);
    tw::AreasReader areas;
    if (areas.open("soup/")) {
        tw::SoupArea area;
        while (areas.next(area)) {
        }
    }
    for (char format : {'u', 'm', 'M', 'b', 'B', 'x'}) {
        tw::platform::File f;
        if (!f.open("soup/AREAS", tw::platform::OpenMode::Read)) continue;
        long long at = 0;
        tw::MessageExtent extent{};
        for (int n = 0; n < 10000; ++n) {
            if (!f.seek(at) || tw::read_soup_frame(f, (long long)size, format, extent) != tw::FrameResult::Message)
                break;
            if (extent.start < at || extent.end <= at || extent.end > (long long)size) __builtin_trap();
            at = extent.end;
        }
    }
    return 0;
}
