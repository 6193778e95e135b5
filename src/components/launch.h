#pragma once
// Opening a file or starting a program through the shell.
#include <QString>
#include <QStringList>

namespace components {

// Opens `file` with `params` through the shell's default action
// (shell::ShellExecuteA). Returns a value above 32 on success, 32 or less
// on failure (2: the file, or the opener, is missing). "iexplore" with an
// address as parameter opens the address in the default browser. Strings
// of any length are passed whole.
int LaunchFile(const QString& file, const QString& params, const QString& dir, int showCmd);

// The folders searched for Kestrel's help pages, first match wins: the
// installed ../share/kestrel/help beside the executable, then the source
// tree's docs/help for a run from the build tree.
QStringList helpDirs();

// Why a launch of target (a file or an address) failed, as a plain message
// for the user naming it; code is what LaunchFile returned (32 or less).
// what says what was to be opened ("the recording", "the help page").
QString launchFailureMessage(const QString& what, const QString& target, int code);

// The file:// address of one of Kestrel's own help pages
// ("recording.html", ...).
QString helpPageUrl(const QString& page);

}  // namespace components
