#include "config/keywords.h"

namespace tw {

void kw_OwnOrgAction(const ConfigLine&) {}
void kw_OwnOrgArea(const ConfigLine&) {}
void kw_JunkAction(const ConfigLine&) {}
void kw_JunkArea(const ConfigLine&) {}
void kw_JunkCategory(const ConfigLine&) {}
void kw_JunkFrom(const ConfigLine&) {}
void kw_JunkSubj(const ConfigLine&) {}
void kw_JunkStr(const ConfigLine&) {}
void kw_JunkGroup(const ConfigLine&) {}
void kw_JunkFromTo(const ConfigLine&) {}
void kw_IgnoreMessageText(const ConfigLine&) {}

}  // namespace tw
