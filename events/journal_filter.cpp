#include "events/journal_filter.h"

#include <algorithm>
#include <utility>

#include <glib.h>

#include "base/text_format.h"
#include "events/journal.h"

std::string journal_fold(std::string_view text)
{
    std::string folded;
    if (g_utf8_validate(text.data(), gssize(text.size()), nullptr)) {
        gchar* f = g_utf8_casefold(text.data(), gssize(text.size()));
        folded = f;
        g_free(f);
    } else {
        // Not UTF-8 (nothing the program makes): its ASCII letters still fold.
        folded.assign(text);
        for (char& c : folded)
            c = g_ascii_tolower(c);
    }
    // Device names are typed by people in either keyboard layout: a Cyrillic
    // "Т2" and a Latin "T2" look alike on the Controller's display. Each
    // Cyrillic letter with a Latin twin (by its capital) reads as that twin,
    // "ё" as "е" first.
    static constexpr std::pair<std::string_view, char> kTwins[] = {
        {"ё", 'e'}, {"а", 'a'}, {"в", 'b'}, {"е", 'e'}, {"к", 'k'}, {"м", 'm'}, {"н", 'h'},
        {"о", 'o'}, {"р", 'p'}, {"с", 'c'}, {"т", 't'}, {"у", 'y'}, {"х", 'x'},
    };
    std::string out;
    out.reserve(folded.size());
    for (size_t at = 0; at < folded.size();) {
        bool twin = false;
        // Every letter of the table is two bytes, starting 0xD0 or 0xD1.
        if (static_cast<unsigned char>(folded[at]) >= 0xD0 && at + 1 < folded.size())
            for (const auto& [cyrillic, latin] : kTwins)
                if (folded.compare(at, cyrillic.size(), cyrillic) == 0) {
                    out += latin;
                    at += cyrillic.size();
                    twin = true;
                    break;
                }
        if (!twin)
            out += folded[at++];
    }
    return out;
}

JournalSearchKey journal_search_key(std::string_view kind_text, std::string_view date, std::string_view event)
{
    JournalSearchKey key;
    key.kind = kind_text == journal_kind_text(1)   ? JournalKind::Beginning
               : kind_text == journal_kind_text(0) ? JournalKind::End
                                                   : JournalKind::Service;
    // A line break between the texts: no typed word holds one, so none is
    // found across two of them.
    std::string text;
    text.reserve(kind_text.size() + date.size() + event.size() + 2);
    text.append(kind_text).append("\n").append(date).append("\n").append(event);
    key.text = journal_fold(text);
    return key;
}

JournalFilter journal_filter(std::string_view typed, JournalKind kind)
{
    JournalFilter filter;
    filter.kind = kind;
    std::string folded = journal_fold(typed);
    const char* p = folded.c_str();
    const char* end = p + folded.size();
    auto space = [end](const char* at) { return g_unichar_isspace(g_utf8_get_char_validated(at, end - at)); };
    auto next = [end](const char* at) { return std::min<const char*>(g_utf8_next_char(at), end); };
    while (p < end) {
        while (p < end && space(p))
            p = next(p);
        const char* start = p;
        while (p < end && !space(p))
            p = next(p);
        if (p > start)
            filter.words.emplace_back(start, p);
    }
    return filter;
}

bool journal_filter_matches(const JournalFilter& filter, const JournalSearchKey& key)
{
    if (filter.kind != JournalKind::All && filter.kind != key.kind)
        return false;
    for (const std::string& word : filter.words)
        if (key.text.find(word) == std::string::npos)
            return false;
    return true;
}

std::string journal_filter_count_text(const JournalFilter& filter, int shown, int total)
{
    return filter.active() ? format("Показано %d из %d", shown, total) : std::string();
}

std::string journal_export_filter_text(int written, int shown)
{
    return format("В файл записаны все прочитанные записи журнала событий (%d), не только показанные фильтром (%d)\n",
                  written, shown);
}
