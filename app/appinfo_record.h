// The application information record as the windows read it. The values come from appinfo.h,
// which the version resource reads too, so the record and the resource always agree.
#pragma once
#include "appinfo.h"
#include <string_view>

struct AppInfoRecord {
    std::string_view Title;
    short Major, Minor, Revision;
    std::string_view Comments;
    std::string_view LegalCopyright;
    std::string_view ProductName;
    std::string_view FileDescription;
    std::string_view CompanyName;
};

inline constexpr AppInfoRecord App{
    APPINFO_TITLE,         APPINFO_MAJOR,        APPINFO_MINOR,    APPINFO_REVISION,    APPINFO_COMMENTS,
    APPINFO_LEGAL_COPYRIGHT, APPINFO_PRODUCT_NAME, APPINFO_COMMENTS, APPINFO_COMPANY_NAME,
};

// Contact values of the build, used by the About window's links.
inline constexpr std::string_view ContactEmail = APPINFO_CONTACT_EMAIL;
inline constexpr std::string_view WebSite = APPINFO_WEB_SITE;
