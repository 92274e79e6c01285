// Keyword handlers, one per configuration keyword.
#pragma once

#include "config/reader.h"

namespace tw {

void kw_FidoAddr(const ConfigLine& at);
void kw_AddrMap(const ConfigLine& at);
void kw_MapFidoOrg(const ConfigLine& at);
void kw_TransFidoOrg(const ConfigLine& at);
void kw_FidoDomain(const ConfigLine& at);
void kw_HeaderInfo(const ConfigLine& at);
void kw_NoSpamText(const ConfigLine& at);
void kw_PacketPwd(const ConfigLine& at);
void kw_DefCharSet(const ConfigLine& at);
void kw_CharSetMap(const ConfigLine& at);
void kw_QuoteTo(const ConfigLine& at);
void kw_QuoteChar(const ConfigLine& at);
void kw_QuoteMask(const ConfigLine& at);
void kw_ImportLimit(const ConfigLine& at);
void kw_MaxPKTSize(const ConfigLine& at);
void kw_SeparateMSG(const ConfigLine& at);
void kw_LineWidth(const ConfigLine& at);
void kw_UseQP(const ConfigLine& at);
void kw_Origin(const ConfigLine& at);
void kw_Organization(const ConfigLine& at);
void kw_OwnOrgAction(const ConfigLine& at);
void kw_OwnOrgArea(const ConfigLine& at);
void kw_JunkAction(const ConfigLine& at);
void kw_JunkArea(const ConfigLine& at);
void kw_JunkCategory(const ConfigLine& at);
void kw_JunkFrom(const ConfigLine& at);
void kw_JunkSubj(const ConfigLine& at);
void kw_JunkStr(const ConfigLine& at);
void kw_JunkGroup(const ConfigLine& at);
void kw_JunkFromTo(const ConfigLine& at);
void kw_ExportMaxTo(const ConfigLine& at);
void kw_ExportMaxXPost(const ConfigLine& at);
void kw_EmailArea(const ConfigLine& at);
void kw_AreaMap(const ConfigLine& at);
void kw_StripKludges(const ConfigLine& at);
void kw_StrictFidoMsgID(const ConfigLine& at);
void kw_KillOrigin(const ConfigLine& at);
void kw_LogFile(const ConfigLine& at);
void kw_TimeZone(const ConfigLine& at);
void kw_QuickScan(const ConfigLine& at);
void kw_MailerType(const ConfigLine& at);
void kw_ExportAllMail(const ConfigLine& at);
void kw_InboundDir(const ConfigLine& at);
void kw_OutboundDir(const ConfigLine& at);
void kw_NetmailDir(const ConfigLine& at);
void kw_AttachPath(const ConfigLine& at);
void kw_DecodeDir(const ConfigLine& at);
void kw_SoupDir(const ConfigLine& at);
void kw_TempDir(const ConfigLine& at);
void kw_BaseZone(const ConfigLine& at);
void kw_AttachMail(const ConfigLine& at);
void kw_AttachNews(const ConfigLine& at);
void kw_EncodeFormat(const ConfigLine& at);
void kw_Route(const ConfigLine& at);
void kw_Alias(const ConfigLine& at);
void kw_Personal(const ConfigLine& at);
void kw_MailingList(const ConfigLine& at);
void kw_MailingListOption(const ConfigLine& at);
void kw_IgnoreMessageText(const ConfigLine& at);
void kw_ListConfig(const ConfigLine& at);
void kw_Include(const ConfigLine& at);

}  // namespace tw
