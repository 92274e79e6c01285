// Keywords for filtering: own-organization and junk actions, the junk
// pattern tables with their categories, and texts to leave out.
#include <cstdlib>

#include "config/keywords.h"

namespace tw {

namespace {

void set_action(const ConfigLine& at, FilterAction& out) {
    if (iequals(at.param, "ignore")) {
        out = FilterAction::Ignore;
    } else if (iequals(at.param, "kill")) {
        out = FilterAction::Kill;
    } else if (iequals(at.param, "move")) {
        out = FilterAction::Move;
    } else if (iequals(at.param, "junk")) {
        out = FilterAction::Junk;
    } else {
        at.warn("invalid action");
        out = FilterAction::Ignore;
    }
}

void set_area(const ConfigLine& at, Text<128>& out) {
    out.assign(at.param);
    out.to_upper();
}

// One pattern line: the category in force and the text at its exact length.
template <int Cap>
void add_pattern(const ConfigLine& at, Table<PatternEntry, Cap>& table, const char* too_many) {
    if (table.full()) return at.warn(too_many);
    char* text = dup_text(at.param);
    PatternEntry* e = text ? table.add() : nullptr;
    if (!e) {
        std::free(text);
        return at.warn("out of memory");
    }
    e->category = g_junk_category;
    e->text = text;
}

}  // namespace

void kw_OwnOrgAction(const ConfigLine& at) { set_action(at, mutable_config().OwnOrgAction); }
void kw_OwnOrgArea(const ConfigLine& at) { set_area(at, mutable_config().OwnOrgArea); }
void kw_JunkAction(const ConfigLine& at) { set_action(at, mutable_config().JunkAction); }
void kw_JunkArea(const ConfigLine& at) { set_area(at, mutable_config().JunkArea); }

void kw_JunkCategory(const ConfigLine& at) {
    if (iequals(at.param, "Email")) {
        g_junk_category = JunkCategory::Email;
    } else if (iequals(at.param, "News")) {
        g_junk_category = JunkCategory::News;
    } else if (iequals(at.param, "All")) {
        g_junk_category = JunkCategory::All;
    } else if (iequals(at.param, "None")) {
        g_junk_category = JunkCategory::None;
    } else {
        at.warn("invalid category");
    }
}

void kw_JunkFrom(const ConfigLine& at) { add_pattern(at, mutable_config().JunkFrom, "too many JunkFrom keywords"); }
void kw_JunkSubj(const ConfigLine& at) { add_pattern(at, mutable_config().JunkSubj, "too many JunkSubj keywords"); }
void kw_JunkStr(const ConfigLine& at) { add_pattern(at, mutable_config().JunkStr, "too many JunkStr keywords"); }
void kw_JunkGroup(const ConfigLine& at) { add_pattern(at, mutable_config().JunkGroup, "too many JunkGroup keywords"); }

void kw_JunkFromTo(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().JunkFromTo); }

void kw_IgnoreMessageText(const ConfigLine& at) {
    auto& table = mutable_config().IgnoreMessageText;
    if (table.full()) return at.warn("too many IgnoreMessageText keywords");
    if (!table.add(at.param)) at.warn("out of memory");
}

}  // namespace tw
