#include "events/journal_filter.h"

#include <algorithm>

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
    static constexpr std::string_view kYo = "ё", kYe = "е";
    for (size_t at = folded.find(kYo); at != std::string::npos; at = folded.find(kYo, at + kYe.size()))
        folded.replace(at, kYo.size(), kYe);
    return folded;
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
