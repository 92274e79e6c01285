// Lookups in the configuration tables, both directions side by side: each
// takes the record it searches and changes nothing (but for the one AddrMap
// choice that also settles the recipient's name), first match in
// configuration order.
#pragma once

#include <string>
#include <string_view>

#include "config/config.h"
#include "driver/message.h"

namespace tw {

// ---------------------------------------------------------------- AddrMap

// The AddrMap entry an Internet mail goes to: by the recipient's address or
// name, or one of the further recipients'. An entry found by address that
// carries a name gives that name to a recipient named only by address.
// Returns the index chosen (0 when nothing matched, or an empty table).
int addr_map_for_recipient(const GatewayConfig& c, std::string_view address, Field& name,
                           const RecipientList& more);

// The first entry for the FTN address (with a name, when asked); nullptr
// when none.
const AddrMapEntry* addr_map_for_ftn(const GatewayConfig& c, const FtnAddress& ftn, bool with_name = false);

// ------------------------------------------------------------------ Route

// Index of the Route entry for the Internet sender address; -1 when none.
int route_for_sender(const GatewayConfig& c, std::string_view address);
// Index of the Route entry for the FTN address; -1 when none.
int route_for_ftn(const GatewayConfig& c, const FtnAddress& ftn);

// ---------------------------------------------------------------- AreaMap

// The entry for the newsgroup (import) or for the FTN area (export).
const AreaMapEntry* area_map_for_newsgroup(const GatewayConfig& c, std::string_view newsgroup);
const AreaMapEntry* area_map_for_area(const GatewayConfig& c, std::string_view area);

// ------------------------------------------------------------- CharSetMap

// The entry for an Internet character set on import, or for an FTN one on
// export (entries of the other direction are passed over). On export the
// FTN name is the CHRS kludge's, its level joined by '#' ("IBMPC#2"), and
// the first entry whose FTN name begins with it is taken.
const CharSetEntry* charset_for_import(const GatewayConfig& c, std::string_view inet_charset);
const CharSetEntry* charset_for_export(const GatewayConfig& c, std::string_view ftn_charset);
// The FTN name of an entry, with the blank its '#' stands for.
std::string ftn_charset_name(const CharSetEntry& e);

// ------------------------------------------------------------------ Alias

const AliasEntry* alias_for_name(const GatewayConfig& c, std::string_view alias);
const AliasEntry* alias_for_inet(const GatewayConfig& c, std::string_view inet);

// ------------------------------------------------------------- FidoDomain

// The Internet domain of an FTN zone: the FidoDomain entry covering it, else
// the default. A leading '#' asks for p.f.n.z labels in front.
std::string_view fido_domain_for_zone(const GatewayConfig& c, std::uint16_t zone);

}  // namespace tw
