#include "import/filters.h"

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "import/classify.h"

namespace tw {

namespace {

bool part_matches(std::string_view pattern, std::string_view part) {
    if (!pattern.empty() && pattern.front() == '*') {
        std::string_view rest = pattern.substr(1);
        return part.size() >= rest.size() && iequals(part.substr(part.size() - rest.size()), rest);
    }
    if (!pattern.empty() && pattern.back() == '*') {
        std::string_view head = pattern.substr(0, pattern.size() - 1);
        return istarts_with(part, head);
    }
    return iequals(pattern, part);
}

// Whether an entry of this category is tested on a message of this area
// kind in the header tests.
bool applies(JunkCategory category, bool news) {
    switch (category) {
    case JunkCategory::Email:
        return !news;
    case JunkCategory::News:
        return news;
    case JunkCategory::All:
    case JunkCategory::None:
        return true;
    }
    return false;
}

// Moves or marks the message as the action says. True when it is killed.
bool take_action(FilterAction action, std::string_view area) {
    CurrentMessage& m = message();
    switch (action) {
    case FilterAction::Ignore:
        return false;
    case FilterAction::Kill:
        return true;
    case FilterAction::Junk:
        m.saved_recipient_name = m.recipient_name;
        m.recipient_name = "JunkMail";
        [[fallthrough]];
    case FilterAction::Move:
        m.area_name.assign(area);
        return false;
    }
    return false;
}

}  // namespace

bool match_address_pattern(std::string_view pattern, std::string_view address) {
    std::size_t pat_at = pattern.find('@');
    std::size_t addr_at = address.find('@');
    if ((pat_at == std::string_view::npos) != (addr_at == std::string_view::npos)) return false;
    if (pat_at == std::string_view::npos) return part_matches(pattern, address);
    return part_matches(pattern.substr(0, pat_at), address.substr(0, addr_at)) &&
           part_matches(pattern.substr(pat_at + 1), address.substr(addr_at + 1));
}

bool own_org_filter(Classification& c) {
    const GatewayConfig& cfg = config();
    const CurrentMessage& m = message();
    if (m.organization.empty() || m.organization.view() != cfg.Organization.view()) return false;
    c.own_org = true;
    c.junk = JunkKind::None;
    c.list_area = false;
    return take_action(cfg.OwnOrgAction, cfg.OwnOrgArea.view());
}

void junk_filter(Classification& c) {
    if (c.junk != JunkKind::None || c.list_area || c.own_org) return;
    const GatewayConfig& cfg = config();
    const CurrentMessage& m = message();
    bool news = m.area_kind == AreaKind::News;

    for (const PatternEntry* e : cfg.JunkFrom) {
        if (!applies(e->category, news)) continue;
        if (match_address_pattern(e->text, m.sender_address) || match_address_pattern(e->text, m.reply_address)) {
            c.junk = JunkKind::From;
            return;
        }
    }
    for (const PatternEntry* e : cfg.JunkSubj) {
        if (applies(e->category, news) && contains_text(e->text, m.subject)) {
            c.junk = JunkKind::Subject;
            return;
        }
    }
    const CrosspostList& xp = crossposts();
    for (const PatternEntry* e : cfg.JunkGroup) {
        if (!applies(e->category, news)) continue;
        bool hit = iequals(e->text, m.newsgroup);
        for (int i = 0; !hit && i < xp.count; ++i) hit = iequals(e->text, xp.names[i]);
        if (hit) {
            c.junk = JunkKind::Group;
            return;
        }
    }
    for (const PatternEntry* e : cfg.JunkStr) {
        if (applies(e->category, news) && contains_text(e->text, m.subject)) {
            c.junk = JunkKind::Body;
            return;
        }
    }
    if (cfg.JunkFromTo && !news &&
        (iequals(m.sender_address, m.recipient_address) || iequals(m.reply_address, m.recipient_address)))
        c.junk = JunkKind::FromTo;
}

bool apply_filters(Classification& c) {
    if (own_org_filter(c)) return true;
    junk_filter(c);
    if (c.junk == JunkKind::None) return false;
    const GatewayConfig& cfg = config();
    return take_action(cfg.JunkAction, cfg.JunkArea.view());
}

bool junk_text_in_body(std::string_view line) {
    for (const PatternEntry* e : config().JunkStr) {
        if (e->category != JunkCategory::Email && e->category != JunkCategory::All) continue;
        if (contains_text(e->text, line)) return true;
    }
    return false;
}

}  // namespace tw
