#include "mUnzip.h"

#include <QDateTime>

#include <cstring>
#include <string>
#include <vector>

#include "ZipText.h"
#include "cUnzip.h"

namespace ravekrestore {

void AddListingEntry(cUnzip& unzip, const ravekzip::ListEntry& entry) {
    const QString name = QString::fromStdString(entry.filename);
    if (name.isEmpty()) return;
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    UnzipFileEntry file;
    file.FileDirectory = slash < 0 ? QString() : name.left(slash);
    file.Filename = name.mid(slash + 1);
    file.FileSize = entry.ucsize;
    file.FileCompressionRatio = static_cast<long>(entry.cfactor);
    file.FilePackedSize = entry.cfactor * entry.ucsize / 100;
    file.FileDate = QDateTime(QDate(static_cast<int>(entry.yr), static_cast<int>(entry.mo), static_cast<int>(entry.dy)),
                              QTime(static_cast<int>(entry.hh), static_cast<int>(entry.mm), static_cast<int>(entry.ss)));
    file.FileCRC = entry.crc;
    file.FileCompressionMethod = QString::fromStdString(entry.methbuf);
    file.FileEncrypted = entry.fCrypt;
    file.FileSelected = true;
    unzip.files_.push_back(std::move(file));
}

namespace {

struct Session {
    cUnzip* Unzip;
    bool Cancelled = false;
};

std::vector<std::string> NameList(const QStringList& names) {
    std::vector<std::string> list;
    for (const QString& name : names.mid(0, kMaxNames)) list.push_back(name.toStdString());
    return list;
}

}  // namespace

int VBUnzip(cUnzip& unzip, const QStringList& names, const QStringList& excluded, const QString& lcid) {
    Session session{&unzip};
    ravekzip::USERFUNCTIONS functions;
    // The extractor's texts are UTF-8; a message turns "\" into "/" no more, as "/" is the
    // folder separator here.
    functions.print = [&session](const char* buffer, unsigned long length) {
        if (length > 1 && length < 1024 && session.Unzip->Progress)
            session.Unzip->Progress(1, QString::fromUtf8(buffer, static_cast<qsizetype>(length)));
        return 0;
    };
    functions.replace = [&session](const char* name) -> int {
        long response = ravekzip::IDM_REPLACE_NO;
        if (session.Unzip->OverWritePrompt) session.Unzip->OverWritePrompt(QString::fromUtf8(name), response);
        return static_cast<int>(response);
    };
    functions.password = [&session](char* buffer, int size, const char*, const char*) {
        if (session.Cancelled || !session.Unzip->PasswordRequest || size <= 1) return 1;
        QString password;
        bool cancel = false;
        session.Unzip->PasswordRequest(password, cancel);
        if (cancel || password.trimmed().isEmpty()) {
            session.Cancelled = true;
            return 1;
        }
        const std::string bytes = password.toUtf8().left(std::min(size - 1, 254)).toStdString();
        std::memcpy(buffer, bytes.c_str(), bytes.size() + 1);
        return 0;
    };
    functions.SendApplicationMessage = [&unzip](const ravekzip::ListEntry& entry) { AddListingEntry(unzip, entry); };
    functions.ServCallBk = [&session](const char* name, unsigned long) {
        if (!session.Unzip->Cancel) return 0;
        bool cancel = false;
        session.Unzip->Cancel(QString::fromUtf8(name), cancel);
        return cancel ? 1 : 0;
    };
    ravekzip::DCL options = unzip.options_;
    // Names of an archive made on Windows are in the code page of the language's locale; for a
    // locale without a number (Russian) the language's own ANSI code page.
    options.AnsiCodePage = ravekzip::CodePageOfLcid(lcid.toStdString(), unzip.defaultCodePage_);
    try {
        return ravekzip::Wiz_SingleEntryUnzip(NameList(names), NameList(excluded), options, functions);
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace ravekrestore
