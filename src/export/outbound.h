// Where the export finds FTN mail in packets: the Binkley-style outbound of
// one FTN address (mail packets and flow files of each flavour), and the
// packet directory of the /pkt= option.
#pragma once

#include <string>
#include <string_view>

#include "driver/types.h"

namespace tw {

// The outbound base name of an address: OutboundDir, in the zone's own
// directory (".%03x") when BaseZone is set and differs from the zone, then
// "%04x%04x" with net and node, then ".pnt" and "%08x" with a point. The
// zone and point directories are found without regard to letter case.
std::string outbound_base(const FtnAddress& address);

// Scans the outbound of one address (the gateway's own or a Route entry's,
// with the ExportTarget already set) over the flavours normal, crash,
// direct and, with ExportAllMail, hold. to_name is the to-name of the
// file-attach packets made for files a flow file lists.
void scan_outbound(const FtnAddress& address, std::string_view to_name);

// Exports every *.pkt in the /pkt= directory that is addressed to the
// gateway or a route; packets for anyone else stay untouched.
void scan_packet_directory();

}  // namespace tw
