/* Resource and control identifiers, shared by the resource script and the code. */
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDD_INSTALLER 101
#define IDI_INSTALLER 102
#define IDB_SIDEBAR   104

#define IDC_STATUS    1000
#define IDC_INSTALL   1002
#define IDC_CANCEL    1003

#endif
