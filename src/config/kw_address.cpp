// Keywords for the gateway address, address mapping, domains, routes,
// aliases and area mapping.
#include <cstdio>

#include "config/keywords.h"

namespace tw {

void kw_FidoAddr(const ConfigLine& at) { parse_ftn_address(at.param, at, mutable_config().FidoAddr); }

void kw_AddrMap(const ConfigLine& at) {
    auto& table = mutable_config().AddrMap;
    if (table.full()) return at.warn("too many AddrMap keywords");
    if (!has_blank(at.param)) return at.warn("AddrMap misses parameter");
    std::string_view rest = at.param;
    std::string_view ftn = split_param(rest);
    std::string_view inet = split_param(rest);
    std::string_view name = rest;
    AddrMapEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    parse_ftn_address(ftn, at, e->ftn);
    std::size_t comma = inet.find(',');
    if (comma == std::string_view::npos) {
        parse_email_address(inet, at, e->inet);
    } else {
        parse_email_address(inet.substr(0, comma), at, e->inet);
        parse_email_address(inet.substr(comma + 1), at, e->inet2);
    }
    e->name.assign(name);
}

void kw_Personal(const ConfigLine& at) {
    at.warn("obsolete keyword Personal");
    auto& table = mutable_config().AddrMap;
    if (table.full()) return at.warn("too many AddrMap/Personal keywords");
    if (!has_blank(at.param)) return at.warn("Personal misses parameter");
    std::string_view rest = at.param;
    std::string_view ftn = split_param(rest);
    AddrMapEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    parse_ftn_address(ftn, at, e->ftn);
    e->name.assign(rest);
}

void kw_MapFidoOrg(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().MapFidoOrg); }

void kw_TransFidoOrg(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().TransFidoOrg); }

void kw_FidoDomain(const ConfigLine& at) {
    auto& table = mutable_config().FidoDomain;
    if (table.full()) return at.warn("too many FidoDomain keywords");
    if (!has_blank(at.param)) return at.warn("FidoDomain misses parameter");
    std::string_view rest = at.param;
    std::string zones(split_param(rest));
    unsigned low = 0, high = 0;
    bool ok;
    if (zones.find('-') == std::string::npos) {
        ok = std::sscanf(zones.c_str(), "%u", &low) == 1;
        high = low;
    } else {
        ok = std::sscanf(zones.c_str(), "%u-%u", &low, &high) == 2;
    }
    if (!ok) return at.warn("FidoDomain has invalid parameter");
    char* domain = dup_text(rest);
    FidoDomainEntry* e = domain ? table.add() : nullptr;
    if (!e) {
        std::free(domain);
        return at.warn("out of memory");
    }
    e->zone_low = std::uint16_t(low);
    e->zone_high = std::uint16_t(high);
    e->domain = domain;
}

void kw_EmailArea(const ConfigLine& at) {
    auto& area = mutable_config().EmailArea;
    area.assign(at.param);
    area.to_upper();
    if (area.empty()) area = "NETMAIL";
}

void kw_AreaMap(const ConfigLine& at) {
    auto& table = mutable_config().AreaMap;
    if (table.full()) return at.warn("too many AreaMap keywords");
    if (!has_blank(at.param)) return at.warn("AreaMap misses parameter");
    std::string_view rest = at.param;
    std::string_view area = split_param(rest);
    std::string_view group = split_param(rest);
    AreaMapEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    e->area.assign(area);
    e->area.to_upper();
    e->newsgroup.assign(group);
    if (rest.empty()) {
        e->direction = Direction::Both;
    } else if (iequals(rest, "import")) {
        e->direction = Direction::Import;
    } else if (iequals(rest, "export")) {
        e->direction = Direction::Export;
    } else {
        at.warn("unknown direction");
        e->direction = Direction::Both;
    }
}

void kw_Route(const ConfigLine& at) {
    auto& table = mutable_config().Route;
    if (table.full()) return at.warn("too many Route keywords");
    if (!has_blank(at.param)) return at.warn("Route misses parameter");
    std::string_view rest = at.param;
    std::string_view ftn = split_param(rest);
    std::string_view inet = split_param(rest);
    std::string_view third = split_param(rest);
    std::string_view password, subject;
    if (istarts_with(third, "SUBJ=")) {
        if (!rest.empty()) return at.warn("Route has too many parameters");
        subject = third.substr(5);
    } else {
        password = third;
        if (!rest.empty()) {
            if (!istarts_with(rest, "SUBJ=")) return at.warn("Route has invalid parameter");
            subject = rest.substr(5);
        }
    }
    RouteEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    parse_ftn_address(ftn, at, e->ftn);
    parse_email_address(inet, at, e->inet);
    e->password.assign(password);
    e->subject.assign(subject);
}

void kw_Alias(const ConfigLine& at) {
    auto& table = mutable_config().Alias;
    if (table.full()) return at.warn("too many Alias keywords");
    if (!has_blank(at.param)) return at.warn("Alias misses parameter");
    std::string_view rest = at.param;
    std::string_view inet = split_param(rest);
    AliasEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    parse_email_address(inet, at, e->inet);
    e->alias.assign(rest);
}

}  // namespace tw
