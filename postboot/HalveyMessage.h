// What the post-boot popup shows: the message the main program left in the
// message file, and the bubble's HTML around it.
#pragma once

#include "ce/cstring.h"

// Reads the message file's first kMaxMessageBytes bytes as UTF-16 (cut to
// whole characters and at a NUL), then deletes the file. A file that is
// missing or cannot be read gives an empty message.
CString ReadHalveyMessage(const CString& messageFile);

// The bubble's HTML: kBubbleHtmlFormat filled with the message and the
// two button texts. The texts are escaped for HTML (& < > " '), so that a
// path or a button text cannot break the markup; ordinary texts are
// inserted as they are.
CString HalveyNotificationHtml(const CString& message, const CString& viewReportButton,
                               const CString& dismissButton);

// & < > " ' as character references; everything else unchanged.
CString EscapeHtmlText(const CString& text);
