#include "events/spreadsheet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>

#include <glib.h>

#include "base/text_format.h"

const SpreadsheetStyle kJournalStyles[8] = {
    SpreadsheetStyle::Default,    SpreadsheetStyle::Sn,        SpreadsheetStyle::Head,   SpreadsheetStyle::TableHead,
    SpreadsheetStyle::ValueEvent, SpreadsheetStyle::ValueDate, SpreadsheetStyle::Value0, SpreadsheetStyle::Bold,
};
const SpreadsheetStyle kBatteryRecordStyles[9] = {
    SpreadsheetStyle::Default, SpreadsheetStyle::Sn,     SpreadsheetStyle::Head,
    SpreadsheetStyle::TableHead, SpreadsheetStyle::Value3, SpreadsheetStyle::Value2,
    SpreadsheetStyle::Value1,  SpreadsheetStyle::Value0, SpreadsheetStyle::Bold,
};

namespace {

struct StyleLines {
    const char* open;
    const char* alignment;
    const char* font;
    const char* number_format;
};

constexpr const char* kValueAlign = "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Center\" ss:WrapText=\"1\"/>";
constexpr const char* kValueFont = "<Font ss:FontName=\"Arial\" ss:Size=\"11\"/>";

// Indexed by SpreadsheetStyle.
const StyleLines kStyles[] = {
    {"<Style ss:ID=\"Default\" ss:Name=\"Normal\">", "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Left\"/>",
     "<Font ss:FontName=\"Arial\" x:CharSet=\"204\" x:Family=\"Swiss\" ss:Size=\"11\" ss:Color=\"#000000\"/>",
     "<NumberFormat/>"},
    {"<Style ss:ID=\"RARUR_sn\">", "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Center\"/>",
     "<Font ss:FontName=\"Arial\" ss:Italic=\"1\" ss:Size=\"11\"/>", "<NumberFormat/>"},
    {"<Style ss:ID=\"RARUR_head\">", "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Center\"/>",
     "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"24\"/>", "<NumberFormat/>"},
    {"<Style ss:ID=\"RARUR_tbl_head\">", kValueAlign, "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"11\"/>",
     "<NumberFormat/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_event\">",
     "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Left\" ss:WrapText=\"1\"/>", kValueFont,
     "<NumberFormat ss:Format=\"0.00\"/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_date\">", kValueAlign, kValueFont, "<NumberFormat ss:Format=\"0.0\"/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_3\">", kValueAlign, kValueFont, "<NumberFormat ss:Format=\"0.000\"/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_2\">", kValueAlign, kValueFont, "<NumberFormat ss:Format=\"0.00\"/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_1\">", kValueAlign, kValueFont, "<NumberFormat ss:Format=\"0.0\"/>"},
    {"<Style ss:ID=\"RARUR_tbl_val_0\">", kValueAlign, kValueFont, "<NumberFormat ss:Format=\"0\"/>"},
    {"<Style ss:ID=\"RARUR_bold\">", "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Right\"/>",
     "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"11\"/>", "<NumberFormat/>"},
};

void fail(SpreadsheetWriter& writer, int error)
{
    if (!writer.error)
        writer.error = error ? error : EIO;
}

// The process's file-creation mask. The kernel reports it without changing
// it; only a kernel that does not is asked the old way, by setting and
// restoring it.
mode_t current_umask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return mode_t(mask & 0777);
    }
    mode_t mask = umask(077);
    umask(mask);
    return mask;
}

}  // namespace

int spreadsheet_line(SpreadsheetWriter& writer, const char* format, ...)
{
    if (writer.error || !writer.out)
        return -1;
    va_list args;
    va_start(args, format);
    std::string line = vformat(format, args);
    va_end(args);
    int length = static_cast<int>(line.size());
    line += "\r\n";
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), writer.out) != line.size()) {
        fail(writer, errno);
        return -1;
    }
    return length;
}

void spreadsheet_prologue(SpreadsheetWriter& w, std::span<const SpreadsheetStyle> styles)
{
    spreadsheet_line(w, "<?xml version=\"1.0\"?>");
    spreadsheet_line(w, "<?mso-application progid=\"Excel.Sheet\"?>");
    spreadsheet_line(w, "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" ");
    spreadsheet_line(w, "xmlns:o=\"urn:schemas-microsoft-com:office:office\"");
    spreadsheet_line(w, "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"");
    spreadsheet_line(w, "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"");
    spreadsheet_line(w, "xmlns:html=\"http://www.w3.org/TR/REC-html40\">");
    spreadsheet_line(w, "<DocumentProperties xmlns=\"urn:schemas-microsoft-com:office:office\">");
    spreadsheet_line(w, "<Author>RARUR Service Program</Author>");
    spreadsheet_line(w, "<LastAuthor>RARUR Service Program</LastAuthor>");
    spreadsheet_line(w, "</DocumentProperties>");
    spreadsheet_line(w, "<Styles>");
    for (SpreadsheetStyle style : styles) {
        const StyleLines& s = kStyles[static_cast<int>(style)];
        spreadsheet_line(w, "%s", s.open);
        spreadsheet_line(w, "%s", s.alignment);
        spreadsheet_line(w, "<Borders/>");
        spreadsheet_line(w, "%s", s.font);
        spreadsheet_line(w, "<Interior/>");
        spreadsheet_line(w, "%s", s.number_format);
        spreadsheet_line(w, "<Protection/>");
        spreadsheet_line(w, "</Style>");
    }
    spreadsheet_line(w, "</Styles>");
}

std::string spreadsheet_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': case '\n': case '\r': out += c; break;
        default:
            // DEL is as much a control character as those below the blank;
            // a spreadsheet program shows it as a box or refuses the file.
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
                out += c;
        }
    }
    return out;
}

