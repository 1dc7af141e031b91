#include "mZip.h"

#include <cstring>
#include <string>
#include <vector>

#include "cZip.h"

namespace ravekbackup {

namespace {

// What the callbacks of one packing share: the wrapper whose events they raise and the flags
// of the password and comment questions.
struct Session {
    cZip* Zip;
    bool Cancelled = false;
    bool ConfirmPassword = false;
};

int OnMessage(Session& session, const char* buffer, unsigned long length) {
    if (length <= 1 || length >= 1024 || !session.Zip->Progress) return 0;
    // The packer writes its lines in UTF-8, the file system's encoding.
    session.Zip->Progress(1, QString::fromUtf8(buffer, static_cast<qsizetype>(length)));
    return 0;
}

int OnComment(Session& session, char* buffer) {
    buffer[0] = '\0';
    if (session.Cancelled || !session.Zip->CommentRequest) return 0;
    QString comment;
    bool cancel = false;
    session.Zip->CommentRequest(comment, cancel);
    if (cancel) {
        session.Cancelled = true;
    } else if (!comment.trimmed().isEmpty()) {
        const std::string bytes = comment.toUtf8().left(255).toStdString();
        std::memcpy(buffer, bytes.c_str(), bytes.size() + 1);
    }
    return 0;
}

int OnPassword(Session& session, char* buffer, int size, const char*, const char*) {
    if (session.Cancelled || !session.Zip->PasswordRequest || size <= 0) return 1;
    QString password;
    bool cancel = false;
    session.Zip->PasswordRequest(password, size, session.ConfirmPassword, cancel);
    if (cancel || password.trimmed().isEmpty()) {
        session.Cancelled = session.Cancelled || cancel;
        return 1;
    }
    const std::string bytes = password.toUtf8().left(size - 1).toStdString();
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    std::memcpy(buffer, bytes.data(), bytes.size());
    session.ConfirmPassword = true;  // the next question asks for the confirmation
    return 0;
}

int OnService(Session& session, const char* name, unsigned long) {
    if (!session.Zip->Cancel) return 0;
    bool cancel = false;
    session.Zip->Cancel(QString::fromUtf8(name), cancel);
    if (cancel) session.Cancelled = true;
    return cancel ? 1 : 0;
}

}  // namespace

int VBZip(cZip& zip, const QString& lcid) {
    zip.lcid_ = lcid;
    Session session{&zip};
    ravekzip::ZipLibrary library;
    ravekzip::ZIPUSERFUNCTIONS functions;
    functions.print = [&session](const char* b, unsigned long n) { return OnMessage(session, b, n); };
    functions.comment = [&session](char* b) { return OnComment(session, b); };
    functions.password = [&session](char* b, int n, const char* p, const char* f) { return OnPassword(session, b, n, p, f); };
    functions.service = [&session](const char* f, unsigned long n) { return OnService(session, f, n); };
    library.ZpInit(functions);
    // The root folder travels in the record instead of becoming the process's current folder.
    library.ZpSetOptions(zip.options_);
    std::vector<std::string> names;
    for (const QString& spec : zip.fileSpecs_) names.push_back(spec.toStdString());
    return library.ZpArchive(static_cast<int>(names.size()), zip.zipFile_.toStdString(), names);
}

}  // namespace ravekbackup
