#include "cZip.h"

#include "mZip.h"

namespace ravekbackup {

void cZip::SetBasePath(const QString& value) {
    basePath_ = value;
    options_.szRootDir = value.toStdString();
}

void cZip::SetMessageLevel(int value) {
    if (value < 0 || value > 2) return;
    messageLevel_ = value;
    options_.fVerbose = value == 0;
    options_.fQuiet = value == 1;
}

void cZip::AddFileSpec(const QString& sSpec) {
    if (fileSpecs_.size() < kMaxFileSpecs) fileSpecs_.append(sSpec);
}

void cZip::Zip(const QString& LCID) { lastResult_ = VBZip(*this, LCID); }

void cZip::Delete() {
    options_.fDeleteEntries = 1;
    lastResult_ = VBZip(*this, lcid_);
    options_.fDeleteEntries = 0;
}

}  // namespace ravekbackup
