// Classification and addressing of one Internet message on import.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/types.h"
#include "import/convert.h"
#include "platform/platform.h"

namespace tw {

enum class ListCommand : std::uint8_t { None = 0, Subscribe = 1, Unsubscribe = 2, ChangePass = 3 };

struct Classification {
    MessageKind kind;
    JunkKind junk;
    bool list_area;
    bool own_org;
    bool ignore_text;
    int hosted_list;  // -1: none
    ListCommand command;
    std::string_view truncate_start;
    std::string_view truncate_end;
    long long body_start;
};

// The area being imported, as the import run hands it over.
struct ImportArea {
    std::uint8_t kind;  // 0 mail, 1 news
};

// What became of a message, for the run to know when its input may go.
enum class Delivery : std::uint8_t {
    Packet,  // written into the current packet: delivered with it
    Done,    // delivered already (a list command or posting), or dropped
    Kept,    // not delivered (reported): it stays in the input
};

[[nodiscard]] Delivery classify_message(platform::File& message_file, platform::File& packet, long long extent_start,
                                        long long extent_end, ImportBuffers& buffers);

// The verbose line of an ordinary mail message.
void show_verbose_line();

}  // namespace tw
