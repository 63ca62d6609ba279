// Searching the journal list: which rows stay in view while the user types
// into the search box or picks a kind. Pure. The rule runs for every row on
// every keystroke, so a row's text is folded once, when the row comes in, and
// a keystroke only folds what was typed and looks for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The kinds the filter offers, in the order of JournalKindListStore's rows.
enum class JournalKind { All, Beginning, End, Service };

// Lower case without regard to the script, "ё" read as "е", and each
// Cyrillic letter that looks like a Latin one read as that one ("Т2" as
// "T2"), so that what a user types finds the text however either was written
// and in whichever keyboard layout.
std::string journal_fold(std::string_view text);

// What a row is searched in: its kind text, date and event text, folded.
struct JournalSearchKey {
    std::string text;
    JournalKind kind = JournalKind::Service;
};
// kind_text is the row's kind column: "Начало", "Завершение", or empty for an
// event that is no state's beginning or end.
JournalSearchKey journal_search_key(std::string_view kind_text, std::string_view date, std::string_view event);

// What the user asked for: every word typed must be found in the row (in any
// of its texts, in any order), and the row must be of the kind chosen.
struct JournalFilter {
    std::vector<std::string> words;   // folded
    JournalKind kind = JournalKind::All;
    bool active() const { return !words.empty() || kind != JournalKind::All; }
};
JournalFilter journal_filter(std::string_view typed, JournalKind kind);
bool journal_filter_matches(const JournalFilter& filter, const JournalSearchKey& key);

// "Показано N из M" under a filter; "" without one.
std::string journal_filter_count_text(const JournalFilter& filter, int shown, int total);
// The log line after an export made while the list was filtered: the file
// holds every row read, not only those in view.
std::string journal_export_filter_text(int written, int shown);
