/* The application information record: one definition for the code and for the version
   resource. Plain preprocessor text so the resource compiler can read it too. */
#ifndef LUMENO_APPINFO_H
#define LUMENO_APPINFO_H

#define APPINFO_TITLE            "Lumeno Control Panel"
#define APPINFO_MAJOR            1
#define APPINFO_MINOR            0
#define APPINFO_REVISION         0
#define APPINFO_VERSION_TEXT     "1.00"
#define APPINFO_COMMENTS         "Opens the Windows Control Panel applets from a picture of a desk."
#define APPINFO_LEGAL_COPYRIGHT  "Copyright (C) 2026 Lumeno"
#define APPINFO_PRODUCT_NAME     "Lumeno Control Panel"
#define APPINFO_COMPANY_NAME     "."
#define APPINFO_INTERNAL_NAME    "LumenoControlPanel"
#define APPINFO_ORIGINAL_FILE    "LumenoControlPanel.exe"

/* Contact values fixed at build time; override with -D when building for a real owner. */
#ifndef APPINFO_CONTACT_EMAIL
#define APPINFO_CONTACT_EMAIL    "contact@example.com"
#endif
#ifndef APPINFO_WEB_SITE
#define APPINFO_WEB_SITE         "http://example.com/"  /* short enough to end left of the divider */
#endif

#endif
