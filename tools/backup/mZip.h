#pragma once
// The bridge between cZip and the packer: registers the callbacks, passes the option record and
// the patterns, and turns the packer's calls back into cZip's events.
#include <QString>

namespace ravekbackup {

class cZip;

// Runs the packer for `zip`; returns its result (0 success).
int VBZip(cZip& zip, const QString& lcid);

}  // namespace ravekbackup
