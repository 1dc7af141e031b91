#include "StringTable.h"

#include <QFile>
#include <QStringList>

#include "AutomationError.h"

namespace ravekqt {

namespace {

constexpr int32_t kResourceNotFound = 326;
const char* const kSource = "StringTable";

}  // namespace

StringTable StringTable::Parse(const QString& tsv) {
    StringTable table;
    const QStringList lines = tsv.split(QLatin1Char('\n'));
    const long offsets[] = {kHebrewOffset, kArabicOffset, kEnglishOffset};
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList columns = line.split(QLatin1Char('\t'));
        bool isNumber = false;
        const long id = columns[0].toLong(&isNumber);
        if (!isNumber || id < 0 || id >= kArabicOffset || columns.size() < 4)
            throw AutomationError(RuntimeErrors::TypeMismatch, kSource,
                                  "String table line " + std::to_string(n + 1) + " is not id, Hebrew, Arabic, English");
        for (int language = 0; language < 3; ++language)
            if (!columns[language + 1].isEmpty()) table.texts_.insert(id + offsets[language], columns[language + 1]);
    }
    return table;
}

const StringTable& StringTable::Tools() {
    static const StringTable table = [] {
        QFile file(QStringLiteral(":/ravek/tool-strings.tsv"));
        if (!file.open(QIODevice::ReadOnly))
            throw AutomationError(RuntimeErrors::FileNotFound, kSource, "The tools' string table is missing");
        return Parse(QString::fromUtf8(file.readAll()));
    }();
    return table;
}

QString StringTable::Text(long id) const {
    const auto found = texts_.constFind(id);
    if (found == texts_.constEnd())
        throw AutomationError(kResourceNotFound, kSource, "Resource with identifier '" + std::to_string(id) + "' not found");
    return *found;
}

}  // namespace ravekqt
