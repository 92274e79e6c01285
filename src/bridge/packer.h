// Writes new areas into the SOUP packet for the gateway's import. Messages
// go into message files at once (binary framing, so any byte is safe), but
// nothing is named in AREAS until commit(). What the sources must do once
// their mail is safely in the packet (move maildir files aside, drop a
// batch, advance a high-water mark) is kept in a journal written before
// AREAS, so a run cut short is finished, or undone, by the next run.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "bridge/config.h"

namespace twsoup {

class Packer {
public:
    explicit Packer(const BridgeConfig& cfg) : cfg_(cfg) {}
    ~Packer();
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    // One message for the area; CRLF becomes LF. False when it cannot be
    // written: the run must then stop and roll back.
    [[nodiscard]] bool add(bool news, const std::string& area, std::string message);

    // Source actions, done only once the packet is committed:
    void move_after(const std::string& from, const std::string& to);  // rename (makes to's folder)
    void remove_after(const std::string& path);
    void append_after(const std::string& from, const std::string& to);  // add from's bytes to to, remove from
    void state_after(const std::string& group, long long high);

    // Names the new files in AREAS and carries out the actions. False (with
    // everything undone) when AREAS cannot be written.
    [[nodiscard]] bool commit();
    // Removes the message files written so far.
    void rollback();

    long messages() const { return messages_; }

    // Finishes or undoes what an interrupted run left (its journal).
    // False when it could not be finished: nothing may be packed then.
    [[nodiscard]] static bool recover(const BridgeConfig& cfg);

private:
    struct AreaFile {
        std::string prefix;
        std::string path;
        bool news = false;
        int fd = -1;
        long count = 0;
    };
    bool open_area(AreaFile& a);

    const BridgeConfig& cfg_;
    std::map<std::string, AreaFile> areas_;   // key: kind letter + area name
    std::vector<std::string> order_;          // keys in the order areas were opened
    std::vector<std::string> actions_;
    long messages_ = 0;
    bool journal_written_ = false;
};

// The per-group high-water marks of the NNTP fetch ("group number" lines).
std::map<std::string, long long> load_state(const std::string& path);
bool save_state(const std::string& path, const std::map<std::string, long long>& state);

}  // namespace twsoup
