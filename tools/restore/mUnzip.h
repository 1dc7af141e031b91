#pragma once
// The bridge between cUnzip and the extractor: builds the callbacks, passes the option record
// and the name lists, and turns the extractor's calls back into cUnzip's events.
#include <QString>
#include <QStringList>

namespace ravekrestore {

class cUnzip;

// At most this many names to extract (and to exclude) are passed.
inline constexpr int kMaxNames = 1023;

// Runs the extractor; returns its result (0 success, -1 when it could not be run).
int VBUnzip(cUnzip& unzip, const QStringList& names, const QStringList& excluded, const QString& lcid);

}  // namespace ravekrestore
