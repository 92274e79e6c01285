#include "config/lookup.h"

namespace tw {

int addr_map_for_recipient(const GatewayConfig& c, std::string_view address, Field& name,
                           const RecipientList& more) {
    int selected = 0;
    for (int i = 0; i < c.AddrMap.count; ++i) {
        const AddrMapEntry& e = c.AddrMap[i];
        bool by_address = false;
        if (!e.inet.empty()) {
            bool hit = iequals(e.inet, address);
            for (int k = 0; !hit && k < more.count; ++k) hit = iequals(e.inet, more.entries[k].address);
            if (hit) {
                selected = i;
                by_address = true;
            }
        }
        if (!e.name.empty()) {
            if (by_address && (name.empty() || iequals(name, address))) {
                name = e.name;
            } else {
                bool hit = iequals(name, e.name);
                for (int k = 0; !hit && k < more.count; ++k) hit = iequals(more.entries[k].name, e.name);
                if (hit) selected = i;
            }
        }
        // A match of the first entry looks on: a later one may still fit better.
        if (selected != 0) break;
    }
    return selected;
}

const AddrMapEntry* addr_map_for_ftn(const GatewayConfig& c, const FtnAddress& ftn, bool with_name) {
    for (const AddrMapEntry* e : c.AddrMap)
        if (e->ftn == ftn && (!with_name || !e->name.empty())) return e;
    return nullptr;
}

int route_for_sender(const GatewayConfig& c, std::string_view address) {
    for (int i = 0; i < c.Route.count; ++i)
        if (iequals(c.Route[i].inet, address)) return i;
    return -1;
}

int route_for_ftn(const GatewayConfig& c, const FtnAddress& ftn) {
    for (int i = 0; i < c.Route.count; ++i)
        if (c.Route[i].ftn == ftn) return i;
    return -1;
}

const AreaMapEntry* area_map_for_newsgroup(const GatewayConfig& c, std::string_view newsgroup) {
    for (const AreaMapEntry* e : c.AreaMap)
        if (iequals(e->newsgroup, newsgroup)) return e;
    return nullptr;
}

const AreaMapEntry* area_map_for_area(const GatewayConfig& c, std::string_view area) {
    for (const AreaMapEntry* e : c.AreaMap)
        if (iequals(e->area, area)) return e;
    return nullptr;
}

const CharSetEntry* charset_for_import(const GatewayConfig& c, std::string_view inet_charset) {
    for (const CharSetEntry* e : c.CharSetMap)
        if (e->direction != Direction::Export && e->inet && iequals(e->inet, inet_charset)) return e;
    return nullptr;
}

const CharSetEntry* charset_for_export(const GatewayConfig& c, std::string_view ftn_charset) {
    for (const CharSetEntry* e : c.CharSetMap) {
        if (e->direction == Direction::Import || !e->ftn || !e->inet) continue;
        // The CHRS name and level come as one word joined by '#', as the
        // entries write them; an entry may name more than the kludge.
        if (istarts_with(e->ftn, ftn_charset)) return e;
    }
    return nullptr;
}

std::string ftn_charset_name(const CharSetEntry& e) {
    std::string name(e.ftn ? e.ftn : "");
    std::size_t hash = name.rfind('#');
    if (hash != std::string::npos) name[hash] = ' ';
    return name;
}

const AliasEntry* alias_for_name(const GatewayConfig& c, std::string_view alias) {
    for (const AliasEntry* e : c.Alias)
        if (iequals(e->alias, alias)) return e;
    return nullptr;
}

const AliasEntry* alias_for_inet(const GatewayConfig& c, std::string_view inet) {
    for (const AliasEntry* e : c.Alias)
        if (iequals(e->inet, inet)) return e;
    return nullptr;
}

std::string_view fido_domain_for_zone(const GatewayConfig& c, std::uint16_t zone) {
    for (const FidoDomainEntry* e : c.FidoDomain)
        if (e->domain && zone >= e->zone_low && zone <= e->zone_high) return e->domain;
    return kDefaultFidoDomain;
}

}  // namespace tw
