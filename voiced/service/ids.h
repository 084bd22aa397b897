// The service program's texts: ids shared by nelkovoice.rc and nelkovoice.cpp.
#pragma once

#define IDS_INSTALL_TITLE 1
#define IDS_INSTALL_ASK 2
#define IDS_INSTALL_DONE 3
#define IDS_INSTALL_FAILED 4
