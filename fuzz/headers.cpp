// The Internet header field parsers: address lists, identifiers,
// newsgroups and dates, each on its own working copy of the value.
#include <cstring>
#include <vector>

#include "driver/message.h"
#include "harness.h"
#include "rfc822/header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    twfuzz::enter_site();
    static bool once = [] {
        tw::reset_message();
        return true;
    }();
    (void)once;
    // Header values reach the parsers as NUL-terminated lines.
    std::vector<char> value(data, data + size);
    value.push_back('\0');
    std::vector<char> copy;
    auto fresh = [&] {
        copy = value;
        return copy.data();
    };
    tw::CurrentMessage& m = tw::message();
    for (tw::AddressKind kind : {tw::AddressKind::From, tw::AddressKind::To, tw::AddressKind::Cc,
                                 tw::AddressKind::Bcc, tw::AddressKind::ReplyTo}) {
        tw::recipients().clear();
        tw::parse_address_list(fresh(), &m.sender_address, &m.sender_name, kind);
        tw::recipients().clear();
        tw::parse_address_list(fresh(), nullptr, nullptr, kind);
    }
    tw::Field id;
    tw::extract_message_id(fresh(), id, false);
    tw::extract_message_id(fresh(), id, true);
    tw::crossposts().clear();
    tw::split_newsgroups(fresh(), "fido.test");
    tw::parse_date(fresh(), m);
    tw::Field text;
    tw::trim_field(std::string_view(value.data(), size), text);
    char* t = fresh();
    tw::unescape_text(t);
    tw::unquote(t);
    tw::restore_blanks(t);
    return 0;
}
