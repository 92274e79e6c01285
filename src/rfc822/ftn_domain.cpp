#include "rfc822/ftn_domain.h"

#include <cstdio>

#include "config/config.h"
#include "config/lookup.h"
#include "driver/helpers.h"

namespace tw {

namespace {

// The final part of `text` is '.' followed by `domain` (ignoring case).
bool ends_with_label_domain(std::string_view text, std::string_view domain) {
    if (domain.empty() || text.size() <= domain.size()) return false;
    return text[text.size() - domain.size() - 1] == '.' && iequals(text.substr(text.size() - domain.size()), domain);
}

}  // namespace

bool is_ftn_domain(std::string_view domain) {
    std::string_view def = kDefaultFidoDomain;
    if (!def.empty() && def.front() == '#') def.remove_prefix(1);
    if (ends_with_label_domain(domain, def)) return true;
    const auto& table = config().FidoDomain;
    for (int i = 0; i < table.size(); ++i) {
        const char* d = table[i].domain;
        if (!d || d[0] != '#') continue;
        if (ends_with_label_domain(domain, d + 1)) return true;
    }
    return false;
}

bool ftn_address_from_domain(std::string_view at_text, FtnAddress& out) {
    out = FtnAddress{0, 0, 0, 0};
    std::uint16_t* targets[4] = {&out.point, &out.node, &out.net, &out.zone};
    const char labels[4] = {'p', 'f', 'n', 'z'};
    std::size_t pos = 0;  // the '@', then each '.' in turn
    bool have = true;
    bool fits_all = true;
    for (int i = 0; i < 4 && have; ++i) {
        if (pos + 1 >= at_text.size() || ascii_lower(at_text[pos + 1]) != labels[i]) continue;
        const char* begin = at_text.data() + pos + 2;
        const char* end = at_text.data() + at_text.size();
        bool fits = true;
        *targets[i] = leading_number(begin < end ? begin : end, end, nullptr, &fits);
        fits_all = fits_all && fits;
        std::size_t dot = at_text.find('.', pos + 1);
        if (dot == std::string_view::npos)
            have = false;
        else
            pos = dot;
    }
    return have && fits_all;
}

void append_ftn_address_domain(std::string& out, const FtnAddress& address) {
    std::string_view domain = fido_domain_for_zone(config(), address.zone);
    if (!domain.empty() && domain.front() == '#') {
        if (address.point != 0) {
            out += 'p';
            append_decimal(out, address.point);
            out += '.';
        }
        out += 'f';
        append_decimal(out, address.node);
        out += ".n";
        append_decimal(out, address.net);
        out += ".z";
        append_decimal(out, address.zone);
        out += '.';
        domain.remove_prefix(1);
    }
    out += domain;
}

std::string ftn_address_domain(const FtnAddress& address) {
    std::string out;
    append_ftn_address_domain(out, address);
    return out;
}

}  // namespace tw
