// The command line's text on a Windows console.
#pragma once

namespace quorvane::cli {

// On Windows, standard output and standard error that are consoles get the program's UTF-8 text
// as UTF-16 (WriteConsoleW), so that every character shows as it is, whatever the console's code
// page; a pipe or a file still gets the UTF-8 bytes. Elsewhere it does nothing.
void useUnicodeConsole();

}  // namespace quorvane::cli
