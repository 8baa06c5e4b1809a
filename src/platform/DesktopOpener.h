#pragma once

#include "DesktopServices.h"

#include <QUrl>

// Hands a URL to the desktop's opener (xdg-open; open on macOS), the one way both front ends
// open URLs. Every stream of the opener goes to the null device: xdg-open repeats a URL that
// it cannot open, password included, and a handler has no business reading our terminal.
// The opener inherits our environment less every AWS_ variable. A postgres: URL's password
// goes to the handler that comes with iamlink in PGPASSWORD instead of the URL when the
// desktop's default for the scheme is that handler; to any other, in the URL.
//
// The opener's answer is its exit status when it ends within answerTimeMs; one still running
// by then has started a handler (xdg-open waits for some) and is left to run.
namespace DesktopOpener {
void open(const QUrl &url, DesktopServices::OpenAnswer answered);
constexpr int answerTimeMs = 1000;
}
