#pragma once
// The word-list check of the tester: the lines of an ANSI text file that are not words of the
// engine's dictionary are written to a second file. Lines are read without their line end (CR LF
// or LF) and compared exactly; the lines written keep their bytes and end with CR LF.
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_set>

namespace ravektester {

// The result file of a word list: its path with the last three characters replaced by "out"
// (words.txt gives words.out). A file name of three characters or less keeps its name and gets
// ".out" added, so the result never lands outside the list's folder. Empty when the result would
// be the list itself.
QString WordListOutputPath(const QString& wordListPath);

// The dictionary words in the ANSI code page of the word lists; words the code page cannot
// write can match no line and are left out.
std::unordered_set<std::string> AnsiWords(const QStringList& words, int codePage);

struct WordListResult {
    uint64_t Lines = 0;
    uint64_t Missing = 0;  // lines written to the result file
    bool Stopped = false;
};

// Writes the lines of `input` that are not in `words` to `output` (created or replaced). Lines
// longer than any dictionary word are copied through without being held in memory, so a huge or
// binary file costs no more memory than a text one. `stop` ends the pass early. Raises
// AutomationError 53 (input missing), 75 (cannot read or write) with the file named.
WordListResult AnalyseWordList(const QString& input, const QString& output, const std::unordered_set<std::string>& words,
                               const std::atomic<bool>& stop);

}  // namespace ravektester
