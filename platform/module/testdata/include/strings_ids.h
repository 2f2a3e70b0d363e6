// String identifiers of the test string module, shared with code as a program's resource.h is.
#ifndef STRINGS_IDS_H
#define STRINGS_IDS_H

#define IDS_BASE 100
#define IDS_TITLE (IDS_BASE + 0)
#define IDS_EMPTY (IDS_BASE + 1)
#define IDS_QUOTES 102
#define IDS_BLOCK_START 0x70 /* 112, first of its block */
#define IDS_BLOCK_END 127
#define IDS_UNICODE 128
#define IDS_LAST 0xFFFF
#define TWICE(x) ((x)*2)

int codeInAHeaderIsNotPartOfTheScript(void);

#endif
