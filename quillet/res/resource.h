#pragma once

#define IDD_PATCH 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDI_PATCH 130

#define IDS_APP_TITLE 0xE000
