#include "components/fmxutils.h"

// Placeholder until the shell stand-in lands.
int LaunchFile(const QString&, const QString&, const QString&, int) { return 0; }
QString helpPageUrl(const QString& page) { return page; }
