// Resource ids shared by the resource script and the code.
#ifndef TARVO_RES_RESOURCE_H
#define TARVO_RES_RESOURCE_H

#define IDR_MAINFRAME 128
#define IDD_TARVO_DIALOG 102
#define IDC_PLACEHOLDER 1000

#endif
