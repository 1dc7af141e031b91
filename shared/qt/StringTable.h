#pragma once
// The string table of the tool programs (backup, restore, diagnostics): one text per id and
// language, fetched as id + the language offset of the code page manager (Hebrew 0, Arabic 1000,
// English 3000; Russian has no texts). The table is the UTF-8 TSV resource
// :/ravek/tool-strings.tsv (resources/tool-strings.tsv): "id<TAB>Hebrew<TAB>Arabic<TAB>English<TAB>note".
#include <QHash>
#include <QString>

namespace ravekqt {

// The language offsets of the table's columns.
constexpr long kHebrewOffset = 0;
constexpr long kArabicOffset = 1000;
constexpr long kEnglishOffset = 3000;

class StringTable {
public:
    // The table compiled into the tools.
    static const StringTable& Tools();
    // A table from TSV text; a malformed line raises AutomationError 13 naming its line number.
    static StringTable Parse(const QString& tsv);

    bool Contains(long id) const { return texts_.contains(id); }
    // The text of an id (language offset included). A missing id raises AutomationError 326
    // ("Resource with identifier 'N' not found"), as the caller has no text to show.
    QString Text(long id) const;
    QString Text(long id, long languageOffset) const { return Text(id + languageOffset); }
    int Size() const { return static_cast<int>(texts_.size()); }

private:
    QHash<long, QString> texts_;
};

// The text of id + languageOffset in the tools' table.
inline QString LoadResString(long id, long languageOffset = 0) {
    return StringTable::Tools().Text(id, languageOffset);
}

}  // namespace ravekqt