std::string spreadsheet_decimal(int64_t value, int decimals)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    std::string text = format("%s%llu", value < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / scale));
    if (decimals > 0)
        text += format(".%0*llu", decimals, static_cast<unsigned long long>(magnitude % scale));
    return text;
}

std::string spreadsheet_cell(const char* style, const char* type, std::string_view data, CellPlace place)
{
    std::string cell = "<Cell";
    if (place.index > 0)
        cell += format(" ss:Index=\"%d\"", place.index);
    if (place.merge_across > 0)
        cell += format(" ss:MergeAcross=\"%d\"", place.merge_across);
    if (place.merge_down > 0)
        cell += format(" ss:MergeDown=\"%d\"", place.merge_down);
    if (style)
        cell += format(" ss:StyleID=\"%s\"", style);
    cell += format("><Data ss:Type=\"%s\">", type);
    cell += spreadsheet_escape(data);
    cell += "</Data></Cell>";
    return cell;
}

std::string spreadsheet_dash_cell() { return spreadsheet_cell("RARUR_tbl_val_0", "String", "-"); }

void spreadsheet_title_row(SpreadsheetWriter& writer, int merge_across, std::string_view site)
{
    std::string title = site.empty() ? std::string("RARUR") : "RARUR '" + std::string(site) + "'";
    spreadsheet_line(writer, "<Row ss:AutoFitHeight=\"1\">%s</Row>",
                     spreadsheet_cell("RARUR_head", "String", title, {0, merge_across, 0}).c_str());
}

void spreadsheet_serial_row(SpreadsheetWriter& writer, int merge_across, uint32_t serial)
{
    spreadsheet_line(writer, "<Row ss:AutoFitHeight=\"1\">%s</Row>",
                     spreadsheet_cell("RARUR_sn", "String", format("Серийный номер: %u", serial),
                                      {0, merge_across, 0})
                         .c_str());
}

int spreadsheet_create(const char* utf8_name, SpreadsheetFile& file)
{
    file = SpreadsheetFile{};
    gchar* name = g_filename_from_utf8(utf8_name, -1, nullptr, nullptr, nullptr);
    if (!name || !*name) {
        g_free(name);
        return EINVAL;
    }
    file.path = name;
    g_free(name);
    // A link chosen by the user stays a link: what it points at is replaced.
    if (char* real = realpath(file.path.c_str(), nullptr)) {
        file.path = real;
        std::free(real);
    }
    struct stat existing {};
    bool exists = stat(file.path.c_str(), &existing) == 0;
    std::string temp;
    int fd;
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe has no contents to keep, and must stay what it is.
        fd = open(file.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        temp = file.path + ".XXXXXX";
        fd = mkstemp(temp.data());
        // mkstemp makes the file owner-only; the export is the user's
        // document and gets the mode any new file of his gets, or keeps the
        // one of the file it replaces.
        if (fd >= 0)
            fchmod(fd, exists ? existing.st_mode & 07777 : 0666 & ~current_umask());
        if (fd < 0 && exists && (errno == EACCES || errno == EPERM)) {
            // A folder the user may not write to can still hold a file he
            // may: it can only be written in place. A failure part-way then
            // leaves it incomplete, which the close reports.
            temp.clear();
            fd = open(file.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        }
    }
    if (fd < 0)
        return errno;
    FILE* out = fdopen(fd, "wb");
    if (!out) {
        int error = errno;
        close(fd);
        if (!temp.empty())
            unlink(temp.c_str());
        return error;
    }
    file.temp_path = temp;
    file.writer.out = out;
    return 0;
}

int spreadsheet_close(SpreadsheetFile& file)
{
    SpreadsheetWriter& w = file.writer;
    if (!w.out)
        return w.error ? w.error : EBADF;
    errno = 0;
    if (std::fflush(w.out) != 0)
        fail(w, errno);
    if (!w.error && fsync(fileno(w.out)) != 0 && errno != EINVAL)
        fail(w, errno);
    errno = 0;
    if (std::fclose(w.out) != 0)
        fail(w, errno);
    w.out = nullptr;
    if (file.temp_path.empty())
        return w.error;
    if (!w.error && std::rename(file.temp_path.c_str(), file.path.c_str()) != 0)
        fail(w, errno);
    if (w.error)
        unlink(file.temp_path.c_str());
    return w.error;
}
