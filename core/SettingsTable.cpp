#include "SettingsTable.h"

namespace
{
constexpr DefaultSetting Fixed(const char* name, const char* text)
{
    return {name, SettingSource::Fixed, text};
}
} // namespace

const DefaultSetting kDefaultSettings[kDefaultSettingCount] = {
    {"AppPath", SettingSource::InstallDirectory, ""},
    Fixed("CurrFolderID", "0"),
    Fixed("QVOEEnabled", "1"),
    Fixed("QVOutlookEnabled", "1"),
    {"CurrLanguage", SettingSource::Language, ""},
    Fixed("AddToEnemiesWhenSpam", "1"),
    Fixed("AddToFriendsWhenNotSpam", "1"),
    Fixed("DisplayBtnAddToEnemies", "1"),
    Fixed("DisplayBtnAddToFriends", "1"),
    Fixed("DisplayBtnBounce", "0"),
    Fixed("DisplayBtnCleanFolder", "1"),
    Fixed("DisplayBtnIsNotSpam", "1"),
    Fixed("DisplayBtnIsSpam", "1"),
    Fixed("DisplayBtnManageEnemies", "1"),
    Fixed("DisplayBtnManageFriends", "1"),
    Fixed("DisplayBtnOptions", "0"),
    Fixed("DisplayBtnReport", "1"),
    Fixed("CommandBarLeft", "0"),
    Fixed("CommandBarRowIndex", "4"),
    Fixed("CheckEmailAtStartup", "1"),
    Fixed("CheckInboxAtStartUp", "0"),
    Fixed("FirstRun", "1"),
    Fixed("LaunchWebCrawler", "1"),
    Fixed("OnlyContacts", "0"),
    Fixed("PromptAddToEnemies", "1"),
    Fixed("PromptAddToFriends", "1"),
    Fixed("PromptIsNotSpam", "1"),
    Fixed("PromptIsSpam", "1"),
    Fixed("QuarantineEntryID", "1"),
    Fixed("ScanSubFolders", "0"),
    Fixed("SendReportToIsp", "1"),
    Fixed("SendReportToSpamAbuse", "1"),
    Fixed("ShowBounceDlg", "0"),
    Fixed("Smtp", "1"),
    Fixed("UseSmtpForBounce", "1"),
    Fixed("SmtpEmailAddress", ""),
    Fixed("SmtpPassword", ""),
    Fixed("SmtpServer", ""),
    Fixed("SmtpUseAuth", ""),
    Fixed("SmtpUsername", ""),
    Fixed("Threshold", "0.87"),
    Fixed("ToEqFrom", "0"),
    Fixed("ToIsBlank", "0"),
    Fixed("UseCodepages", "1"),
    Fixed("UseEmails", "1"),
    Fixed("UseIFT", "1"),
    Fixed("UseKeywords", "1"),
    Fixed("WarnPopUp", "1"),
    Fixed("FirstRunMgr", "1"),
    Fixed("FirstRunOutlook", "1"),
    Fixed("FirstRunOE", "1"),
};
