#pragma once
// Opening a file or starting a program through the shell.
#include <QString>

// Opens `file` with `params` through the shell's default action. Returns
// a value above 32 on success, as the platform's call does. "iexplore"
// with an address as parameter opens the address in the default browser.
int LaunchFile(const QString& file, const QString& params, const QString& dir, int showCmd);

// The address of one of Kestrel's own help pages ("recording.html", ...),
// as installed with the program.
QString helpPageUrl(const QString& page);
