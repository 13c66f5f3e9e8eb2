// Every command method's choices in the forwarding procedure, in one table: its action
// template, how it names the host, where its error text goes and when the main call's
// HRESULT is tested. The out-values and the remote exchanges are in the family sources.
#pragma once

#include "access/Forwarding.h"

namespace vela::commands {

using H = HostName;
using E = ErrorTarget;
using T = TestPoint;

#define VELA_PREFIX "Command for Remote Server '%s' : "

// clang-format off
// Secondary DNS (ServerAdmin)
inline constexpr Command SetupSecDNS            {VELA_PREFIX "Set Secondary DNS for Domain '%s'",            H::AsReceived, E::Member,    T::AfterErrorText};
inline constexpr Command delslavedns            {VELA_PREFIX "Delete Slave DNS for Zone '%s'",               H::AsReceived, E::Member,    T::AfterErrorText};
inline constexpr Command ReloadSecDNS           {VELA_PREFIX "Reload Secondary DNS for Domain '%s'",         H::AsReceived, E::Member,    T::AfterErrorText};

// DNS zones (DnsAdmin)
inline constexpr Command AlterCompleteDNSEntries{VELA_PREFIX "Alter Complete DNS Entries for Domain '%s'",   H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command CreateAEntry           {VELA_PREFIX "Create A Record for Domain '%s'",              H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command AddMXRecord            {VELA_PREFIX "Add MX Record for Domain '%s'",                H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command DeletePrimaryDomain    {VELA_PREFIX "Delete Primary Domain '%s'",                   H::AsReceived, E::Member,    T::ErrorTextHResult};
inline constexpr Command DeleteThirdLevelDomain {VELA_PREFIX "Delete Third Level Domain '%s'",               H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command GetDNSFile             {VELA_PREFIX "Get DNS File '%s'",                            H::AsReceived, E::Success,   T::AfterOutValue};
inline constexpr Command SetDNSFile             {VELA_PREFIX "Set DNS File '%s'",                            H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command CreateCNAMEEntry       {VELA_PREFIX "Create CNAME Record for Domain '%s'",          H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command CreateCNAMEEntryEx     {VELA_PREFIX "Create CNAME Record for Domain '%s'",          H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command DeleteCNAMEEntryEx     {VELA_PREFIX "Delete CNAME Record for Domain '%s'",          H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command DeleteMXRecord         {VELA_PREFIX "Delete MX Record for Domain '%s'",             H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command DeleteAEntry           {VELA_PREFIX "Delete A Record for Domain '%s'",              H::AsReceived, E::Member,    T::AfterCall};
inline constexpr Command ChangeIP               {VELA_PREFIX "Change IP of Domain '%s'",                     H::AsReceived, E::CallLocal, T::AfterCall};
inline constexpr Command CheckDNSExistance      {VELA_PREFIX "Check DNS Existance of Domain '%s'",           H::AsReceived, E::CallLocal, T::AfterCall};
inline constexpr Command CreateSPFEntry         {VELA_PREFIX "Create SPF Record for Domain '%s'",            H::AsReceived, E::Member,    T::AfterCall};

// BIND zones and services (BindDnsAdmin)
inline constexpr Command CBindDNSDomain         {VELA_PREFIX "Alter Bind DNS Entries for Domain '%s'",       H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command CreateBindARecord      {VELA_PREFIX "Create Bind A Record for Domain '%s'",         H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command CreateBindMXRecord     {VELA_PREFIX "Create Bind MX Record for Domain '%s'",        H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command DeleteBindSoa          {VELA_PREFIX "Delete Bind SOA Record for Domain '%s'",       H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command DeleteBindARec         {VELA_PREFIX "Delete Bind A Record for Domain '%s'",         H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command DeleteBindMX           {VELA_PREFIX "Delete Bind MX Record for Domain '%s'",        H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command ControlService         {VELA_PREFIX "Control Service : %s Service '%s'",            H::AsReceived, E::Success,   T::AfterCall};
inline constexpr Command CreateBindSPFRecord    {VELA_PREFIX "Create Bind SPF Record for Domain '%s'",       H::AsReceived, E::Success,   T::AfterCall};

// Mail domains (ServerAdmin)
inline constexpr Command MailSetup              {VELA_PREFIX "Mail Setup for Domain '%s' : Mail Server is '%s'",               H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command DeleteMailDomain       {VELA_PREFIX "Delete Mail Domain '%s' : Mail Server is '%s'",                  H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command GetMailFolderSize      {VELA_PREFIX "Get Mail Folder Size for Domain '%s' : Mail Server is '%s'",     H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command ResetMailBoxes         {VELA_PREFIX "Reset Mailboxes for Domain '%s' : Mail Server is '%s' with MailboxCount is '%d'", H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command GetMailBoxCount        {VELA_PREFIX "GetMailboxCount for Domain '%s' : Mail Server is '%s'",          H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command AddUser                {VELA_PREFIX "Add User for Domain '%s' : Mail Server is '%s'",                 H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command BackupMailDomain       {VELA_PREFIX "Backup Mail Domain '%s' : Mail Server is '%s'",                  H::Widened, E::CallLocal, T::AfterCall};

// MailEnable users and agent maintenance (ServerAdmin)
inline constexpr Command GetMEUsersList         {VELA_PREFIX "Get MailEnable Users List for Domain '%s'",    H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command DeleteMEUser           {VELA_PREFIX "Delete MailEnable User '%s' : Domain is '%s'", H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command AddMEUser              {VELA_PREFIX "Add MailEnable User '%s' : Domain is '%s'",    H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command UpdateMEUser           {VELA_PREFIX "Update MailEnable User '%s' : Domain is '%s'", H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command OtherMEUserFlag        {nullptr,                                                    H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command SetDefaultResources    {VELA_PREFIX "Set default resources enabled for Domain '%s'", H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command TestDComCommunication  {"Test DCom Communication",                                  H::Widened, E::CallLocal, T::AfterCall};
inline constexpr Command Restart                {nullptr,                                                    H::Widened, E::CallLocal, T::AfterCall, false};
// clang-format on

#undef VELA_PREFIX

} // namespace vela::commands
