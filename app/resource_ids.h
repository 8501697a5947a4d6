/* Resource identifiers shared by the resource script and the code. */
#ifndef LUMENO_RESOURCE_IDS_H
#define LUMENO_RESOURCE_IDS_H

#define IDI_PROGRAM          1
#define IDI_PROGRAM_16       30001
#define IDI_PROGRAM_32       30002
#define IDC_HAND_POINTER             2

/* Pictures, stored as their original files (RCDATA) and decoded at load. */
#define IDP_SCENE            100
#define IDP_LOGO             101
#define IDP_ICON_FIRST       110 /* 110..122: the thirteen applet icons, in index order */
/* The same pictures at twice the resolution, for displays above 96 DPI. */
#define IDP_SCENE_2X         200
#define IDP_LOGO_2X          201

#endif
