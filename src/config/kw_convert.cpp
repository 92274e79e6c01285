#include "config/keywords.h"

namespace tw {

void kw_HeaderInfo(const ConfigLine&) {}
void kw_NoSpamText(const ConfigLine&) {}
void kw_DefCharSet(const ConfigLine&) {}
void kw_CharSetMap(const ConfigLine&) {}
void kw_QuoteTo(const ConfigLine&) {}
void kw_QuoteChar(const ConfigLine&) {}
void kw_QuoteMask(const ConfigLine&) {}
void kw_SeparateMSG(const ConfigLine&) {}
void kw_LineWidth(const ConfigLine&) {}
void kw_UseQP(const ConfigLine&) {}
void kw_Origin(const ConfigLine&) {}
void kw_Organization(const ConfigLine&) {}
void kw_StripKludges(const ConfigLine&) {}
void kw_StrictFidoMsgID(const ConfigLine&) {}
void kw_KillOrigin(const ConfigLine&) {}
void kw_TimeZone(const ConfigLine&) {}
void kw_AttachMail(const ConfigLine&) {}
void kw_AttachNews(const ConfigLine&) {}
void kw_EncodeFormat(const ConfigLine&) {}
void kw_ExportMaxTo(const ConfigLine&) {}
void kw_ExportMaxXPost(const ConfigLine&) {}

}  // namespace tw
