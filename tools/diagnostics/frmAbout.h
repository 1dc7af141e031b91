#pragma once
// The About window: the program's name and version, and a button that starts the system's
// information program.
#include <QDialog>

#include <optional>
#include <string>

#include "RavekDiagnostics.h"

namespace voicecheck {

// A value of the registry file's HKEY_LOCAL_MACHINE root as the About window reads it: a string
// value unchanged; a 32-bit value as "&h" and its bytes in hexadecimal from the last to the first,
// each without a leading zero; any other type leaves `value` as it was. False when the key or
// value is absent.
bool GetKeyValue(const std::string& key, const std::string& valueName, std::string& value);

// The system information program: the one the registry names, else a desktop one that is
// installed; nullopt when there is none.
std::optional<QString> SystemInformationProgram();

class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(const QString& programVersion, StartProgram start, long languageIndex, QWidget* parent = nullptr);

    void StartSysInfo();

private:
    StartProgram start_;
};

}  // namespace voicecheck
