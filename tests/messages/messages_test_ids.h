// Identifiers of the resources the message tests read from their own program.
#pragma once

// String table: one block of sixteen identifiers, 1024 to 1039.
#define IDS_BASE 1024
#define IDS_HELLO 1025        // five ASCII characters
#define IDS_ASCII 1026        // ASCII punctuation and digits
#define IDS_STORED_UTF8 1027  // "caf" and the stored form of U+00E9
#define IDS_PLAIN_LATIN 1028  // "caf" and a plain U+00E9
#define IDS_STORED_WIDE 1029  // stored forms of U+20AC and U+65E5
#define IDS_LONG 1030         // 4158 'a', the stored form of U+00E9, "zzz"
#define IDS_EMPTY_SLOT 1035   // not in the table, though its block is
#define IDS_NO_BLOCK 5000     // not in the table, nor is any of its block

// A small dialog with an edit control and a static text.
#define IDD_SAMPLE 200
#define IDC_EDIT 201
#define IDC_LABEL 202
